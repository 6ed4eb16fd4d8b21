#include "filedriver/ArchiveCursor.h"

#include "filedriver/ArchiveManager.h"
#include "filedriver/OrvaArchive.h"
#include "orva/Log.h"
#include "synchronisation/ScopedLock.h"

#include <algorithm>
#include <cstring>

namespace filedriver {
namespace {

constexpr wchar_t sourcePath[] = L".\\src\\filedriver\\ArchiveCursor.cpp";
constexpr int notFoundSite = 28;
constexpr int pastDataSite = 112;           // integrity failed 1
constexpr int pastBlocksSite = 117;         // 2
constexpr int storedOffsetSite = 129;       // 3
constexpr int storedSizeSite = 135;         // 4
constexpr int shortReadSite = 144;          // 5
constexpr int emptyStoredSite = 146;        // 6
constexpr int damagedBlockSite = 150;       // 7
constexpr int decodedLengthSite = 155;      // 8

// Deflate never expands more than this: a block claiming more than its stored size allows is damaged.
constexpr std::uint64_t deflateMostExpansion = 1032;

[[noreturn]] void integrityFailed(int site, int check)
{
    orva::throwLogged(sourcePath, site, "ArchiveCursor.read: integrity failed %d", check);
}

// The checks a block's loading makes, by number, for loads that report rather than throw.
[[noreturn]] void integrityFailed(int check)
{
    static constexpr int sites[] = {pastDataSite,   pastBlocksSite,   storedOffsetSite, storedSizeSite,
                                    shortReadSite, emptyStoredSite, damagedBlockSite, decodedLengthSite};
    integrityFailed(sites[check - 1], check);
}

// Sequential readers of a compressed archive take this many bytes of blocks at once (at least one
// block, at most readAheadMostBlocks), so that the cache's lock is taken twice per run of blocks rather
// than twice per block.
constexpr std::uint32_t readAheadBytes = 1u << 20;
constexpr std::uint32_t readAheadMostBlocks = 16;

std::uint32_t blocksAhead(std::uint32_t blockSize)
{
    return std::max<std::uint32_t>(1, std::min(readAheadBytes / blockSize, readAheadMostBlocks));
}

// Holds those blocks of a run that the cache has decoded already, and lets them go at the end.
class CachedRunHold {
public:
    CachedRunHold(ArchiveManager* manager, OrvaArchive* archive, std::int32_t first, std::size_t count)
        : manager(manager), archive(archive),
          count(archive->mayBeCached(static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(count))
                    ? manager->holdCachedBlocks(archive, first, count, grants)
                    : 0)
    {
    }
    ~CachedRunHold()
    {
        if (count > 0)
            manager->releaseBlocks(archive, grants, count);
    }
    CachedRunHold(const CachedRunHold&) = delete;
    CachedRunHold& operator=(const CachedRunHold&) = delete;

    ArchiveManager* const manager;
    OrvaArchive* const archive;
    ArchiveManager::BlockGrant grants[readAheadMostBlocks];
    const std::size_t count;
};

// Holds one block of the cache for the length of a read; a block left unfilled by a failure is
// abandoned so that nobody is served it as filled.
class BlockHold {
public:
    BlockHold(ArchiveManager* manager, OrvaArchive* archive, std::int32_t block)
        : manager(manager), archive(archive), block(block), buffer(manager->acquireBlock(archive, block, filled))
    {
    }
    ~BlockHold()
    {
        if (filled)
            manager->releaseBlock(archive, block);
        else
            manager->abandonBlock(archive, block);
    }
    BlockHold(const BlockHold&) = delete;
    BlockHold& operator=(const BlockHold&) = delete;

