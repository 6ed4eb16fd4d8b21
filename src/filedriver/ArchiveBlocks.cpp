#include "filedriver/ArchiveBlocks.h"

#include "filedriver/ArchiveManager.h"
#include "filedriver/BlockDecodeAhead.h"
#include "filedriver/OrvaArchive.h"
#include "filedriver/remote/RemoteSettings.h"
#include "orva/Log.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace filedriver {
namespace {

// Block failures have always been the cursor's, and their trace lines name it.
constexpr wchar_t sourcePath[] = L".\\src\\filedriver\\ArchiveCursor.cpp";
constexpr int pastDataSite = 112;     // integrity failed 1
constexpr int pastBlocksSite = 117;   // 2
constexpr int storedOffsetSite = 129; // 3
constexpr int storedSizeSite = 135;   // 4
constexpr int shortReadSite = 144;    // 5
constexpr int emptyStoredSite = 146;  // 6
constexpr int damagedBlockSite = 150; // 7
constexpr int decodedLengthSite = 155; // 8
constexpr int checkSites[] = {pastDataSite,  pastBlocksSite,  storedOffsetSite, storedSizeSite,
                              shortReadSite, emptyStoredSite, damagedBlockSite, decodedLengthSite};
constexpr int shortRead = 5;

// Deflate never expands more than this: a block claiming more than its stored size allows is damaged.
constexpr std::uint64_t deflateMostExpansion = 1032;

[[noreturn]] void integrityFailed(int check, std::int64_t block)
{
    orva::throwLogged(orva::damagedBlock(block), sourcePath, checkSites[check - 1],
                      "ArchiveCursor.read: integrity failed %d", check);
}

// GLEANER_DECODE_AHEAD=0 keeps a program to the threads it makes itself.
bool decodingAheadWanted()
{
    return remote::environmentText("GLEANER_DECODE_AHEAD").value_or("1") != "0";
}

std::size_t hintBytes(std::uint32_t blocks)
{
    return (std::size_t(blocks) + 7) / 8;
}

} // namespace

BlockDecoder::BlockDecoder(std::uint32_t compressionType)
    : codec(createCompression(PropertyMap{{"compressionType", static_cast<std::int32_t>(compressionType)}}))
{
}

std::uint64_t ArchiveBlocks::countFor(std::uint64_t dataLength, std::uint32_t blockSize)
{
    return (dataLength + blockSize - 1) / blockSize;
}

ArchiveBlocks::ArchiveBlocks(const ArchiveHeader& header, std::vector<StoredBlock> stored, const OrvaArchive* owner,
                             ArchiveManager* manager)
    : header(header), storedBlocks(std::move(stored)),
      cachedHint(std::make_unique<std::atomic<std::uint8_t>[]>(hintBytes(header.blockCount))), owner(owner),
      manager(manager)
{
}

ArchiveBlocks::ArchiveBlocks() = default;
ArchiveBlocks::ArchiveBlocks(ArchiveBlocks&&) noexcept = default;
ArchiveBlocks& ArchiveBlocks::operator=(ArchiveBlocks&&) noexcept = default;
ArchiveBlocks::~ArchiveBlocks() = default;

std::uint32_t ArchiveBlocks::lengthOf(std::uint32_t block) const
{
    return block + 1 == header.blockCount ? header.dataLength - block * header.blockSize : header.blockSize;
}

BlockRange ArchiveBlocks::blocksHolding(std::uint64_t start, std::uint64_t length) const
{
    const std::uint64_t end = std::min<std::uint64_t>(start + length, header.dataLength);
    if (start >= end)
        return {blockOf(start), blockOf(start)};
    return {blockOf(start), static_cast<std::uint32_t>(countFor(end, header.blockSize))};
}

std::uint64_t ArchiveBlocks::storedOffset(std::uint32_t block) const
{
    return std::uint64_t(header.blocksOffset) + storedBlocks[block].storedOffset;
}

void ArchiveBlocks::open(std::unique_ptr<ArchiveSource> opened)
{
    source = std::move(opened);
    if (header.compressionType == 0 || !manager || header.blockCount < 2 || std::thread::hardware_concurrency() < 2
        || !decodingAheadWanted())
        return;
    ahead = std::make_unique<BlockDecodeAhead>(*this, header.compressionType);
}

