#pragma once
// One loaded archive file (".mca"): its 60-byte header, member table, properties and stored block
// table, checked when it is loaded and never changed afterwards. Created by the ArchiveManager, which
// shares its ownership with the cursors reading it; they share the archive's data file while any is
// attached.
//
// Blocks of a zlib archive (compressionType 1) are decoded into the manager's block cache and shared
// by all cursors. Blocks of a stored archive (compressionType 0) are read beside the cache, straight
// from the data file into each cursor's own buffer: there is nothing to decode, the system caches the
// file, and a cache copy would only cost a copy more. The rules that users see hold for both: a
// cursor reads the file it attached to; once the last cursor has detached, the next one reads the
// file afresh (for zlib blocks: the cached blocks are invalidated); a file changed since the index was
// loaded is read only while its index is the same; a damaged block fails every time it is read.
//
// The layout on disk is ArchiveFormat.h's.
//
// The constructor throws orva::exception for a malformed archive (after the trace line), or the file
// driver's exception when the file cannot be opened. Nothing is left behind either way.

#include "filedriver/ArchiveFormat.h"
#include "filedriver/ArchiveInfo.h"
#include "filedriver/BlockCompression.h"
#include "filedriver/FileDriver.h"
#include "filedriver/FilePath.h"
#include "synchronisation/Mutex.h"
#include "synchronisation/ScopedLock.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace filedriver {

class ArchiveCursor;
class ArchiveManager;

struct StoredBlock {
    std::uint32_t storedSize;
    std::uint32_t storedOffset; // from blocksOffset
};

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

    // Cursor bookkeeping: the first attached cursor opens the data file, and when the last detaches the
    // archive's cached blocks are invalidated and the file is closed. A file rewritten in between is
    // read with this index as long as its index is the same; otherwise attaching throws
    // orva::exception "<path> : file changed since its index was loaded" (as it throws when the file
    // cannot be opened or no longer loads).
    void attachCursor(ArchiveCursor* cursor);
    void detachCursor(ArchiveCursor* cursor);
    // Runs `action` under the archive's lock when no cursor is attached, so that none attaches while it
    // runs; its answer, or false (not run) while a cursor is attached. `action` may take the manager's
    // lock (the order ArchiveManager.h states), never another archive's.
    template <class Action>
    bool whileNoCursor(Action action)
    {
        synchronisation::ScopedLock lock(&cursorsMutex);
        return cursors.empty() && action();
    }

    const ArchiveHeader& archiveHeader() const { return header; }
    // Every entry in table order. The names are decoded from the stored table on the first call, so
    // that an archive opened only to read members by name never pays for them.
    const std::vector<FileEntry>& members() const;
    const std::vector<StoredBlock>& blocks() const { return storedBlocks; }
    const std::map<std::wstring, std::wstring>& propertyTable() const { return properties; }
    const FilePath& archivePath() const { return path; }
    bool isDataFileOpen() const { return sharedFile != nullptr; }
    bool hasCursors();

    // A hint of which blocks cursors have entered into the block cache since the archive's cursors last
    // all went, so that readers in order skip the cache's lock where it holds none of their blocks.
    // Stale either way it costs a lock or a decoding, never a wrong byte. Lock-free.
    void noteCached(std::uint32_t block);
    bool mayBeCached(std::uint32_t first, std::uint32_t count) const;

private:
    friend class ArchiveCursor;

    // The index as `file`, positioned at its start, holds it now: for comparing with this one.
    OrvaArchive(FileDriver& file, const FilePath& path);
    // Opens the file, its stamp taken only if the file at the path stayed the same around the opening,
    // so that the stamp is the opened file's.
    std::unique_ptr<FileDriver> openStamped(FileStamp& stamp, bool& stampedNow) const;
    void loadIndex(FileDriver& file);
    void loadHeader(FileDriver& file);
    void readNames(FileDriver& file);
    bool readNamesAtOnce(FileDriver& file);
    void indexNames();
    void checkUnchangedLayout(bool stampedNow, const FileStamp& now);
    std::u16string_view storedName(std::uint32_t entry) const;

    ArchiveHeader header{};
    std::unique_ptr<FileDriver> sharedFile;
    // Sizes and offsets from the load; names filled in by the first members().
    mutable std::vector<FileEntry> fileEntries;
    mutable std::once_flag namesDecoded;
    // The name table as stored, each name's UTF-16 units followed by its 0. Entry i's name starts at
    // nameStarts[i]; nameStarts[N] is the table's end.
    std::u16string nameUnits;
    std::vector<std::uint32_t> nameStarts;
    std::vector<StoredBlock> storedBlocks;
    // One bit per block, for noteCached; cleared when the last cursor detaches.
    std::unique_ptr<std::atomic<std::uint8_t>[]> cachedHint;
    std::set<ArchiveCursor*> cursors;
    FilePath path;
    // The opened file as it was when its index was last loaded or compared, if that could be told (the
    // file at the path stayed the same while it was opened); without it, every first cursor compares.
    FileStamp loadedStamp;
    bool stamped = false;
    std::map<std::wstring, std::wstring> properties;
    ArchiveManager* manager;
    // Guards cursors, sharedFile and the stamp: cursors of several threads attach and detach. Taken
    // before the manager's lock, never after it (ArchiveManager.h). While a cursor is attached,
    // sharedFile stays as it is and its cursors read it without the lock.
    synchronisation::Mutex cursorsMutex;
    // Open addressing over the stored names: a power-of-two table of entry number + 1 (0 empty) and the
    // name's hash, holding the first entry of each name. Built at load, never changed afterwards.
    struct NameSlot {
        std::uint32_t entry;
        std::uint32_t hash;
    };
    std::vector<NameSlot> nameSlots;
};

} // namespace filedriver
