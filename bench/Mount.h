#pragma once
// A file system mounted for the benchmark, unmounted again at destruction: the archive (a path or a
// URL) through "mca mount", a squashfs image through squashfuse or the kernel's own driver (a loop
// device), or a URL through httpfs2, which shows the file it names in the mount.
// Mounting needs root and /dev/fuse (mountsUnavailable says what is missing); a failed mount throws.

#include <stdexcept>
#include <string>

namespace bench {

enum class MountKind { Ours, Squashfuse, Kernel, Httpfs };

// A program built beside this benchmark, and mca.
std::string besideThisProgram(const std::string& name);
std::string mcaProgram();

// Empty when this machine can make the benchmark's mounts, else why not.
std::string mountsUnavailable();

class Mount {
public:
    // Mounts `image` on a fresh directory below `workDirectory`, with the page cache of `image`
    // dropped first, or with every page of it read first when `imageCached`; the mount itself starts
    // with nothing cached.
    Mount(MountKind kind, const std::string& image, const std::string& workDirectory, bool imageCached = false);
    ~Mount();
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;

    // The path of `name` inside the mount.
    std::string file(const std::string& name) const { return point + "/" + name; }

private:
    MountKind kind;
    std::string point;
};

// Drops the page cache of one file (it must have been written back).
void dropPageCache(const std::string& path);
// Reads one file whole, so that its pages are cached.
void fillPageCache(const std::string& path);

struct Dataset;

// Reading patterns over a data set's files below `point`; whether every read gave what it should.
// Every file read whole in order, in 128 KiB reads, each opened and closed.
bool readSequentially(const Dataset& d, const std::string& point);
// The first `reads` of the data set's random 4 KiB preads (less at a file's end), shared out in turn
// among `threads` threads, each opening a file at its first read of it and keeping it open.
bool readRandomly(const Dataset& d, const std::string& point, int reads, int threads = 1);

} // namespace bench