void ArchiveBlocks::close()
{
    ahead.reset();
    source.reset();
}

void ArchiveBlocks::fail(int check, std::uint32_t block) const
{
    // A source that could not give the bytes because the file changed under it says so.
    if (check == shortRead && source && source->changed())
        OrvaArchive::failChanged(owner->archivePath());
    integrityFailed(check, check <= 2 ? -1 : std::int64_t(block));
}

std::uint32_t ArchiveBlocks::blockAt(std::uint64_t position) const
{
    if (position >= header.dataLength)
        integrityFailed(1, -1);
    const std::uint32_t block = blockOf(position);
    if (block >= header.blockCount)
        integrityFailed(2, -1);
    return block;
}

int ArchiveBlocks::fault(std::uint32_t block, std::uint32_t& expected, std::uint64_t& fileOffset) const
{
    const StoredBlock& stored = storedBlocks[block];
    fileOffset = std::uint64_t(stored.storedOffset) + header.blocksOffset;
    if (fileOffset >= header.dataEnd)
        return 3;
    if (stored.storedSize > header.maxStoredBlockSize)
        return 4;
    if (stored.storedSize == 0)
        return 6;
    // Sizes are checked against the file before anything is allocated for them.
    if (fileOffset + stored.storedSize > source->size())
        return shortRead;
    expected = lengthOf(block);
    if (header.compressionType == 0 ? expected != stored.storedSize
                                    : expected > std::uint64_t(stored.storedSize) * deflateMostExpansion)
        return 8;
    return 0;
}

std::uint32_t ArchiveBlocks::checkedLength(std::uint32_t block) const
{
    std::uint32_t expected = 0;
    std::uint64_t fileOffset = 0;
    if (const int check = fault(block, expected, fileOffset))
        fail(check, block);
    return expected;
}

void ArchiveBlocks::readStored(std::uint32_t block, std::uint32_t within, std::uint8_t* buffer, std::uint32_t length)
{
    std::uint32_t expected = 0;
    std::uint64_t fileOffset = 0;
    if (const int check = fault(block, expected, fileOffset))
        fail(check, block);
    if (source->readAt(fileOffset + within, buffer, length) != length)
        fail(shortRead, block);
}

void ArchiveBlocks::decode(std::uint32_t block, ByteBuffer& into, BlockDecoder& decoder)
{
    if (block >= header.blockCount)
        integrityFailed(2, -1);
    if (const int check = fill(block, into, decoder))
        fail(check, block);
}

int ArchiveBlocks::fill(std::uint32_t block, ByteBuffer& into, BlockDecoder& decoder)
{
    std::uint32_t expected = 0;
    std::uint64_t fileOffset = 0;
    if (const int check = fault(block, expected, fileOffset))
        return check;
    const std::uint32_t storedSize = storedBlocks[block].storedSize;
    if (header.compressionType == 0) {
        into.resize(storedSize);
        return source->readAt(fileOffset, into.data(), storedSize) != storedSize ? shortRead : 0;
    }
    if (decoder.stored.size() < storedSize)
        decoder.stored.resize(storedSize);
    if (source->readAt(fileOffset, decoder.stored.data(), storedSize) != storedSize)
        return shortRead;
    // A buffer that takes the short last block has a whole block's room, so that it does not grow again
    // when it takes another block (cache buffers and the decoding-ahead ring take any).
    if (expected < header.blockSize && header.blockSize <= mostReservedBlock)
        into.reserve(header.blockSize);
    into.resize(expected);
    const std::int64_t produced = decoder.codec->decompressInto(decoder.stored.data(), storedSize, into.data(), expected);
    if (produced < 0)
        return 7;
    return produced != expected ? 8 : 0;
}