    ArchiveManager* const manager;
    OrvaArchive* const archive;
    const std::int32_t block;
    bool filled = false;
    ByteBuffer* const buffer;
};

std::unique_ptr<ABlockCompression> codecOf(const OrvaArchive& archive)
{
    return createCompression(PropertyMap{{"compressionType", static_cast<std::int32_t>(archive.archiveHeader().compressionType)}});
}

} // namespace

ArchiveCursor::ArchiveCursor(const FilePath& path, std::uint32_t mode)
    : AFileCore(mode), archive(archiveManager.shareArchive(path)), codec(codecOf(*archive))
{
    archive->attachCursor(this);
    memberIndex = archive->findMember(path.fileName(false));
    if (memberIndex == archive->header.fileCount) {
        archive->detachCursor(this);
        orva::throwLogged(sourcePath, notFoundSite, "ArchiveCursor: file '%ls' not found in archive '%ls'",
                          path.c_str(), archive->path.c_str());
    }
}

ArchiveCursor::ArchiveCursor(std::shared_ptr<OrvaArchive> archive, std::uint32_t memberIndex, std::uint32_t mode)
    : AFileCore(mode), archive(std::move(archive)), codec(codecOf(*this->archive)), memberIndex(memberIndex)
{
    this->archive->attachCursor(this);
}

ArchiveCursor::~ArchiveCursor()
{
    archive->detachCursor(this);
}

const FileEntry& ArchiveCursor::member() const
{
    return archive->fileEntries[memberIndex];
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

template <class Use>
void ArchiveCursor::withDecodedBlock(std::uint32_t block, Use use)
{
    BlockHold hold(archive->manager, archive.get(), static_cast<std::int32_t>(block));
    if (!hold.filled) {
        loadBlock(block, *hold.buffer);
        hold.filled = true;
        archive->noteCached(block);
    }
    use(static_cast<const ByteBuffer&>(*hold.buffer));
}

std::uint32_t ArchiveCursor::readChunk(std::uint8_t* buffer, std::uint32_t length, bool sequential)
{
    const ArchiveHeader& header = archive->header;
    const std::uint32_t streamPosition = member().dataOffset + static_cast<std::uint32_t>(position);
    if (streamPosition >= header.dataLength)
        integrityFailed(pastDataSite, 1);
    const std::uint32_t block = streamPosition / header.blockSize;
    if (block >= header.blockCount)
        integrityFailed(pastBlocksSite, 2);

    const std::uint32_t within = streamPosition % header.blockSize;
    const std::uint32_t wanted = std::min(length, member().dataSize - static_cast<std::uint32_t>(position));
    const std::uint32_t n = header.compressionType == 0 ? readStored(block, within, sequential, buffer, wanted)
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
    const std::uint32_t blockSize = archive->header.blockSize;
    const std::uint64_t streamPosition = std::uint64_t(block) * blockSize + within;
    // As for stored blocks, a read that follows the previous one keeps the rest of its decoded blocks, so
    // that the next reads of them take no lock of the cache (on Windows, a system call each time).
    if (inReadAhead(streamPosition))
        return copyReadAhead(streamPosition, buffer, wanted);
    if (!sequential) {
        runBlocks = 2;
        std::uint32_t n = 0;
        withDecodedBlock(block, [&](const ByteBuffer& decoded) {
            n = std::min(static_cast<std::uint32_t>(decoded.size()) - within, wanted);
            if (n > 0)
                std::memcpy(buffer, decoded.data() + within, n);
        });
        return n;
    }
    // The blocks up to the member's end, as one run: those the cache has are copied from it, the others
    // decoded here without entering the cache. A reader going through a member then takes the cache's
    // lock once per run when it finds nothing there (under Wine, each lock and unlock is a round trip to
    // another process), decodes into a buffer that stays in the processor's cache, and does not push out
    // the blocks that random readers share. Only the first block is needed now: a later one that fails
    // ends the run quietly and fails when a read needs it.
    const auto lastBlock = static_cast<std::uint32_t>((std::uint64_t(member().dataOffset) + member().dataSize - 1) / blockSize);
    const std::uint32_t wantedBlocks = std::min({runBlocks, blocksAhead(blockSize), lastBlock - block + 1,
                                                 archive->header.blockCount - block});
    runBlocks = std::min(runBlocks * 2, blocksAhead(blockSize));
    const CachedRunHold cached(archive->manager, archive.get(), static_cast<std::int32_t>(block), wantedBlocks);
    readAheadStart = noReadAhead;
    // Room for the whole run (every block but the last is as large), so that reading on allocates
    // nothing whatever the read sizes. The run is kept from its first block's start.
    std::uint8_t* const run = readAheadRoom(std::size_t(blocksAhead(blockSize)) * blockSize);
    std::size_t bytes = 0;
    std::size_t nextCached = 0;
    for (std::uint32_t i = 0; i < wantedBlocks;) {
        if (nextCached < cached.count && cached.grants[nextCached].block == static_cast<std::int32_t>(block + i)) {
            const ByteBuffer& decoded = *cached.grants[nextCached++].buffer;
            std::memcpy(run + bytes, decoded.data(), decoded.size());
            bytes += decoded.size();
            ++i;
            continue;
        }
        const std::uint32_t misses =
            (nextCached < cached.count ? static_cast<std::uint32_t>(cached.grants[nextCached].block) - block : wantedBlocks) - i;
        std::uint32_t decoded = 0;
        const int check = decodeBlocks(block + i, misses, run + bytes, decoded, bytes);
        i += decoded;
        if (check != 0) {
            if (i == 0)
                integrityFailed(check);
            break;
        }
    }
    readAheadSize = bytes;
    readAheadStart = streamPosition - within;
    return copyReadAhead(streamPosition, buffer, wanted);
}

int ArchiveCursor::decodeBlocks(std::uint32_t first, std::uint32_t count, std::uint8_t* out, std::uint32_t& decoded,
                                std::size_t& bytes)
{
    FileDriver& file = *archive->sharedFile;
    const auto storedSize = [&](std::uint32_t block) { return archive->storedBlocks[block].storedSize; };
    // What each block of a span decodes to; a run is never longer.
    std::uint32_t expected[readAheadMostBlocks];
    while (decoded < count) {
        // The blocks whose stored bytes follow each other in the file are read in one call; a block
        // that fails a check ends the span and is met again on its own turn.
        std::uint64_t start = 0;
        if (const int check = blockFault(first + decoded, expected[0], start))
            return check;
        std::uint64_t end = start + storedSize(first + decoded);
        std::uint32_t span = 1;
        for (std::uint64_t at = 0; decoded + span < count && blockFault(first + decoded + span, expected[span], at) == 0
                                   && at == end;
             ++span)
            end += storedSize(first + decoded + span);
        const auto readSpan = [&] {
            if (storedBytes.size() < end - start)
                storedBytes.resize(end - start);
            return file.readAt(static_cast<std::int64_t>(start), storedBytes.data(), static_cast<std::uint32_t>(end - start))
                   == end - start;
        };
        if (!readSpan()) {
            if (span == 1)
                return 5;
            // Short: one block at a time finds the one that is cut.
            span = 1;
            end = start + storedSize(first + decoded);
            if (!readSpan())
                return 5;
        }
        std::size_t offset = 0;
        for (std::uint32_t i = 0; i < span; ++i, ++decoded) {
            const std::uint32_t stored = storedSize(first + decoded);
            const std::int64_t produced = codec->decompressInto(storedBytes.data() + offset, stored, out, expected[i]);
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

std::uint32_t ArchiveCursor::readStored(std::uint32_t block, std::uint32_t within, bool sequential,
                                        std::uint8_t* buffer, std::uint32_t wanted)
{
    // A stored block is its own bytes: they come straight from the file, which the system caches; the
    // block cache saves decoding, and there is none to save. A read that follows the previous one
    // takes the rest of its block in one call, so that the next ones need no call of their own.
    const std::uint64_t streamPosition = std::uint64_t(block) * archive->header.blockSize + within;
    if (!inReadAhead(streamPosition)) {
        std::uint32_t expected;
        const std::uint64_t fileOffset = locateBlock(block, expected) + within;
        FileDriver& file = *archive->sharedFile;
        if (!sequential) {
            const std::uint32_t n = std::min(expected - within, wanted);
            if (file.readAt(static_cast<std::int64_t>(fileOffset), buffer, n) != n)
                integrityFailed(shortReadSite, 5);
            return n;
        }
        readAheadStart = noReadAhead;
        std::uint8_t* const rest = readAheadRoom(expected - within);
        if (file.readAt(static_cast<std::int64_t>(fileOffset), rest, expected - within) != expected - within)
            integrityFailed(shortReadSite, 5);
        readAheadSize = expected - within;
        readAheadStart = streamPosition;
    }
    return copyReadAhead(streamPosition, buffer, wanted);
}

void ArchiveCursor::checkBlock(std::uint32_t block)
{
    if (block >= archive->header.blockCount)
        integrityFailed(pastBlocksSite, 2);
    withDecodedBlock(block, [](const ByteBuffer&) {});
}

void ArchiveCursor::decodeBlock(std::uint32_t block, ByteBuffer& decoded)
{
    if (block >= archive->header.blockCount)
        integrityFailed(pastBlocksSite, 2);
    loadBlock(block, decoded);
}

std::uint64_t ArchiveCursor::locateBlock(std::uint32_t block, std::uint32_t& expected)
{
    std::uint64_t fileOffset = 0;
    if (const int check = blockFault(block, expected, fileOffset))
        integrityFailed(check);
    return fileOffset;
}

int ArchiveCursor::blockFault(std::uint32_t block, std::uint32_t& expected, std::uint64_t& fileOffset)
{
    const ArchiveHeader& header = archive->header;
    const StoredBlock& stored = archive->storedBlocks[block];
    fileOffset = std::uint64_t(stored.storedOffset) + header.blocksOffset;
    if (fileOffset >= header.dataEnd)
        return 3;
    if (stored.storedSize > header.maxStoredBlockSize)
        return 4;
    if (stored.storedSize == 0)
        return 6;
    // Sizes are checked against the file before anything is allocated for them.
    if (fileOffset + stored.storedSize > static_cast<std::uint64_t>(std::max(archive->sharedFile->size(), 0)))
        return 5;
    // Every block holds blockSize bytes of the data stream but the last, which holds the rest.
    expected = block + 1 == header.blockCount ? header.dataLength - block * header.blockSize : header.blockSize;
    if (header.compressionType == 0 ? expected != stored.storedSize
                                    : expected > std::uint64_t(stored.storedSize) * deflateMostExpansion)
        return 8;
    return 0;
}

void ArchiveCursor::loadBlock(std::uint32_t block, ByteBuffer& decoded)
{
    if (const int check = fillBlock(block, decoded))
        integrityFailed(check);
}

int ArchiveCursor::fillBlock(std::uint32_t block, ByteBuffer& decoded)
{
    std::uint32_t expected = 0;
    std::uint64_t at = 0;
    if (const int check = blockFault(block, expected, at))
        return check;
    const auto fileOffset = static_cast<std::int64_t>(at);
    const std::uint32_t storedSize = archive->storedBlocks[block].storedSize;
    // Positional reads: cursors of other threads read the same file at the same time.
    FileDriver& file = *archive->sharedFile;
    if (archive->header.compressionType == 0) {
        decoded.resize(storedSize);
        return file.readAt(fileOffset, decoded.data(), storedSize) != storedSize ? 5 : 0;
    }
    if (storedBytes.size() < storedSize)
        storedBytes.resize(storedSize);
    if (file.readAt(fileOffset, storedBytes.data(), storedSize) != storedSize)
        return 5;
    decoded.resize(expected);
    const std::int64_t produced = codec->decompressInto(storedBytes.data(), storedSize, decoded.data(), expected);
    if (produced < 0)
        return 7;
    return produced != expected ? 8 : 0;
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
