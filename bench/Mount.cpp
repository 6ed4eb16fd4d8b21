#include "Mount.h"

#include "Datasets.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

namespace bench {
namespace {

bool isMounted(const std::string& point)
{
    std::ifstream mounts("/proc/mounts");
    std::string device, where, rest;
    while (mounts >> device >> where && std::getline(mounts, rest))
        if (where == point)
            return true;
    return false;
}

} // namespace

std::string besideThisProgram(const std::string& name)
{
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path(self, length > 0 ? static_cast<std::size_t>(length) : 0);
    return path.substr(0, path.rfind('/') + 1) + name;
}

std::string mcaProgram()
{
    return besideThisProgram("mca");
}

std::string mountsUnavailable()
{
    if (geteuid() != 0)
        return "the mount rows need root (the kernel's squashfs mount, dropping page caches)";
    if (access("/dev/fuse", R_OK | W_OK) != 0)
        return "no /dev/fuse";
    if (!runQuietly("command -v squashfuse") || !runQuietly("command -v mksquashfs") || !runQuietly("command -v fusermount3"))
        return "squashfuse, mksquashfs or fusermount3 is missing (scripts/setup.sh bench)";
    if (!runQuietly(quoted(mcaProgram()) + " mount --help"))
        return "this mca has no mount (libfuse 3 missing at build time)";
    return "";
}

void dropPageCache(const std::string& path)
{
    const int file = open(path.c_str(), O_RDONLY);
    if (file < 0)
        return;
    fdatasync(file);
    posix_fadvise(file, 0, 0, POSIX_FADV_DONTNEED);
    close(file);
}

void fillPageCache(const std::string& path)
{
    const int file = open(path.c_str(), O_RDONLY);
    if (file < 0)
        return;
    static char piece[1 << 20];
    while (read(file, piece, sizeof piece) > 0) {
    }
    close(file);
}

Mount::Mount(MountKind kind, const std::string& image, const std::string& workDirectory, bool imageCached) : kind(kind)
{
    static int made = 0;
    point = workDirectory + "/mount-" + std::to_string(++made);
    mkdir(point.c_str(), 0755);
    dropPageCache(image);
    if (imageCached)
        fillPageCache(image);
    std::string command;
    switch (kind) {
    case MountKind::Ours:
        command = quoted(mcaProgram()) + " mount " + quoted(image) + " " + quoted(point);
        break;
    case MountKind::Squashfuse:
        command = "squashfuse " + quoted(image) + " " + quoted(point);
        break;
    case MountKind::Kernel:
        command = "mount -t squashfs -o loop,ro " + quoted(image) + " " + quoted(point);
        break;
    case MountKind::Httpfs:
        command = "httpfs2 -c /dev/null " + quoted(image) + " " + quoted(point);
        break;
    }
    // All three return once the mount stands; the wait only guards against a slow start.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    if (runQuietly(command))
        while (!isMounted(point) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!isMounted(point)) {
        rmdir(point.c_str());
        throw std::runtime_error("cannot mount " + image + " (" + command + ")");
    }
}

Mount::~Mount()
{
    const char* unmount = kind == MountKind::Kernel ? "umount " : kind == MountKind::Httpfs ? "fusermount -u " : "fusermount3 -u ";
    runQuietly(unmount + quoted(point));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (isMounted(point) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    rmdir(point.c_str());
}

bool readSequentially(const Dataset& d, const std::string& point)
{
    std::vector<std::uint8_t> buffer(128u << 10);
    std::uint64_t total = 0;
    for (const std::string& name : d.names) {
        const int file = open((point + "/" + name).c_str(), O_RDONLY);
        for (ssize_t got; (got = read(file, buffer.data(), buffer.size())) > 0;)
            total += static_cast<std::uint64_t>(got);
        close(file);
    }
    return total == d.bytes.size();
}

bool readRandomly(const Dataset& d, const std::string& point, int reads, int threads)
{
    std::atomic<bool> good{true};
    const auto share = [&](int first) {
        std::vector<int> files(d.names.size(), -1);
        std::vector<std::uint8_t> buffer(readSize);
        for (int r = first; r < reads; r += threads) {
            const std::uint64_t offset = d.randomOffsets[static_cast<std::size_t>(r)];
            const std::size_t i = d.fileAt(offset);
            if (files[i] < 0)
                files[i] = open((point + "/" + d.names[i]).c_str(), O_RDONLY);
            const std::uint64_t within = offset - d.starts[i];
            const auto wanted = static_cast<ssize_t>(std::min<std::uint64_t>(readSize, d.sizes[i] - within));
            if (pread(files[i], buffer.data(), readSize, static_cast<off_t>(within)) != wanted)
                good = false;
        }
        for (const int file : files)
            if (file >= 0)
                close(file);
    };
    std::vector<std::thread> others;
    for (int t = 1; t < threads; ++t)
        others.emplace_back(share, t);
    share(0);
    for (std::thread& other : others)
        other.join();
    return good;
}

} // namespace bench