int ArchiveBlocks::decodeRun(std::uint32_t first, std::uint32_t count, std::uint8_t* out, BlockDecoder& decoder,
                             std::uint32_t& decoded, std::size_t& bytes)
{
    const auto storedSize = [&](std::uint32_t block) { return storedBlocks[block].storedSize; };
    // What each block of a span decodes to; a run is never longer.
    std::uint32_t expected[mostRunBlocks];
    count = std::min(count, mostRunBlocks);
    std::uint32_t done = 0;
    while (done < count) {
        // The blocks whose stored bytes follow each other in the file are read in one call; a block
        // that fails a check ends the span and is met again on its own turn.
        std::uint64_t start = 0;
        if (const int check = fault(first + done, expected[0], start))
            return check;
        std::uint64_t end = start + storedSize(first + done);
        std::uint32_t span = 1;
        for (std::uint64_t at = 0; done + span < count && fault(first + done + span, expected[span], at) == 0 && at == end;
             ++span)
            end += storedSize(first + done + span);
        const auto readSpan = [&] {
            if (decoder.stored.size() < end - start)
                decoder.stored.resize(end - start);
            return source->readAt(start, decoder.stored.data(), static_cast<std::uint32_t>(end - start)) == end - start;
        };
        if (!readSpan()) {
            if (span == 1)
                return shortRead;
            // Short: one block at a time finds the one that is cut.
            span = 1;
            end = start + storedSize(first + done);
            if (!readSpan())
                return shortRead;
        }
        std::size_t offset = 0;
        for (std::uint32_t i = 0; i < span; ++i, ++done, ++decoded) {
            const std::uint32_t stored = storedSize(first + done);
            const std::int64_t produced =
                decoder.codec->decompressInto(decoder.stored.data() + offset, stored, out, expected[i]);
            if (produced < 0)
                return 7;
            if (produced != expected[i])
                return 8;
            offset += stored;
            out += expected[i];
            bytes += expected[i];
        }
    }
    return 0;
}

void ArchiveBlocks::willNeed(std::uint64_t offset, std::uint64_t length)
{
    if (source)
        source->willNeed(offset, length);
}

void ArchiveBlocks::noteCached(std::uint32_t block)
{
    if (cachedHint && block < header.blockCount)
        cachedHint[block / 8].fetch_or(static_cast<std::uint8_t>(1u << (block % 8)), std::memory_order_relaxed);
}

bool ArchiveBlocks::mayBeCached(std::uint32_t first, std::uint32_t count) const
{
    if (!cachedHint)
        return true;
    for (std::uint32_t block = first; block < first + count && block < header.blockCount; ++block)
        if (cachedHint[block / 8].load(std::memory_order_relaxed) & (1u << (block % 8)))
            return true;
    return false;
}

void ArchiveBlocks::forgetCached()
{
    for (std::size_t i = 0; cachedHint && i < hintBytes(header.blockCount); ++i)
        cachedHint[i].store(0, std::memory_order_relaxed);
}

CachedBlock::CachedBlock(ArchiveBlocks& blocks, std::uint32_t block, BlockDecoder& decoder)
    : blocks(blocks), block(static_cast<std::int32_t>(block)),
      buffer(block < blocks.count() ? blocks.manager->acquireBlock(blocks.owner, this->block, filled) : nullptr)
{
    if (!buffer)
        integrityFailed(2, -1);
    if (filled)
        return;
    int check = 0;
    try {
        check = blocks.fill(block, *buffer, decoder);
    } catch (...) {
        blocks.manager->abandonBlock(blocks.owner, this->block);
        throw;
    }
    if (check != 0) {
        blocks.manager->abandonBlock(blocks.owner, this->block);
        blocks.fail(check, block);
    }
    filled = true;
    blocks.noteCached(block);
}

CachedBlock::~CachedBlock()
{
    blocks.manager->releaseBlock(blocks.owner, block);
}

CachedRun::CachedRun(ArchiveBlocks& blocks, std::uint32_t first, std::uint32_t count)
    : blocks(blocks),
      held(blocks.mayBeCached(first, count)
               ? blocks.manager->holdCachedBlocks(blocks.owner, static_cast<std::int32_t>(first),
                                                  std::min(count, ArchiveBlocks::mostRunBlocks), grants)
               : 0)
{
}

CachedRun::~CachedRun()
{
    if (held > 0)
        blocks.manager->releaseBlocks(blocks.owner, grants, held);
}

} // namespace filedriver
