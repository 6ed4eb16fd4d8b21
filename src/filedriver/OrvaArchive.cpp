#include "filedriver/OrvaArchive.h"

#include "filedriver/ArchiveManager.h"
#include "filedriver/ArchiveSource.h"
#include "filedriver/IndexStream.h"
#include "filedriver/TextReading.h"
#include "orva/ByteOrder.h"
#include "orva/Log.h"
#include "orva/WideText.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

namespace filedriver {
namespace {

constexpr wchar_t sourcePath[] = L".\\src\\filedriver\\OrvaArchive.cpp";
constexpr int indexCheck2Site = 273;
constexpr int dataLengthSite = 275;
constexpr int indexCheck3Site = 279;
constexpr int indexCheck4Site = 292;
constexpr int indexCheck6Site = 298;
constexpr int indexCheck7Site = 312;
constexpr int shortHeaderSite = 344;
constexpr int magicSite = 346;
constexpr int versionSite = 348;
constexpr int compressionSite = 350;
constexpr int lengthSite = 352;
constexpr int countsSite = 354;
constexpr int blockSizeSite = 356;
constexpr int blockCountSite = 358;
constexpr int changedSite = 362;

// The least room an entry takes on disk: a size and an empty name; a key and a value; a stored size.
constexpr std::uint64_t minimalMemberBytes = 6;
constexpr std::uint64_t minimalPropertyBytes = 4;
constexpr std::uint64_t minimalBlockBytes = 4;

// A table's length as one read asks for it: a length beyond any source's reach is cut, and found short.
std::uint32_t tableRead(std::uint64_t length)
{
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(length, UINT32_MAX));
}

// A hash of UTF-16 units, taken four at a time.
class NameHash {
public:
    void add(char16_t unit)
    {
        word |= std::uint64_t(unit) << (16 * count);
        if (++count == 4)
            mix();
    }
    void add(std::u16string_view units)
    {
        std::size_t at = 0;
        if constexpr (std::endian::native == std::endian::little)
            for (; count == 0 && at + 4 <= units.size(); at += 4) {
                std::memcpy(&word, units.data() + at, sizeof word);
                mix();
            }
        for (; at < units.size(); ++at)
            add(units[at]);
    }
    std::uint32_t value()
    {
        if (count != 0)
            mix();
        return static_cast<std::uint32_t>(state ^ (state >> 32));
    }

private:
    void mix()
    {
        state = (state ^ word) * 0x9E3779B97F4A7C15ull;
        state ^= state >> 31;
        word = 0;
        count = 0;
    }

    std::uint64_t state = 0xCBF29CE484222325ull;
    std::uint64_t word = 0;
    unsigned count = 0;
};

} // namespace

OrvaArchive::OrvaArchive(const FilePath& path, ArchiveManager* manager) : path(path), manager(manager)
{
    std::unique_ptr<ArchiveSource> source = openArchiveSource(path, std::string());
    loadedVersion = source->version();
    loadIndexFrom(*source);
    if (source->keepAfterLoad())
        loadSource = std::move(source);
}

OrvaArchive::OrvaArchive(ArchiveSource& source, const FilePath& path) : path(path), manager(nullptr)
{
    loadIndexFrom(source);
}

void OrvaArchive::loadIndexFrom(ArchiveSource& source)
{
    struct ReadingIndex {
        ArchiveSource& source;
        explicit ReadingIndex(ArchiveSource& source) : source(source) { source.readingIndex(true); }
        ~ReadingIndex() { source.readingIndex(false); }
    } reading(source);
    IndexStream file(source);
    loadIndex(file);
}

OrvaArchive::~OrvaArchive()
{
    // Its address may be given to another archive next; nothing may enter a block after this.
    storedBlocks.close();
    if (manager)
        manager->invalidateBlocks(this);
}

bool OrvaArchive::hasMember(const FilePath& name) const
{
    return findMember(name) != header.fileCount;
}

const std::vector<FileEntry>& OrvaArchive::members() const
{
    std::call_once(namesDecoded, [this] {
        for (std::uint32_t i = 0; i < fileEntries.size(); ++i)
            fileEntries[i].name = FilePath(orva::fromUtf16(storedName(i)));
    });
    return fileEntries;
}

std::u16string_view OrvaArchive::storedName(std::uint32_t entry) const
{
    return std::u16string_view(nameUnits).substr(nameStarts[entry], nameStarts[entry + 1] - nameStarts[entry] - 1);
}

