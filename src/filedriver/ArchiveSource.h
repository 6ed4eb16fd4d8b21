#pragma once
// Where an archive's stored bytes come from: the header and tables for the loader, the stored blocks
// for its readers. The archive file on disk is one (LocalArchiveSource); every layer above reads an
// archive through this interface alone and never learns which source it has.
//
// An archive opens a source to load its index, and again when readers come after all readers had gone
// (OrvaArchive); one opened source serves all readers of the archive at once. Since a source may be
// far away, callers ask for what they need in as few calls as they can: a run of adjacent stored blocks
// in one readAt, the index in a few large ones (IndexStream).

#include "filedriver/FilePath.h"

#include <cstdint>
#include <memory>
#include <string>

namespace filedriver {

class ArchiveSource {
public:
    virtual ~ArchiveSource() = default;

    // The file's length in bytes, as opened.
    virtual std::uint64_t size() const = 0;
    // Up to `length` bytes at `offset` into `buffer`; the count read, fewer only at the file's end or
    // when the bytes cannot be had (then changed() may say why). A source that knows why (a remote one)
    // throws orva::exception of that kind instead. Safe beside other readAt calls of other threads.
    virtual std::uint32_t readAt(std::uint64_t offset, void* buffer, std::uint32_t length) = 0;
    // The `length` bytes at `offset` are about to be read: a hint that may fetch them ahead. Nothing
    // fails, nothing is read into the caller's memory.
    virtual void willNeed(std::uint64_t offset, std::uint64_t length) = 0;
    // What tells the version of the file opened from other versions: two sources of the same version
    // read the same bytes. Empty when the source cannot tell.
    virtual std::string version() const = 0;
    // True once a read has found the file no longer the version the source was opened for; the reader
    // then fails as for an archive changed on disk.
    virtual bool changed() const { return false; }
    // True while the archive's index is read: those reads are the loader's, and tell nothing of how the
    // file will be read.
    virtual void readingIndex(bool) {}
    // True where opening the file again costs more than keeping it open (a request to a server): the
    // archive then keeps the source its index came from for its first reader.
    virtual bool keepAfterLoad() const { return false; }
};

// The source of the archive file `path` (an archive part, FilePath.h): a RemoteArchiveSource for a
// URL, else the file on disk. `loadedVersion` is the version
// whose index the archive holds, empty while the index is loaded for the first time: a source that
// checks versions on every read may take it as the version it opens. Throws orva::exception when the
// file cannot be opened (NotFound, System; for a URL also Changed, Unsupported, Other).
std::unique_ptr<ArchiveSource> openArchiveSource(const FilePath& path, const std::string& loadedVersion);

} // namespace filedriver
