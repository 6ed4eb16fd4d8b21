#pragma once
// The library's path type and the free functions that test and create paths on disk.
//
// A FilePath is a wide string: paths compare as exact strings, letter case included, and nothing is
// normalised behind the caller's back. Both '\' and '/' separate components wherever a path is parsed;
// operations that write a separator write the platform's own ('\' on Windows, '/' on Linux).
// A path such as D:\maps\europe.mca\roads.dat runs through the archive D:\maps\europe.mca.
// None of these operations throws; failures answer false.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace filedriver {

// The two separators, the one that is written first.
extern const wchar_t Separators[3];

class FilePath : public std::wstring {
public:
    FilePath() = default;
    FilePath(const std::wstring& text) : std::wstring(text) {}
    FilePath(std::wstring&& text) : std::wstring(std::move(text)) {}
    FilePath(const wchar_t* text) : std::wstring(text) {}
    FilePath(const FilePath&) = default;
    FilePath(FilePath&&) = default;
    FilePath& operator=(const FilePath&) = default;
    FilePath& operator=(FilePath&&) = default;
    virtual ~FilePath() = default;

    bool operator==(const FilePath& other) const { return compare(other) == 0; }

    // Without the trailing run of characters that occur in `set`.
    FilePath trimmedRight(const FilePath& set) const;
    // The part after the last separator (all of it without one); `withoutExtension` cuts it at its last '.'.
    FilePath fileName(bool withoutExtension) const;
    // Every separator turned into the written one.
    FilePath normalised() const;
    // Trailing spaces dropped, then one separator ensured (`add`) or one trailing separator removed.
    FilePath withTrailingSeparator(bool add) const;
    // Up to and including the last separator; "." and a separator when there is none.
    FilePath directoryPart() const;
};

bool isSeparator(wchar_t c);

// True when `path` exists and is a directory (`directory`) or exists and is not one.
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

// True when the path runs through an archive file: the first ".mca" that ends a component (followed by
// a separator or the end of the text) is not the very end of the path. ".MCA" is looked for the same way
// only where ".mca" occurs nowhere in the text. So x.mca.d\file is a plain path, and
// maps.mca.old\europe.mca\roads.dat runs through maps.mca.old\europe.mca.
bool isArchivePath(const FilePath& path);
// The archive file that `path` runs through (up to and including that extension), else empty.
FilePath archivePart(const FilePath& path);
// pathExists for ordinary paths; a path through an archive asks the archive for the member.
bool existsAware(const FilePath& path, bool directory);

} // namespace filedriver