std::uint32_t OrvaArchive::findMember(const FilePath& name) const
{
    // Stored names are compared as their UTF-16 units. A wide name that no stored name decodes to
    // (on Linux: beyond U+10FFFF, or a surrogate pair spelt as two characters) is never found.
    const std::u16string units = orva::toUtf16(name);
    if (nameSlots.empty() || orva::fromUtf16(units).compare(name) != 0)
        return header.fileCount;
    NameHash hasher;
    hasher.add(units);
    const std::uint32_t hash = hasher.value();
    const std::size_t mask = nameSlots.size() - 1;
    for (std::size_t slot = hash & mask; nameSlots[slot].entry != 0; slot = (slot + 1) & mask)
        if (nameSlots[slot].hash == hash && storedName(nameSlots[slot].entry - 1) == units)
            return nameSlots[slot].entry - 1;
    return header.fileCount;
}

void OrvaArchive::indexNames()
{
    std::size_t size = 1;
    while (size < 2 * fileEntries.size())
        size *= 2;
    nameSlots.assign(fileEntries.empty() ? 0 : size, NameSlot{0, 0});
    const std::size_t mask = size - 1;
    // Hashes first, so that each name's slot can be fetched from memory well before it is probed: the
    // table of a large archive is far bigger than the processor's caches.
    std::vector<std::uint32_t> hashes(fileEntries.size());
    for (std::uint32_t i = 0; i < fileEntries.size(); ++i) {
        NameHash hasher;
        hasher.add(storedName(i));
        hashes[i] = hasher.value();
    }
    constexpr std::size_t prefetchAhead = 16;
    for (std::uint32_t i = 0; i < fileEntries.size(); ++i) {
        if (i + prefetchAhead < hashes.size())
            __builtin_prefetch(&nameSlots[hashes[i + prefetchAhead] & mask]);
        const std::uint32_t hash = hashes[i];
        std::size_t slot = hash & mask;
        while (nameSlots[slot].entry != 0
               && (nameSlots[slot].hash != hash || storedName(nameSlots[slot].entry - 1) != storedName(i)))
            slot = (slot + 1) & mask;
        // An earlier entry of the same name keeps its place: the first in table order wins.
        if (nameSlots[slot].entry == 0)
            nameSlots[slot] = NameSlot{i + 1, hash};
    }
}

void OrvaArchive::loadHeader(IndexStream& file)
{
    // Messages of this stage name the archive in the system's narrow text.
    const std::string name = orva::toNative(shownPath(path));
    std::uint8_t bytes[archiveHeaderSize];
    if (file.read(bytes, archiveHeaderSize) < archiveHeaderSize)
        orva::throwLogged(orva::ErrorKind::Damaged, sourcePath, shortHeaderSite, "%s : failed to load ArchiveHeader",
                          name.c_str());
    decodeArchiveHeader(bytes, header);
    if (header.magic != archiveMagic)
        orva::throwLogged(orva::ErrorKind::Unsupported, sourcePath, magicSite,
                          "%s : magic check failed .. not in OrvaArchive format?", name.c_str());
    if (header.version != archiveVersion)
        orva::throwLogged(orva::ErrorKind::Unsupported, sourcePath, versionSite, "%s : version not supported",
                          name.c_str());
    if (header.compressionType != 0 && header.compressionType != 1)
        orva::throwLogged(orva::ErrorKind::Unsupported, sourcePath, compressionSite,
                          "%s : compression type not supported", name.c_str());
    if (file.position() != header.fileSizesOffset)
        orva::throwLogged(orva::ErrorKind::Damaged, sourcePath, lengthSite, "%s : bad length of file", name.c_str());

    // Before anything is allocated from them: counts the file cannot hold, and a block layout that
    // does not cover the data exactly.
    const std::uint64_t fileLength = file.sourceSize();
    if (header.fileCount * minimalMemberBytes > fileLength || header.propertyCount * minimalPropertyBytes > fileLength
        || header.blockCount * minimalBlockBytes > fileLength)
        orva::throwLogged(orva::ErrorKind::Damaged, sourcePath, countsSite,
                          "%s : counts do not fit a file of %llu bytes (fileCount %u, propertyCount %u, blockCount %u)",
                          name.c_str(), static_cast<unsigned long long>(fileLength), header.fileCount,
                          header.propertyCount, header.blockCount);
    if (header.blockSize == 0)
        orva::throwLogged(orva::ErrorKind::Damaged, sourcePath, blockSizeSite, "%s : blockSize is 0", name.c_str());
    if (header.blockCount != ArchiveBlocks::countFor(header.dataLength, header.blockSize))
        orva::throwLogged(orva::ErrorKind::Damaged, sourcePath, blockCountSite,
                          "%s : blockCount %u does not match dataLength %u in blocks of %u bytes", name.c_str(),
                          header.blockCount, header.dataLength, header.blockSize);
}

