#include "filedriver/ArchiveWriter.h"

#include "filedriver/ArchiveBlocks.h"
#include "filedriver/ArchiveFormat.h"
#include "filedriver/FilePlatform.h"
#include "filedriver/FileSystem.h"
#include "filedriver/OrderedBlockPool.h"
#include "filedriver/ZlibEncoder.h"

#include "orva/ByteOrder.h"
#include "orva/Log.h"
#include "orva/WideText.h"

#include <algorithm>
#include <limits>

namespace filedriver {
namespace {

constexpr wchar_t sourcePath[] = L".\\src\\filedriver\\ArchiveWriter.cpp";
constexpr int optionsSite = 40;
constexpr int tooLargeSite = 44;
constexpr int indexTooLargeSite = 48;
constexpr int storedTooLargeSite = 52;

// Offsets in the file are signed 32-bit on their way through the library.
constexpr std::uint64_t largestArchive = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());

// Enough for every worker to find the next block waiting while the writer writes an earlier one.
constexpr unsigned jobsPerThread = 3;

constexpr std::int32_t lowestLevel = -1;
constexpr std::int32_t highestLevel = 9;

std::uint64_t textBytes(const std::wstring& text)
{
    return 2 * (std::uint64_t(orva::toUtf16(text).size()) + 1);
}

// UTF-16LE with its terminator at `at`; returns where the next text goes.
std::size_t putText(const std::wstring& text, std::vector<std::uint8_t>& out, std::size_t at)
{
    for (const char16_t unit : orva::toUtf16(text)) {
        orva::storeLittleEndian16(unit, out.data() + at);
        at += 2;
    }
    orva::storeLittleEndian16(0, out.data() + at);
    return at + 2;
}

} // namespace

// The writer's state: its file, the header being laid out and the encoding of blocks. The caller's thread
// alone uses it; the pool's workers touch only their jobs and their encoders.
class ArchiveWriter::Writing {
public:
    Writing(const FilePath& path, const std::vector<ArchiveMemberPlan>& members, const ArchiveWriterOptions& options);
    Writing(AFileCore& file, const std::vector<ArchiveMemberPlan>& members, const ArchiveWriterOptions& options);
    ~Writing();

    bool append(const void* data, std::uint32_t length);
    bool finish();
    bool outgrewFormat() const;

private:
    // Checks the options, lays out the header and sets up the encoders; the index as it is written first.
    std::vector<std::uint8_t> layOut(const std::vector<ArchiveMemberPlan>& members, const ArchiveWriterOptions& options);
    // Where appended bytes go: the pool's next job, or the one block of a writer without a pool.
    ByteBuffer& filling();
    // Hands the filled block on: to the pool (writing what that makes room for), or stored at once.
    bool storeBlock();
    bool writeOldest();
    bool writeStored(const ByteBuffer& stored);
    bool writeAll(const void* data, std::uint32_t length);
    // The failure that ends the writer: the file is closed and removed.
    bool fail();

    std::unique_ptr<ArchiveHeader> header;
    FilePath path; // of the file the writer owns
    std::unique_ptr<AFileCore> ownedFile;
    AFileCore* file = nullptr; // until finish or a failure
    // One encoder per pool worker; a writer without a pool encodes with the first on its own thread.
    std::vector<std::unique_ptr<ZlibEncoder>> encoders;
    std::unique_ptr<OrderedBlockPool> pool;
    ByteBuffer block;
    ByteBuffer encoded;
    std::vector<std::uint32_t> storedSizes;
    std::uint64_t appended = 0;
    std::uint32_t storedTotal = 0;
    bool failed = false;
    bool outgrown = false;
};

ArchiveWriter::ArchiveWriter(const FilePath& path, const std::vector<ArchiveMemberPlan>& members,
                             const ArchiveWriterOptions& options)
    : writing(std::make_unique<Writing>(path, members, options))
{
}

ArchiveWriter::ArchiveWriter(AFileCore& file, const std::vector<ArchiveMemberPlan>& members,
                             const ArchiveWriterOptions& options)
    : writing(std::make_unique<Writing>(file, members, options))
{
}

ArchiveWriter::~ArchiveWriter() = default;

bool ArchiveWriter::append(const void* data, std::uint32_t length)
{
    return writing->append(data, length);
}

bool ArchiveWriter::finish()
{
    return writing->finish();
}

bool ArchiveWriter::outgrewFormat() const
{
    return writing->outgrewFormat();
}

ArchiveWriter::Writing::Writing(const FilePath& path, const std::vector<ArchiveMemberPlan>& members,
                                const ArchiveWriterOptions& options)
{
    const std::vector<std::uint8_t> index = layOut(members, options);
    // Unbuffered, every piece in one large write: the index at once, then each stored block.
    this->path = path;
    ownedFile = std::make_unique<FilePlatform>(path, CreateReadWrite);
    file = ownedFile.get();
    if (!writeAll(index.data(), static_cast<std::uint32_t>(index.size())))
        fail();
}

