#pragma once
// The process-wide registry of open archives and the one cache of decoded blocks that they share.
//
// Archives are keyed by the archive part of a path, compared as exact strings (letter case and kind
// of separator count), opened at the first request and kept until they are released or the manager is
// destroyed. The manager and every user of an archive share its ownership: an archive released while
// another thread still opens or reads a member through it lives until the last of them lets it go.
//
// The block cache holds at most BlockCacheCapacity decoded blocks of all archives together; buffers
// are reused and keep their addresses for the manager's life. A block reader:
//   acquireBlock -> (if not filled: fill the buffer, or abandonBlock on failure) -> releaseBlock.
// A block that any holder has acquired and not released is never replaced; when all are held, a
// miss throws orva::exception. Threads may read at once: while one fills a block, another thread
// acquiring it waits until the block is filled or abandoned (the filler's own thread is told it
// filled). The entry given way is the one not held with the lowest score: the value of a process-wide
// counter when it entered the cache plus the number of times it was acquired. A hit allocates nothing.
//
// Locking order: an archive's own lock (OrvaArchive's readersMutex) before the manager's `mutex`. A
// thread holding an archive's lock may take the manager's (the last reader's detach invalidates the
// archive's blocks; releaseArchive takes the archive out of the map); a thread holding the manager's
// never takes an archive's, and waits for nothing but a block being filled, whose filler needs no lock.
// The manager's lock is re-entrant (an archive destroyed under it invalidates its blocks).

#include "filedriver/ArchiveBlocks.h"
#include "filedriver/BlockCompression.h"
#include "filedriver/FilePath.h"
#include "filedriver/OrvaArchive.h"
#include "synchronisation/Mutex.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace filedriver {

class ArchiveManager {
public:
    static constexpr std::size_t BlockCacheCapacity = 256;

    ArchiveManager();
    virtual ~ArchiveManager();
    ArchiveManager(const ArchiveManager&) = delete;
    ArchiveManager& operator=(const ArchiveManager&) = delete;

    // The archive that `path` runs through (or names), shared with the manager. Throws
    // orva::exception "ArchiveManager: archive '<path>' not found" when no such file exists, and the
    // archive's load failures. Takes the manager's lock, and loads a new archive under it.
    std::shared_ptr<OrvaArchive> shareArchive(const FilePath& path);
    // The same, the manager keeping ownership: the pointer is valid until the archive is released or the
    // manager destroyed. For programs that release nothing while they use it; others share it.
    OrvaArchive* getArchive(const FilePath& path);
    // Whether the archive holds a member named as the path's last component; failures are logged and
    // answer false.
    bool existsInArchive(const FilePath& path);
    // Forgets the archive that `path` runs through, so that the next request loads its file afresh (for
    // long-running programs and tools). False, and nothing changes, while a reader is attached to it.
    // An archive that another thread shares already lives on for that thread, which may still attach a
    // reader to it and read through it; its blocks are forgotten when its last reader has gone.
    bool releaseArchive(const FilePath& path);

    // The cache buffer of (archive, block); `filled` tells whether it holds the block's bytes already.
    ByteBuffer* acquireBlock(const OrvaArchive* archive, std::int32_t block, bool& filled);
    void releaseBlock(const OrvaArchive* archive, std::int32_t block);
    // Releases a block that its holder could not fill, so that nobody is served it as filled.
    void abandonBlock(const OrvaArchive* archive, std::int32_t block);

    // Holds those of blocks first, first + 1, ... (at most `count`) that the cache has filled, under
    // one lock, for sequential readers, which decode the others themselves without entering them.
    // Neither waits nor throws: a block being filled or not in the cache is not held. Sets grants[0..n)
    // to the held blocks in order, each `filled`, and returns n.
    std::size_t holdCachedBlocks(const OrvaArchive* archive, std::int32_t first, std::size_t count, BlockGrant* grants);
    // Releases a run under one lock: blocks filled as releaseBlock does, the others as abandonBlock.
    void releaseBlocks(const OrvaArchive* archive, const BlockGrant* grants, std::size_t count);
    // Marks every block of `archive` not filled; entries and buffers stay. Called by an archive when its
    // last reader detaches and when it is destroyed, so that an archive built later at the same address
    // never finds a block filled.
    void invalidateBlocks(const OrvaArchive* archive);

private:
    struct BlockKey {
        const OrvaArchive* archive;
        std::int32_t block;
        bool operator<(const BlockKey& other) const
        {
            return archive != other.archive ? std::less<const OrvaArchive*>()(archive, other.archive)
                                            : block < other.block;
        }
        bool operator==(const BlockKey& other) const { return archive == other.archive && block == other.block; }
    };
    struct BlockKeyHash {
        std::size_t operator()(const BlockKey& key) const
        {
            return std::hash<const void*>()(key.archive) * 31 + static_cast<std::size_t>(key.block);
        }
    };
    struct BlockEntry {
        std::int32_t slot;
        std::int32_t score;
        bool filled;
        std::int32_t holders; // acquires not yet released
        // A holder is filling the buffer; others wait for it rather than read half a block.
        bool filling = false;
        std::thread::id filler;
    };

    // The parts of acquiring and releasing done under `mutex`.
    ByteBuffer* acquireLocked(std::unique_lock<synchronisation::Mutex>& lock, const BlockKey& key, bool& filled);
    void releaseLocked(const BlockKey& key, bool keepFilled);
    void release(const OrvaArchive* archive, std::int32_t block, bool keepFilled);

    // Guarded by `mutex`, but for the bytes of a held buffer, which are its holder's.
    std::vector<ByteBuffer> blockBuffers;
    // Guarded by `mutex`.
    std::map<FilePath, std::shared_ptr<OrvaArchive>> archives;
    // Guarded by `mutex`. Looked up on every read: a hit does no more than find and count.
    std::unordered_map<BlockKey, BlockEntry, BlockKeyHash> blockTable;
    // Guards archives, blockTable, blockBuffers and the entry counter.
    synchronisation::Mutex mutex;
    // Waited on under `mutex` for a block being filled.
    std::condition_variable_any fillingEnded;
};

// The process's one manager: built after the settings and before the error log, finished in reverse
// (orva/ProcessObjects.h). Every reader (BlockReader) must be gone before it is finished.
extern ArchiveManager archiveManager;

} // namespace filedriver