void OrvaArchive::readSizes(IndexStream& file)
{
    fileEntries.clear();
    fileEntries.reserve(header.fileCount);
    // Bytes the file lacks count as zeros and are passed over, exactly as reading the numbers one by one
    // would.
    const std::uint64_t start = file.position();
    const std::uint64_t wanted = std::uint64_t(header.fileCount) * 4;
    std::uint32_t got = 0;
    const std::uint8_t* bytes = file.view(tableRead(wanted), got);
    if (got < wanted && start + wanted <= INT32_MAX)
        file.seek(static_cast<std::int32_t>(start + wanted), SeekBegin);
    std::uint32_t running = 0;
    std::uint64_t total = 0;
    const std::uint32_t whole = got / 4;
    for (std::uint32_t i = 0; i < header.fileCount; ++i) {
        std::uint8_t cut[4] = {};
        if (i == whole && got % 4 != 0)
            std::memcpy(cut, bytes + std::size_t(4) * i, got % 4);
        const std::uint32_t dataSize = orva::loadLittleEndian32(i < whole ? bytes + std::size_t(4) * i : cut);
        fileEntries.push_back(FileEntry{dataSize, running, FilePath()});
        running += dataSize;
        total += dataSize;
    }
    if (file.position() != header.fileNamesOffset)
        orva::throwLogged(orva::ErrorKind::Damaged, sourcePath, indexCheck2Site,
                          "integrity check failed in ArchiveHeader 2");
    if (total != header.dataLength)
        orva::throwLogged(orva::ErrorKind::Damaged, sourcePath, dataLengthSite,
                          "integrity check failed in ArchiveHeader: dataLength %u is not the %llu bytes of the files",
                          header.dataLength, static_cast<unsigned long long>(total));
}

bool OrvaArchive::readNamesAtOnce(IndexStream& file)
{
    // The header says how long the name table is; when the names end exactly there, one read gives
    // what reading them one by one would. Anything else is left to the one-by-one reading.
    const std::uint64_t start = file.position();
    const std::int64_t length = std::int64_t(header.propertiesOffset) - std::int64_t(start);
    if (length < 0 || length % 2 != 0 || length > std::int64_t(file.sourceSize()) - std::int64_t(start))
        return false;
    std::uint32_t got = 0;
    const std::uint8_t* bytes = file.view(static_cast<std::uint32_t>(length), got);
    bool whole = got == length;
    nameUnits.resize(got / 2);
    if constexpr (std::endian::native == std::endian::little)
        std::memcpy(nameUnits.data(), bytes, nameUnits.size() * 2);
    else
        for (std::size_t i = 0; i < nameUnits.size(); ++i)
            nameUnits[i] = orva::loadLittleEndian16(bytes + 2 * i);
    std::size_t at = 0;
    for (std::uint32_t i = 0; whole && i < header.fileCount; ++i) {
        nameStarts.push_back(static_cast<std::uint32_t>(at));
        const std::size_t end = nameUnits.find(u'\0', at);
        whole = end != std::u16string::npos;
        at = end + 1;
    }
    if (whole && at == nameUnits.size())
        return true;
    nameUnits.clear();
    nameStarts.clear();
    file.seek(static_cast<std::int32_t>(start), SeekBegin);
    return false;
}

void OrvaArchive::readNames(IndexStream& file)
{
    nameUnits.clear();
    nameStarts.clear();
    nameStarts.reserve(std::size_t(header.fileCount) + 1);
    if (!readNamesAtOnce(file)) {
        std::u16string units;
        for (std::uint32_t i = 0; i < header.fileCount; ++i) {
            nameStarts.push_back(static_cast<std::uint32_t>(nameUnits.size()));
            nameUnits += orva::toUtf16(readWString(file, 0, units));
            nameUnits.push_back(u'\0');
        }
    }
    nameStarts.push_back(static_cast<std::uint32_t>(nameUnits.size()));
    if (file.position() != header.propertiesOffset)
        orva::throwLogged(orva::ErrorKind::Damaged, sourcePath, indexCheck3Site,
                          "integrity check failed in ArchiveHeader 3");
}