ArchiveWriter::Writing::Writing(AFileCore& target, const std::vector<ArchiveMemberPlan>& members,
                                const ArchiveWriterOptions& options)
{
    const std::vector<std::uint8_t> index = layOut(members, options);
    file = &target;
    if (file->seek(0, SeekBegin) != 0 || !writeAll(index.data(), static_cast<std::uint32_t>(index.size())))
        fail();
}

std::vector<std::uint8_t> ArchiveWriter::Writing::layOut(const std::vector<ArchiveMemberPlan>& members,
                                                const ArchiveWriterOptions& options)
{
    if (options.blockSize == 0 || options.compressionType > 1 || options.level < lowestLevel
        || options.level > highestLevel)
        orva::throwLogged(orva::ErrorKind::Other, sourcePath, optionsSite,
                          "archive writer: unusable options (blockSize %u, compressionType %u, level %d)",
                          options.blockSize, options.compressionType, options.level);
    std::uint64_t dataLength = 0;
    std::uint64_t namesLength = 0;
    for (const ArchiveMemberPlan& member : members) {
        dataLength += member.size;
        namesLength += textBytes(member.name);
    }
    std::uint64_t propertiesLength = 0;
    for (const auto& property : options.properties)
        propertiesLength += textBytes(property.first) + textBytes(property.second);
    if (dataLength > std::numeric_limits<std::uint32_t>::max())
        orva::throwLogged(orva::ErrorKind::Other, sourcePath, tooLargeSite, "archive writer: %llu bytes of data do not fit an archive",
                          static_cast<unsigned long long>(dataLength));

    header = std::make_unique<ArchiveHeader>();
    header->magic = archiveMagic;
    header->version = archiveVersion;
    header->fileCount = static_cast<std::uint32_t>(members.size());
    header->compressionType = options.compressionType;
    header->blockSize = options.blockSize;
    header->dataLength = static_cast<std::uint32_t>(dataLength);
    header->blockCount = static_cast<std::uint32_t>(ArchiveBlocks::countFor(dataLength, options.blockSize));
    header->propertyCount = static_cast<std::uint32_t>(options.properties.size());
    header->fileSizesOffset = archiveHeaderSize;
    const std::uint64_t namesOffset = archiveHeaderSize + 4 * std::uint64_t(members.size());
    const std::uint64_t propertiesOffset = namesOffset + namesLength;
    const std::uint64_t blockSizesOffset = propertiesOffset + propertiesLength;
    const std::uint64_t blocksOffset = blockSizesOffset + 4 * std::uint64_t(header->blockCount);
    if (blocksOffset > largestArchive)
        orva::throwLogged(orva::ErrorKind::Other, sourcePath, indexTooLargeSite,
                          "archive writer: the index does not fit an archive");
    // Stored blocks are the data as it is: the archive's size is known now.
    if (options.compressionType == 0 && blocksOffset + dataLength > largestArchive)
        orva::throwLogged(orva::ErrorKind::Other, sourcePath, storedTooLargeSite,
                          "archive writer: a stored archive of %llu bytes does not fit the format (less than 2 GiB)",
                          static_cast<unsigned long long>(blocksOffset + dataLength));
    header->fileNamesOffset = static_cast<std::uint32_t>(namesOffset);
    header->propertiesOffset = static_cast<std::uint32_t>(propertiesOffset);
    header->blockSizesOffset = static_cast<std::uint32_t>(blockSizesOffset);
    header->blocksOffset = static_cast<std::uint32_t>(blocksOffset);

    if (options.compressionType == 1) {
        // More threads than blocks would have nothing to do.
        const auto threads = static_cast<unsigned>(std::min<std::uint64_t>(
            {options.threads ? options.threads : OrderedBlockPool::machineThreads(),
             std::max<std::uint32_t>(header->blockCount, 1), OrderedBlockPool::maxThreads}));
        for (unsigned k = 0; k < threads; ++k)
            encoders.push_back(makeZlibEncoder(options.level));
        if (threads > 1)
            pool = std::make_unique<OrderedBlockPool>(threads, jobsPerThread, [this](unsigned worker, PoolJob& job) {
                encoders[worker]->encode(job.input.data(), job.input.size(), job.output);
            });
    }
    // A block size beyond the data never needs its full room.
    if (!pool)
        block.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(options.blockSize, dataLength)));
    storedSizes.reserve(header->blockCount);

    // The header and the stored sizes are zeros until finish knows them.
    std::vector<std::uint8_t> index(static_cast<std::size_t>(blocksOffset), 0);
    std::size_t at = archiveHeaderSize;
    for (const ArchiveMemberPlan& member : members) {
        orva::storeLittleEndian32(member.size, index.data() + at);
        at += 4;
    }
    for (const ArchiveMemberPlan& member : members)
        at = putText(member.name, index, at);
    for (const auto& property : options.properties) {
        at = putText(property.first, index, at);
        at = putText(property.second, index, at);
    }
    return index;
}

