#pragma once
// A file system mounted for the benchmark, unmounted again at destruction: the archive through
// "mca mount", or a squashfs image through squashfuse or the kernel's own driver (a loop device).
// Mounting needs root and /dev/fuse (mountsUnavailable says what is missing); a failed mount throws.

#include <stdexcept>
#include <string>

namespace bench {

enum class MountKind { Ours, Squashfuse, Kernel };

// The mca program built beside this benchmark.
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

} // namespace bench