void OrvaArchive::readBlockSizes(IndexStream& file)
{
    if (file.position() != header.blockSizesOffset)
        orva::throwLogged(orva::ErrorKind::Damaged, sourcePath, indexCheck4Site,
                          "integrity check failed in ArchiveHeader 4");
    std::vector<StoredBlock> stored;
    if (header.blockCount > 0) {
        std::uint32_t got = 0;
        const std::uint8_t* sizes = file.view(tableRead(std::uint64_t(header.blockCount) * 4), got);
        if (got / 4 != header.blockCount)
            orva::throwLogged(orva::ErrorKind::Damaged, sourcePath, indexCheck6Site,
                              "integrity check failed in ArchiveHeader 6");
        stored.reserve(header.blockCount);
        std::uint32_t runningStored = 0;
        for (std::uint32_t k = 0; k < header.blockCount; ++k) {
            const std::uint32_t size = orva::loadLittleEndian32(sizes + std::size_t(4) * k);
            stored.push_back(StoredBlock{size, runningStored});
            runningStored += size;
        }
    }
    if (file.position() != header.blocksOffset)
        orva::throwLogged(orva::ErrorKind::Damaged, sourcePath, indexCheck7Site,
                          "integrity check failed in ArchiveHeader 7");
    storedBlocks = ArchiveBlocks(header, std::move(stored), this, manager);
}

void OrvaArchive::loadIndex(IndexStream& file)
{
    loadHeader(file);
    // The rest of the index in one read of the source, where the header says it ends.
    file.expectEnd(header.blocksOffset);
    readSizes(file);
    readNames(file);
    indexNames();
    properties.clear();
    std::u16string units;
    for (std::uint32_t i = 0; i < header.propertyCount; ++i) {
        std::wstring key = readWString(file, 0, units);
        properties[key] = readWString(file, 0, units);
    }
    readBlockSizes(file);
}

void OrvaArchive::failChanged(const FilePath& path)
{
    orva::throwLogged(orva::ErrorKind::Changed, sourcePath, changedSite, "%s : file changed since its index was loaded",
                      orva::toNative(shownPath(path)).c_str());
}

void OrvaArchive::checkUnchangedIndex(ArchiveSource& source)
{
    const std::string now = source.version();
    if (!now.empty() && now == loadedVersion)
        return;
    // Rewritten or replaced: its bytes may be read with this index only if it still describes them. The
    // index compared is the opened file's, which the one at the path may no longer be.
    const OrvaArchive fresh(source, path);
    const auto sameSizes = [](const auto& a, const auto& b, auto size) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                          [&](const auto& x, const auto& y) { return size(x) == size(y); });
    };
    const bool same =
        std::memcmp(&fresh.header, &header, sizeof header) == 0 && fresh.nameUnits == nameUnits
        && sameSizes(fresh.fileEntries, fileEntries, [](const FileEntry& e) { return e.dataSize; })
        && sameSizes(fresh.blocks().stored(), blocks().stored(), [](const StoredBlock& b) { return b.storedSize; });
    if (!same)
        failChanged(path);
    loadedVersion = now;
}

bool OrvaArchive::hasReaders()
{
    std::lock_guard<std::mutex> lock(readersMutex);
    return readers > 0;
}

void OrvaArchive::willNeed(std::uint64_t offset, std::uint64_t length)
{
    std::lock_guard<std::mutex> lock(readersMutex);
    storedBlocks.willNeed(offset, length);
}

void OrvaArchive::attachReader()
{
    std::lock_guard<std::mutex> lock(readersMutex);
    if (!storedBlocks.isOpen() && loadSource) {
        storedBlocks.open(std::move(loadSource));
    } else if (!storedBlocks.isOpen()) {
        std::unique_ptr<ArchiveSource> source = openArchiveSource(path, loadedVersion);
        checkUnchangedIndex(*source);
        storedBlocks.open(std::move(source));
    }
    ++readers;
}

void OrvaArchive::detachReader()
{
    std::lock_guard<std::mutex> lock(readersMutex);
    if (--readers > 0)
        return;
    // Closed first: decoding ahead ends there, and enters no block after the invalidation.
    storedBlocks.close();
    storedBlocks.forgetCached();
    if (manager)
        manager->invalidateBlocks(this);
}

} // namespace filedriver