ArchiveWriter::Writing::~Writing()
{
    if (ownedFile)
        fail();
}

bool ArchiveWriter::Writing::fail()
{
    failed = true;
    pool.reset();
    // A caller's file is the caller's to remove.
    if (ownedFile) {
        ownedFile.reset();
        file = nullptr;
        deleteFile(path);
    }
    return false;
}

bool ArchiveWriter::Writing::writeAll(const void* data, std::uint32_t length)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    for (std::uint32_t done = 0; !failed && done < length;) {
        const std::uint32_t wrote = file->write(bytes + done, length - done);
        failed = wrote == 0;
        done += wrote;
    }
    return !failed;
}

ByteBuffer& ArchiveWriter::Writing::filling()
{
    return pool ? pool->freeJob().input : block;
}

bool ArchiveWriter::Writing::append(const void* data, std::uint32_t length)
{
    if (failed || !file || appended + length > header->dataLength)
        return fail();
    const auto* in = static_cast<const std::uint8_t*>(data);
    appended += length;
    while (length > 0) {
        ByteBuffer& into = filling();
        const std::uint32_t room = header->blockSize - static_cast<std::uint32_t>(into.size());
        const std::uint32_t piece = std::min(room, length);
        into.insert(into.end(), in, in + piece);
        in += piece;
        length -= piece;
        if (into.size() == header->blockSize && !storeBlock())
            return fail();
    }
    return true;
}

bool ArchiveWriter::Writing::storeBlock()
{
    if (pool) {
        pool->submit();
        return !pool->full() || writeOldest();
    }
    bool stored;
    if (header->compressionType == 0)
        stored = writeStored(block);
    else
        stored = encoders.front()->encode(block.data(), block.size(), encoded) && writeStored(encoded);
    block.clear();
    return stored;
}

bool ArchiveWriter::Writing::writeOldest()
{
    PoolJob& job = pool->oldest();
    const bool stored = !job.failure && !job.output.empty() && writeStored(job.output);
    pool->retire();
    return stored;
}

bool ArchiveWriter::Writing::writeStored(const ByteBuffer& stored)
{
    if (stored.empty())
        return false;
    if (std::uint64_t(storedTotal) + stored.size() + header->blocksOffset > largestArchive) {
        outgrown = true;
        return false;
    }
    storedSizes.push_back(static_cast<std::uint32_t>(stored.size()));
    storedTotal += static_cast<std::uint32_t>(stored.size());
    header->maxStoredBlockSize = std::max(header->maxStoredBlockSize, static_cast<std::uint32_t>(stored.size()));
    return writeAll(stored.data(), static_cast<std::uint32_t>(stored.size()));
}

bool ArchiveWriter::Writing::outgrewFormat() const
{
    return outgrown;
}

bool ArchiveWriter::Writing::finish()
{
    // A finished writer has let its file go: there is nothing left to finish.
    if (!file || failed)
        return false;
    // Not a failure: the missing bytes may still come.
    if (appended != header->dataLength)
        return false;
    if (!filling().empty() && !storeBlock())
        return fail();
    while (pool && !pool->idle())
        if (!writeOldest())
            return fail();
    header->dataEnd = header->blocksOffset + storedTotal;

    std::vector<std::uint8_t> sizes(storedSizes.size() * 4);
    for (std::size_t k = 0; k < storedSizes.size(); ++k)
        orva::storeLittleEndian32(storedSizes[k], sizes.data() + 4 * k);
    std::uint8_t headerBytes[archiveHeaderSize];
    encodeArchiveHeader(*header, headerBytes);
    if (file->seek(static_cast<std::int32_t>(header->blockSizesOffset), SeekBegin) == -1
        || !writeAll(sizes.data(), static_cast<std::uint32_t>(sizes.size())) || file->seek(0, SeekBegin) == -1
        || !writeAll(headerBytes, archiveHeaderSize))
        return fail();
    pool.reset();
    ownedFile.reset();
    file = nullptr;
    return true;
}

bool writeArchive(const FilePath& path, const std::vector<std::pair<std::wstring, ByteBuffer>>& members,
                  const ArchiveWriterOptions& options)
{
    std::vector<ArchiveMemberPlan> plan;
    for (const auto& member : members)
        plan.push_back({member.first, static_cast<std::uint32_t>(member.second.size())});
    ArchiveWriter writer(path, plan, options);
    for (const auto& member : members)
        if (!writer.append(member.second.data(), static_cast<std::uint32_t>(member.second.size())))
            return false;
    return writer.finish();
}

} // namespace filedriver
