#pragma once
// Questions to the file system about paths, and the few changes the library makes to it: existence and
// kinds, directory listings, stamps, creating directories, deleting files, a small file read whole.
// None of these operations throws; failures answer false (or FileKind::missing).

#include "filedriver/FilePath.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace filedriver {

// True when `path` exists and is not a directory (a file, a device, ...), links followed.
bool fileExists(const FilePath& path);
// True when `path` exists and is a directory, links followed.
bool directoryExists(const FilePath& path);
// The earlier spelling: directoryExists when `directory`, else fileExists.
bool pathExists(const FilePath& path, bool directory);
// True when anything at all has the name `path`: a file, a directory, a link, dangling or not (it is not
// followed; on Windows any reparse point), or any other entry.
bool entryExists(const FilePath& path);
// What `path` names, links followed. A stream (a pipe, FIFO, character device or socket) gives bytes
// until its end but no size ahead of reading them.
enum class FileKind { missing, regular, directory, stream };
FileKind fileKind(const FilePath& path);
// One name in a directory and what it names, a link not followed: a link (on Windows any reparse
// point) is `other`, as are pipes, devices and sockets.
enum class EntryKind { regular, directory, other };
struct DirectoryEntry {
    std::wstring name;
    EntryKind kind;
};
// The entries of the directory `path`, without "." and "..", in the system's order; false (errno or
// the last error kept for the caller) when it cannot be read.
bool listDirectory(const FilePath& path, std::vector<DirectoryEntry>& entries);
// True when `a` and `b` both exist and are the same file, by whatever names (links followed).
bool sameFile(const FilePath& a, const FilePath& b);
// Creates one directory whose parent exists; true on success.
bool createDirectory(const FilePath& path);
// True when `path` is a directory afterwards; missing parents are created first.
bool createDirectories(const FilePath& path);
// Removes the file (not a directory) at `path`; true on success.
bool deleteFile(const FilePath& path);
// The whole of the regular file at `path` in `bytes`, for small files read at once (a settings file):
// false when it cannot be opened or read, or is no regular file (a directory, a pipe, a device), or
// holds more than `limit` bytes. A file that shrinks while it is read gives what it still holds.
bool readSmallFile(const FilePath& path, std::size_t limit, std::string& bytes);
// What tells one version of a file from another: its size, when it was last written and, where the
// system says, which file it is. A file replaced or rewritten since an earlier stamp gets another.
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t written = 0; // in the system's own units
    std::uint64_t device = 0;
    std::uint64_t identity = 0;
    bool operator==(const FileStamp&) const = default;
};
// The stamp of the file at `path`; false when it cannot be examined.
bool fileStamp(const FilePath& path, FileStamp& stamp);

} // namespace filedriver
