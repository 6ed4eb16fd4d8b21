#include "filedriver/ArchiveManager.h"

#include "filedriver/FileSystem.h"
#include "orva/Log.h"
#include "orva/ProcessObjects.h"

#include <climits>

namespace filedriver {
namespace {

constexpr wchar_t sourcePath[] = L".\\src\\filedriver\\ArchiveManager.cpp";
constexpr int notFoundSite = 70;
constexpr int caughtSite = 97;
constexpr int cacheFullSite = 140;

// Raised for every cache entry created, process-wide.
std::int32_t blockSequence = 0;

} // namespace

ArchiveManager archiveManager ORVA_PROCESS_OBJECT(orva::archiveManagerStart);

ArchiveManager::ArchiveManager()
{
    // Reserved once, so that the buffers never move while handed out.
    blockBuffers.reserve(BlockCacheCapacity);
    blockTable.reserve(BlockCacheCapacity);
    if (this == &archiveManager)
        orva::noteProcessObject(orva::ProcessObject::archiveManager, true);
}

ArchiveManager::~ArchiveManager()
{
    for (auto& archive : archives)
        archive.second.reset();
    if (this == &archiveManager)
        orva::noteProcessObject(orva::ProcessObject::archiveManager, false);
}

std::shared_ptr<OrvaArchive> ArchiveManager::shareArchive(const FilePath& path)
{
    const FilePath key = archivePart(path);
    // Readers of several threads may be the first to ask for one archive.
    std::lock_guard<synchronisation::Mutex> lock(mutex);
    // A remote archive's load says whether it is there: asking first would cost a request.
    if (!isRemotePath(key) && !fileExists(key))
        orva::throwLogged(orva::ErrorKind::NotFound, sourcePath, notFoundSite, "ArchiveManager: archive '%ls' not found",
                          shownPath(key).c_str());
    const auto known = archives.find(key);
    if (known != archives.end())
        return known->second;
    auto archive = std::make_shared<OrvaArchive>(key, this);
    archives.emplace(key, archive);
    return archive;
}

OrvaArchive* ArchiveManager::getArchive(const FilePath& path)
{
    return shareArchive(path).get();
}

bool ArchiveManager::existsInArchive(const FilePath& path)
{
    try {
        return shareArchive(path)->hasMember(memberName(path));
    } catch (orva::exception& ex) {
        orva::logCaught(sourcePath, caughtSite, ex);
        return false;
    }
}

bool ArchiveManager::releaseArchive(const FilePath& path)
{
    const FilePath key = archivePart(path);
    std::shared_ptr<OrvaArchive> archive;
    {
        std::lock_guard<synchronisation::Mutex> lock(mutex);
        const auto known = archives.find(key);
        if (known == archives.end())
            return false;
        archive = known->second;
    }
    // The archive's lock first (the locking order): no cursor attaches while it leaves the map. It is
    // destroyed, if this was its last share, after both locks are let go.
    return archive->whileNoReader([&] {
        std::lock_guard<synchronisation::Mutex> lock(mutex);
        const auto known = archives.find(key);
        // Another thread may have released it, and loaded the file again, in between.
        if (known == archives.end() || known->second != archive)
            return false;
        archives.erase(known);
        return true;
    });
}

ByteBuffer* ArchiveManager::acquireBlock(const OrvaArchive* archive, std::int32_t block, bool& filled)
{
    std::unique_lock<synchronisation::Mutex> lock(mutex);
    return acquireLocked(lock, BlockKey{archive, block}, filled);
}

std::size_t ArchiveManager::holdCachedBlocks(const OrvaArchive* archive, std::int32_t first, std::size_t count,
                                             BlockGrant* grants)
{
    std::lock_guard<synchronisation::Mutex> lock(mutex);
    std::size_t held = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const BlockKey key{archive, first + static_cast<std::int32_t>(i)};
        const auto found = blockTable.find(key);
        if (found == blockTable.end() || !found->second.filled || found->second.filling)
            continue;
        BlockEntry& entry = found->second;
        entry.score += 1;
        entry.holders += 1;
        grants[held++] = BlockGrant{key.block, &blockBuffers[static_cast<std::size_t>(entry.slot)], true};
    }
    return held;
}

