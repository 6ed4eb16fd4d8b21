// POSIX half of the file-system questions: stat, lstat, mkdir, unlink and a small file read whole, with
// UTF-8 file names. A backslash separates here too, so paths reach the system normalised.
#include "filedriver/FileSystem.h"

#include "filedriver/posix/Retried.h"
#include "orva/WideText.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace filedriver {
namespace {

// -1 when there is nothing at `path` (links followed), else whether it is a directory.
int isDirectory(const FilePath& path)
{
    struct stat status;
    if (stat(orva::toNative(path.normalised()).c_str(), &status) != 0)
        return -1;
    return S_ISDIR(status.st_mode) ? 1 : 0;
}

} // namespace

bool fileExists(const FilePath& path)
{
    return isDirectory(path) == 0;
}

bool directoryExists(const FilePath& path)
{
    return isDirectory(path) == 1;
}

bool entryExists(const FilePath& path)
{
    struct stat status;
    return lstat(orva::toNative(path.normalised()).c_str(), &status) == 0;
}

FileKind fileKind(const FilePath& path)
{
    struct stat status;
    if (stat(orva::toNative(path.normalised()).c_str(), &status) != 0)
        return FileKind::missing;
    if (S_ISREG(status.st_mode))
        return FileKind::regular;
    return S_ISDIR(status.st_mode) ? FileKind::directory : FileKind::stream;
}

bool fileStamp(const FilePath& path, FileStamp& stamp)
{
    struct stat status;
    if (stat(orva::toNative(path.normalised()).c_str(), &status) != 0)
        return false;
    stamp.size = static_cast<std::uint64_t>(status.st_size);
    stamp.written = static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    stamp.device = static_cast<std::uint64_t>(status.st_dev);
    stamp.identity = static_cast<std::uint64_t>(status.st_ino);
    return true;
}

bool listDirectory(const FilePath& path, std::vector<DirectoryEntry>& entries)
{
    const std::string directory = orva::toNative(path.normalised());
    DIR* stream = opendir(directory.c_str());
    if (!stream)
        return false;
    entries.clear();
    errno = 0;
    while (const dirent* entry = readdir(stream)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat status;
        EntryKind kind = EntryKind::other;
        if (lstat((directory + '/' + name).c_str(), &status) == 0)
            kind = S_ISREG(status.st_mode) ? EntryKind::regular
                   : S_ISDIR(status.st_mode) ? EntryKind::directory
                                             : EntryKind::other;
        entries.push_back({orva::fromNative(name), kind});
        errno = 0;
    }
    const int error = errno;
    closedir(stream);
    errno = error;
    return error == 0;
}

bool sameFile(const FilePath& a, const FilePath& b)
{
    struct stat first, second;
    return stat(orva::toNative(a.normalised()).c_str(), &first) == 0
           && stat(orva::toNative(b.normalised()).c_str(), &second) == 0 && first.st_dev == second.st_dev
           && first.st_ino == second.st_ino;
}

bool createDirectory(const FilePath& path)
{
    return mkdir(orva::toNative(path.normalised()).c_str(), 0777) == 0;
}

bool deleteFile(const FilePath& path)
{
    return unlink(orva::toNative(path.normalised()).c_str()) == 0;
}

bool readSmallFile(const FilePath& path, std::size_t limit, std::string& bytes)
{
    const int file = retried([&] { return open(orva::toNative(path.normalised()).c_str(), O_RDONLY | O_CLOEXEC); });
    if (file < 0)
        return false;
    struct stat status;
    bool ok = fstat(file, &status) == 0 && S_ISREG(status.st_mode) && std::uint64_t(status.st_size) <= limit;
    if (ok) {
        bytes.resize(static_cast<std::size_t>(status.st_size));
        std::size_t done = 0;
        while (ok && done < bytes.size()) {
            const ssize_t got = retried([&] { return read(file, bytes.data() + done, bytes.size() - done); });
            ok = got >= 0;
            if (got > 0)
                done += static_cast<std::size_t>(got);
            else
                bytes.resize(done);
        }
    }
    close(file);
    return ok;
}

} // namespace filedriver
