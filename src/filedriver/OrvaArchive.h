#pragma once
// One loaded archive file (".mca"): its 60-byte header, member table, properties and its blocks
// (ArchiveBlocks), checked when it is loaded and never changed afterwards. Created by the ArchiveManager,
// which shares its ownership with the readers of its blocks (BlockReader: member cursors, the parallel
// readers, verify); while any reader is attached they share one open source of its stored bytes.
//
// The rules that users see: a reader reads the file as it was when it attached; once the last reader
// has detached, the next one opens the file afresh (and the cache's blocks of the archive are
// forgotten); a file changed since the index was loaded is read only while its index is the same; a
// damaged block fails every time it is read.
//
// The layout on disk is ArchiveFormat.h's. The index is read through an IndexStream over the archive's
// ArchiveSource.
//
// The constructor throws orva::exception for a malformed archive (after the trace line): Damaged where a
// check of the header or a table fails, Unsupported for a file of another format or version or an
// unknown codec; and the source's failure when the file cannot be opened. Nothing is left behind.

#include "filedriver/ArchiveBlocks.h"
#include "filedriver/ArchiveFormat.h"
#include "filedriver/ArchiveInfo.h"
#include "filedriver/FilePath.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace filedriver {

class ArchiveManager;
class ArchiveSource;
class IndexStream;

class OrvaArchive {
public:
    OrvaArchive(const FilePath& path, ArchiveManager* manager);
    virtual ~OrvaArchive();
    OrvaArchive(const OrvaArchive&) = delete;
    OrvaArchive& operator=(const OrvaArchive&) = delete;

    // A member named exactly `name` (letter case counts).
    bool hasMember(const FilePath& name) const;
    // The index of the first member in table order named exactly `name`, or fileCount.
    std::uint32_t findMember(const FilePath& name) const;

    // Reader bookkeeping (BlockReader): the first attached reader opens the archive's source, and when
    // the last detaches the archive's cached blocks are invalidated and the source closed. A file
    // rewritten in between is read with this index as long as its index is the same; otherwise
    // attaching throws orva::exception "<path> : file changed since its index was loaded", kind Changed
    // (as it throws when the file cannot be opened or no longer loads). Takes readersMutex, then perhaps
    // the manager's lock.
    void attachReader();
    void detachReader();
    // Runs `action` under the archive's lock when no reader is attached, so that none attaches while it
    // runs; its answer, or false (not run) while a reader is attached. `action` may take the manager's
    // lock (the order ArchiveManager.h states), never another archive's.
    template <class Action>
    bool whileNoReader(Action action)
    {
        std::lock_guard<std::mutex> lock(readersMutex);
        return readers == 0 && action();
    }
    bool hasReaders();
    // ArchiveBlocks::willNeed, under the archive's lock, so that the source stays while it is told.
    void willNeed(std::uint64_t offset, std::uint64_t length);
    bool isSourceOpen() const { return storedBlocks.isOpen(); }

    const ArchiveHeader& archiveHeader() const { return header; }
    // Every entry in table order. The names are decoded from the stored table on the first call, so
    // that an archive opened only to read members by name never pays for them.
    const std::vector<FileEntry>& members() const;
    // Entry `index`'s size and offset, its name not decoded.
    const FileEntry& entry(std::uint32_t index) const { return fileEntries[index]; }
    ArchiveBlocks& blocks() { return storedBlocks; }
    const ArchiveBlocks& blocks() const { return storedBlocks; }
    const std::map<std::wstring, std::wstring>& propertyTable() const { return properties; }
    const FilePath& archivePath() const { return path; }

    // The failure of an archive found changed on disk since its index was loaded, thrown.
    [[noreturn]] static void failChanged(const FilePath& path);

    // The index as `source` holds it now, for comparing with a loaded one: no manager keys its blocks.
    OrvaArchive(ArchiveSource& source, const FilePath& path);

private:
    void loadIndexFrom(ArchiveSource& source);
    void loadIndex(IndexStream& file);
    void loadHeader(IndexStream& file);
    void readSizes(IndexStream& file);
    void readNames(IndexStream& file);
    bool readNamesAtOnce(IndexStream& file);
    void indexNames();
    void readBlockSizes(IndexStream& file);
    // Throws failChanged unless `source` holds the file whose index this is, or one of the same index.
    void checkUnchangedIndex(ArchiveSource& source);
    std::u16string_view storedName(std::uint32_t entry) const;

    ArchiveHeader header{};
    // Sizes and offsets from the load; names filled in by the first members().
    mutable std::vector<FileEntry> fileEntries;
    mutable std::once_flag namesDecoded;
    // The name table as stored, each name's UTF-16 units followed by its 0. Entry i's name starts at
    // nameStarts[i]; nameStarts[N] is the table's end.
    std::u16string nameUnits;
    std::vector<std::uint32_t> nameStarts;
    ArchiveBlocks storedBlocks;
    FilePath path;
    std::map<std::wstring, std::wstring> properties;
    ArchiveManager* manager;
    // Guards `readers`, the opening and closing of the blocks' source, and loadedVersion. Taken before
    // the manager's lock, never after it (ArchiveManager.h). While a reader is attached the source stays
    // as it is and its readers read it without the lock.
    std::mutex readersMutex;
    std::size_t readers = 0;
    // The version (ArchiveSource::version) of the file whose index was last loaded or compared; empty
    // when the source could not tell, and then every first reader compares.
    std::string loadedVersion;
    // The source the index was loaded from, kept for the first reader where opening another would cost
    // a request (ArchiveSource::keepAfterLoad); guarded by readersMutex.
    std::unique_ptr<ArchiveSource> loadSource;
    // Open addressing over the stored names: a power-of-two table of entry number + 1 (0 empty) and the
    // name's hash, holding the first entry of each name. Built at load, never changed afterwards.
    struct NameSlot {
        std::uint32_t entry;
        std::uint32_t hash;
    };
    std::vector<NameSlot> nameSlots;
};

} // namespace filedriver
