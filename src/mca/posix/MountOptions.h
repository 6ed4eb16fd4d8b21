#pragma once
// The options of "mca mount -o": the FUSE and generic mount options that make sense for a read-only
// file system, which go to libfuse and the kernel, and uid=, gid= and umask=, which set the owner and
// the modes the mount shows (as libfuse's high-level library has them). Anything that would make the
// mount writable, or that only libfuse itself may set, is refused, as is any option not listed.

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace mca {

struct MountOptionList {
    // Comma-separated, for libfuse after the mount's own ("ro,default_permissions,..."); may be empty.
    std::string forFuse;
    std::optional<uid_t> uid;
    std::optional<gid_t> gid;
    // Bits taken from the modes 0444 (files) and 0555 (the directory).
    std::optional<mode_t> umask;
    // allow_root: libfuse refuses other users when they open a file, which the server must then see.
    bool allowRoot = false;
};

// Reads every -o argument, each a comma-separated list (a comma inside a value written "\,"). Empty,
// and `options` filled, when every option is accepted; else what is wrong, naming the option.
std::string parseMountOptions(const std::vector<std::string>& arguments, MountOptionList& options);
// The same for one -o argument alone, for the command line's check.
std::string mountOptionProblem(const std::string& argument);

} // namespace mca
