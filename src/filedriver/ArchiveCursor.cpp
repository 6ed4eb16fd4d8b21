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

} // namespace

ArchiveCursor::ArchiveCursor(const FilePath& path, std::uint32_t mode)
    : AFileCore(mode), archive(archiveManager.shareArchive(path)),
      codec(createCompression(PropertyMap{{"compressionType", static_cast<std::int32_t>(archive->header.compressionType)}}))
{
    archive->attachCursor(this);
    memberIndex = archive->findMember(path.fileName(false));
    if (memberIndex == archive->header.fileCount) {
        archive->detachCursor(this);
        orva::throwLogged(sourcePath, notFoundSite, "ArchiveCursor: file '%ls' not found in archive '%ls'",
                          path.c_str(), archive->path.c_str());
    }
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
    while (length > 0 && tell() < size()) {
        const std::uint32_t got = readChunk(out + total, length);
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
    }
    use(static_cast<const ByteBuffer&>(*hold.buffer));
}

std::uint32_t ArchiveCursor::readChunk(std::uint8_t* buffer, std::uint32_t length)
{
    const ArchiveHeader& header = archive->header;
    const std::uint32_t streamPosition = member().dataOffset + static_cast<std::uint32_t>(position);
    if (streamPosition >= header.dataLength)
        integrityFailed(pastDataSite, 1);
    const std::uint32_t block = streamPosition / header.blockSize;
    if (block >= header.blockCount)
        integrityFailed(pastBlocksSite, 2);

    const std::uint32_t within = streamPosition % header.blockSize;
    const bool sequential = streamPosition == sequentialPosition;
    const std::uint32_t wanted = std::min(length, member().dataSize - static_cast<std::uint32_t>(position));
    const std::uint32_t n = header.compressionType == 0 ? readStored(block, within, sequential, buffer, wanted)
                                                        : readDecoded(block, within, sequential, buffer, wanted);
    sequentialPosition = std::uint64_t(streamPosition) + n;
    position += static_cast<std::int32_t>(n);
    return n;
}

bool ArchiveCursor::inReadAhead(std::uint32_t block, std::uint32_t within) const
{
    return block == readAheadBlock && within >= readAheadFrom && within - readAheadFrom < readAhead.size();
}

std::uint32_t ArchiveCursor::copyReadAhead(std::uint32_t within, std::uint8_t* buffer, std::uint32_t wanted) const
{
    const std::uint32_t offset = within - readAheadFrom;
    const std::uint32_t n = std::min(static_cast<std::uint32_t>(readAhead.size()) - offset, wanted);
    std::memcpy(buffer, readAhead.data() + offset, n);
    return n;
}

std::uint32_t ArchiveCursor::readDecoded(std::uint32_t block, std::uint32_t within, bool sequential,
                                         std::uint8_t* buffer, std::uint32_t wanted)
{
    // As for stored blocks, a read that follows the previous one keeps the rest of its decoded block, so
    // that the next reads of it take no lock of the cache (on Windows, a system call each time).
    if (inReadAhead(block, within))
        return copyReadAhead(within, buffer, wanted);
    std::uint32_t n = 0;
    withDecodedBlock(block, [&](const ByteBuffer& decoded) {
        n = std::min(static_cast<std::uint32_t>(decoded.size()) - within, wanted);
        if (n > 0)
            std::memcpy(buffer, decoded.data() + within, n);
        if (!sequential)
            return;
        // Room for the whole block (every block but the last is as large), so that reading on allocates
        // nothing whatever the read sizes.
        readAhead.reserve(decoded.size());
        if (n < decoded.size() - within) {
            readAheadBlock = noBlock;
            readAhead.assign(decoded.begin() + within, decoded.end());
            readAheadBlock = block;
            readAheadFrom = within;
        }
    });
    return n;
}

std::uint32_t ArchiveCursor::readStored(std::uint32_t block, std::uint32_t within, bool sequential,
                                        std::uint8_t* buffer, std::uint32_t wanted)
{
    // A stored block is its own bytes: they come straight from the file, which the system caches; the
    // block cache saves decoding, and there is none to save. A read that follows the previous one
    // takes the rest of its block in one call, so that the next ones need no call of their own.
    if (!inReadAhead(block, within)) {
        std::uint32_t expected;
        const std::uint64_t fileOffset = locateBlock(block, expected) + within;
        FileDriver& file = *archive->sharedFile;
        if (!sequential) {
            const std::uint32_t n = std::min(expected - within, wanted);
            if (file.readAt(static_cast<std::int64_t>(fileOffset), buffer, n) != n)
                integrityFailed(shortReadSite, 5);
            return n;
        }
        readAheadBlock = noBlock;
        readAhead.resize(expected - within);
        if (file.readAt(static_cast<std::int64_t>(fileOffset), readAhead.data(), expected - within) != readAhead.size())
            integrityFailed(shortReadSite, 5);
        readAheadBlock = block;
        readAheadFrom = within;
    }
    return copyReadAhead(within, buffer, wanted);
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
    const ArchiveHeader& header = archive->header;
    const StoredBlock& stored = archive->storedBlocks[block];
    const std::uint64_t fileOffset = std::uint64_t(stored.storedOffset) + header.blocksOffset;
    if (fileOffset >= header.dataEnd)
        integrityFailed(storedOffsetSite, 3);
    if (stored.storedSize > header.maxStoredBlockSize)
        integrityFailed(storedSizeSite, 4);
    if (stored.storedSize == 0)
        integrityFailed(emptyStoredSite, 6);
    // Sizes are checked against the file before anything is allocated for them.
    if (fileOffset + stored.storedSize > static_cast<std::uint64_t>(std::max(archive->sharedFile->size(), 0)))
        integrityFailed(shortReadSite, 5);
    // Every block holds blockSize bytes of the data stream but the last, which holds the rest.
    expected = block + 1 == header.blockCount ? header.dataLength - block * header.blockSize : header.blockSize;
    if (header.compressionType == 0 ? expected != stored.storedSize
                                    : expected > std::uint64_t(stored.storedSize) * deflateMostExpansion)
        integrityFailed(decodedLengthSite, 8);
    return fileOffset;
}

void ArchiveCursor::loadBlock(std::uint32_t block, ByteBuffer& decoded)
{
    std::uint32_t expected;
    const auto fileOffset = static_cast<std::int64_t>(locateBlock(block, expected));
    const std::uint32_t storedSize = archive->storedBlocks[block].storedSize;
    // Positional reads: cursors of other threads read the same file at the same time.
    FileDriver& file = *archive->sharedFile;
    if (archive->header.compressionType == 0) {
        decoded.resize(storedSize);
        if (file.readAt(fileOffset, decoded.data(), storedSize) != storedSize)
            integrityFailed(shortReadSite, 5);
        return;
    }
    storedBytes.resize(storedSize);
    if (file.readAt(fileOffset, storedBytes.data(), storedSize) != storedSize)
        integrityFailed(shortReadSite, 5);
    decoded.resize(expected);
    if (!codec->decompress(storedBytes, decoded))
        integrityFailed(damagedBlockSite, 7);
    if (decoded.size() != expected)
        integrityFailed(decodedLengthSite, 8);
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
