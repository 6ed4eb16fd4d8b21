#pragma once
// mca mount: an archive as a read-only FUSE file system (Linux, where libfuse 3 is found).
//
// The root directory holds one regular file per member, named as stored (UTF-8), of the member's size,
// mode 0444, with the archive file's times. Names that cannot be file names here (empty, ".", "..",
// holding '/', '\' or NUL, not UTF-8, longer than 255 bytes) and later duplicates (the first in table
// order wins, as the library's lookup does) are left out, each reported once on standard error.
//
// The mount keeps the archive file it loaded open and reads that one until it is unmounted, also once
// the path is deleted or names another file. Each open file reads through cursors of its own (one per
// concurrent read), through the library's shared block cache; the FUSE loop is multi-threaded, and the
// mount widens the kernel's read-ahead on its files (MountReadAhead.h) so that a sequential reader's
// requests come large and several at once. A read that does not continue a run gets the other pages of
// its blocks stored into the kernel's page cache as well (PageCacheFeeder.h). A read touching a damaged
// block fails with EIO (logged once per member and block). Anything that would write fails with EROFS.

#include "filedriver/FilePath.h"
#include "posix/MountOptions.h"

#include <string>
#include <vector>

namespace mca {

struct MountOptions {
    filedriver::FilePath archive;
    std::string mountPoint;
    // Serve in this process until unmounted (fusermount3 -u, SIGINT, SIGTERM) instead of returning
    // once the mount is ready and serving in the background.
    bool foreground = false;
    // The -o arguments, each a comma-separated list (MountOptions.h).
    std::vector<std::string> fuseOptions;
};

// The explanation that "mca mount --help" ends with.
extern const char* const mountHelp;

// Why a member name cannot be a file name of the mount; null when it can.
const char* unmountableName(const std::wstring& name);

// Loads the archive and mounts it. Throws orva::exception for an archive that does not load and
// mca::Failure for a refused option or when the mount cannot be made; returns the exit status otherwise (0 after a clean
// unmount, or once the background mount is ready).
int mountArchive(const MountOptions& options);

} // namespace mca
