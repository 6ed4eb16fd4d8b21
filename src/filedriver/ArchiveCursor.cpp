#include "filedriver/ArchiveCursor.h"

#include "filedriver/ArchiveManager.h"
#include "orva/Log.h"

#include <algorithm>
#include <cstring>

namespace filedriver {
namespace {

constexpr wchar_t sourcePath[] = L".\\src\\filedriver\\ArchiveCursor.cpp";
constexpr int notFoundSite = 28;

// Sequential readers of a compressed archive take this many bytes of blocks at once (at least one
// block, at most ArchiveBlocks::mostRunBlocks), so that the cache's lock is taken twice per run of
// blocks rather than twice per block.
constexpr std::uint32_t readAheadBytes = 1u << 20;

std::uint32_t blocksAhead(std::uint32_t blockSize)
{
    return std::max<std::uint32_t>(1, std::min(readAheadBytes / blockSize, ArchiveBlocks::mostRunBlocks));
}

} // namespace

ArchiveCursor::ArchiveCursor(const FilePath& path, std::uint32_t mode)
    : AFileCore(mode), reader(archiveManager.shareArchive(path)), blocks(reader.blocks())
{
    memberIndex = reader.archive().findMember(memberName(path));
    if (memberIndex == reader.archive().archiveHeader().fileCount)
        orva::throwLogged(orva::ErrorKind::NotFound, sourcePath, notFoundSite,
                          "ArchiveCursor: file '%ls' not found in archive '%ls'", shownPath(path).c_str(),
                          shownPath(reader.archive().archivePath()).c_str());
}

ArchiveCursor::ArchiveCursor(std::shared_ptr<OrvaArchive> archive, std::uint32_t memberIndex, std::uint32_t mode)
    : AFileCore(mode), reader(std::move(archive)), blocks(reader.blocks()), memberIndex(memberIndex)
{
}

ArchiveCursor::~ArchiveCursor() = default;

const FileEntry& ArchiveCursor::member() const
{
    return reader.archive().entry(memberIndex);
}

std::uint32_t ArchiveCursor::dataOffset() const
{
    return member().dataOffset;
}

std::int32_t ArchiveCursor::seek(std::int32_t offset, std::int32_t origin)
{
    std::int64_t target = offset;
    if (origin == SeekCurrent)
        target += position;
    else if (origin == SeekEnd)
        target += size();
    else if (origin != SeekBegin)
        return -1;
    if (target < 0 || target > size())
        return -1;
    position = static_cast<std::int32_t>(target);
    return position;
}

std::int32_t ArchiveCursor::tell()
{
    return position;
}

std::int32_t ArchiveCursor::size()
{
    return static_cast<std::int32_t>(member().dataSize);
}

std::uint32_t ArchiveCursor::read(void* buffer, std::uint32_t length)
{
    if (!buffer)
        return 0;
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint32_t total = 0;
    // A read that begins where the last ended, or in the bytes kept from it, reads on in order; one that
    // begins elsewhere and runs on into the next block takes that block alone, through the cache.
    const std::uint64_t start = std::uint64_t(member().dataOffset) + static_cast<std::uint32_t>(position);
    const bool sequential = start == sequentialPosition || inReadAhead(start);
    while (length > 0 && tell() < size()) {
        const std::uint32_t got = readChunk(out + total, length, sequential);
        if (got == 0)
            break;
        total += got;
        length -= got;
    }
    return total;
}

std::uint32_t ArchiveCursor::readChunk(std::uint8_t* buffer, std::uint32_t length, bool sequential)
{
    const std::uint32_t streamPosition = member().dataOffset + static_cast<std::uint32_t>(position);
    const std::uint32_t block = blocks.blockAt(streamPosition);
    const std::uint32_t within = streamPosition % blocks.blockSize();
    const std::uint32_t wanted = std::min(length, member().dataSize - static_cast<std::uint32_t>(position));
    const std::uint32_t n = reader.archive().archiveHeader().compressionType == 0
                                ? readStored(block, within, sequential, buffer, wanted)
                                : readDecoded(block, within, sequential, buffer, wanted);
    sequentialPosition = std::uint64_t(streamPosition) + n;
    position += static_cast<std::int32_t>(n);
    return n;
}

bool ArchiveCursor::inReadAhead(std::uint64_t streamPosition) const
{
    return streamPosition >= readAheadStart && streamPosition - readAheadStart < readAheadSize;
}

std::uint32_t ArchiveCursor::copyReadAhead(std::uint64_t streamPosition, std::uint8_t* buffer,
                                           std::uint32_t wanted) const
{
    const auto offset = static_cast<std::size_t>(streamPosition - readAheadStart);
    const std::uint32_t n = std::min(static_cast<std::uint32_t>(readAheadSize - offset), wanted);
    std::memcpy(buffer, readAhead.get() + offset, n);
    return n;
}

std::uint32_t ArchiveCursor::readDecoded(std::uint32_t block, std::uint32_t within, bool sequential,
                                         std::uint8_t* buffer, std::uint32_t wanted)
{
    const std::uint32_t blockSize = blocks.blockSize();
    const std::uint64_t streamPosition = blocks.startOf(block) + within;
    // As for stored blocks, a read that follows the previous one keeps the rest of its decoded blocks, so
    // that the next reads of them take no lock of the cache (on Windows, a system call each time).
    if (inReadAhead(streamPosition))
        return copyReadAhead(streamPosition, buffer, wanted);
    const std::uint32_t lastBlock = blocks.blockOf(std::uint64_t(member().dataOffset) + member().dataSize - 1);
    // The member's last block, where the next member begins, goes through the cache: a reader of the next
    // member wants it too, and many small members read in turn would otherwise each decode it twice.
    const bool sharedLast =
        std::uint64_t(member().dataOffset) + member().dataSize < blocks.startOf(lastBlock) + blocks.lengthOf(lastBlock);
    // Readers in order, within a member or from one member to the next, tell the thread decoding ahead.
    BlockDecodeAhead* const ahead = blocks.decodingAhead();
    const bool inOrder = sequential || streamPosition == member().dataOffset;
    if (ahead && inOrder && ahead->readingAt(block, sequential, latestToldAhead) && sequential)
        if (const std::uint32_t n = readDecodedAlongside(block, within, buffer, wanted, *ahead))
            return n;
    if (!sequential || (sharedLast && block == lastBlock)) {
        if (!sequential)
            runBlocks = 2;
        // A member's first read finds its block where the reader of the member before it left it, and a
        // buffered stream going back a little finds the block it left.
        const std::uint32_t inBlock = std::min(blocks.lengthOf(block) - within, wanted);
        if (ahead && ahead->copy(block, within, buffer, inBlock, reader.decoder(), false))
            return inBlock;
        const CachedBlock held(blocks, block, reader.decoder());
        const std::uint32_t n = std::min(static_cast<std::uint32_t>(held.bytes().size()) - within, wanted);
        if (n > 0)
            std::memcpy(buffer, held.bytes().data() + within, n);
        return n;
    }
    // The blocks up to the member's end, as one run: those the cache has are copied from it, the others
    // decoded here without entering the cache. A reader going through a member then takes the cache's
    // lock once per run when it finds nothing there (under Wine, each lock and unlock is a round trip to
    // another process), decodes into a buffer that stays in the processor's cache, and does not push out
    // the blocks that random readers share. Only the first block is needed now: a later one that fails
    // ends the run quietly and fails when a read needs it.
    const std::uint32_t reach = std::min({runBlocks, blocksAhead(blockSize), lastBlock - block + 1, blocks.count() - block});
    const std::uint32_t wantedBlocks = sharedLast && block + reach - 1 == lastBlock ? reach - 1 : reach;
    runBlocks = std::min(runBlocks * 2, blocksAhead(blockSize));
    const CachedRun cached(blocks, block, wantedBlocks);
    readAheadStart = noReadAhead;
    // Room for the whole run (every block but the last is as large), so that reading on allocates
    // nothing whatever the read sizes. The run is kept from its first block's start.
    std::uint8_t* const run = readAheadRoom(std::size_t(blocksAhead(blockSize)) * blockSize);
    std::size_t bytes = 0;
    std::size_t nextCached = 0;
    for (std::uint32_t i = 0; i < wantedBlocks;) {
        if (nextCached < cached.size() && cached[nextCached].block == static_cast<std::int32_t>(block + i)) {
            const ByteBuffer& decoded = *cached[nextCached++].buffer;
            std::memcpy(run + bytes, decoded.data(), decoded.size());
            bytes += decoded.size();
            ++i;
            continue;
        }
        const std::uint32_t misses =
            (nextCached < cached.size() ? static_cast<std::uint32_t>(cached[nextCached].block) - block : wantedBlocks) - i;
        std::uint32_t decoded = 0;
        const int check = blocks.decodeRun(block + i, misses, run + bytes, reader.decoder(), decoded, bytes);
        i += decoded;
        if (check != 0) {
            if (i == 0)
                blocks.fail(check, block);
            break;
        }
    }
    readAheadSize = bytes;
    readAheadStart = streamPosition - within;
    return copyReadAhead(streamPosition, buffer, wanted);
}

std::uint32_t ArchiveCursor::readDecodedAlongside(std::uint32_t block, std::uint32_t within, std::uint8_t* buffer,
                                                  std::uint32_t wanted, BlockDecodeAhead& ahead)
{
    // Block by block from the ring decoded ahead; the member's bytes in this block are kept for the reads
    // that follow, and for a buffered stream that goes back a little.
    const std::uint64_t blockStart = blocks.startOf(block);
    const std::uint64_t memberStart = member().dataOffset;
    const std::uint64_t from = std::max(blockStart, memberStart);
    const std::uint64_t to = std::min(blockStart + blocks.lengthOf(block), memberStart + member().dataSize);
    readAheadStart = noReadAhead;
    // As much room as a run takes: a reader that goes from one way to the other allocates once.
    std::uint8_t* const room = readAheadRoom(std::size_t(blocksAhead(blocks.blockSize())) * blocks.blockSize());
    if (!ahead.copy(block, static_cast<std::uint32_t>(from - blockStart), room, static_cast<std::size_t>(to - from),
                    reader.decoder(), true))
        return 0;
    readAheadSize = static_cast<std::size_t>(to - from);
    readAheadStart = from;
    return copyReadAhead(blockStart + within, buffer, wanted);
}

std::uint32_t ArchiveCursor::readStored(std::uint32_t block, std::uint32_t within, bool sequential,
                                        std::uint8_t* buffer, std::uint32_t wanted)
{
    // A stored block is its own bytes: they come straight from the file, which the system caches; the
    // block cache saves decoding, and there is none to save. A read that follows the previous one
    // takes the rest of its block in one call, so that the next ones need no call of their own.
    const std::uint64_t streamPosition = blocks.startOf(block) + within;
    if (!inReadAhead(streamPosition)) {
        const std::uint32_t rest = blocks.checkedLength(block) - within;
        if (!sequential) {
            const std::uint32_t n = std::min(rest, wanted);
            blocks.readStored(block, within, buffer, n);
            return n;
        }
        readAheadStart = noReadAhead;
        blocks.readStored(block, within, readAheadRoom(rest), rest);
        readAheadSize = rest;
        readAheadStart = streamPosition;
    }
    return copyReadAhead(streamPosition, buffer, wanted);
}

std::uint8_t* ArchiveCursor::readAheadRoom(std::size_t size)
{
    if (readAheadCapacity < size) {
        readAhead = std::make_unique_for_overwrite<std::uint8_t[]>(size);
        readAheadCapacity = size;
    }
    return readAhead.get();
}

std::uint32_t ArchiveCursor::write(const void*, std::uint32_t)
{
    return 0;
}

const std::uint8_t* ArchiveCursor::fetch(std::uint32_t length)
{
    std::memset(scratch, 0, sizeof scratch);
    read(scratch, std::min(length, scratchSize));
    return scratch;
}

void ArchiveCursor::put(const void*, std::uint32_t) {}

} // namespace filedriver