ByteBuffer* ArchiveManager::acquireLocked(std::unique_lock<synchronisation::Mutex>& lock, const BlockKey& key,
                                          bool& filled)
{
    const std::thread::id me = std::this_thread::get_id();
    auto found = blockTable.find(key);
    while (found != blockTable.end() && found->second.filling && found->second.filler != me) {
        fillingEnded.wait(lock);
        found = blockTable.find(key);
    }
    if (found != blockTable.end()) {
    } else if (blockTable.size() < BlockCacheCapacity) {
        found = blockTable.emplace(key, BlockEntry{static_cast<std::int32_t>(blockBuffers.size()), ++blockSequence,
                                                   false, 0, false, {}})
                    .first;
        blockBuffers.emplace_back();
    } else {
        // The entry not held with the lowest score gives way; of equal scores, the first in key order.
        // A walk of the table: a miss costs a block's decoding anyway, and hits stay cheap.
        auto candidate = blockTable.end();
        for (auto at = blockTable.begin(); at != blockTable.end(); ++at)
            if (at->second.holders == 0
                && (candidate == blockTable.end() || at->second.score < candidate->second.score
                    || (at->second.score == candidate->second.score && at->first < candidate->first)))
                candidate = at;
        if (candidate == blockTable.end())
            orva::throwLogged(orva::ErrorKind::Other, sourcePath, cacheFullSite, "ArchiveManager: all %u cache blocks are in use",
                              static_cast<unsigned>(BlockCacheCapacity));
        // The table's node is reused for the new key: a full cache allocates nothing.
        auto node = blockTable.extract(candidate);
        node.key() = key;
        node.mapped() = BlockEntry{node.mapped().slot, ++blockSequence, false, 0, false, {}};
        found = blockTable.insert(std::move(node)).position;
    }
    BlockEntry& entry = found->second;
    entry.score += 1;
    entry.holders += 1;
    // The filler's own thread counts the block as filled, as every holder did before threads.
    filled = entry.filled || entry.filling;
    if (!filled) {
        entry.filling = true;
        entry.filler = me;
    }
    return &blockBuffers[static_cast<std::size_t>(entry.slot)];
}

void ArchiveManager::releaseLocked(const BlockKey& key, bool keepFilled)
{
    const auto found = blockTable.find(key);
    if (found == blockTable.end() || found->second.holders == 0)
        return;
    BlockEntry& entry = found->second;
    entry.holders -= 1;
    if (entry.filling && entry.filler == std::this_thread::get_id()) {
        entry.filling = false;
        entry.filled = keepFilled;
        fillingEnded.notify_all();
    } else if (!keepFilled) {
        entry.filled = false;
    }
}

void ArchiveManager::release(const OrvaArchive* archive, std::int32_t block, bool keepFilled)
{
    std::lock_guard<synchronisation::Mutex> lock(mutex);
    releaseLocked(BlockKey{archive, block}, keepFilled);
}

void ArchiveManager::releaseBlock(const OrvaArchive* archive, std::int32_t block)
{
    release(archive, block, true);
}

void ArchiveManager::abandonBlock(const OrvaArchive* archive, std::int32_t block)
{
    release(archive, block, false);
}

void ArchiveManager::releaseBlocks(const OrvaArchive* archive, const BlockGrant* grants, std::size_t count)
{
    std::lock_guard<synchronisation::Mutex> lock(mutex);
    for (std::size_t i = 0; i < count; ++i)
        releaseLocked(BlockKey{archive, grants[i].block}, grants[i].filled);
}

void ArchiveManager::invalidateBlocks(const OrvaArchive* archive)
{
    std::lock_guard<synchronisation::Mutex> lock(mutex);
    for (auto& entry : blockTable)
        if (entry.first.archive == archive)
            entry.second.filled = false;
}

} // namespace filedriver
