#include "filedriver/ArchiveFormat.h"

#include "orva/ByteOrder.h"

namespace filedriver {
namespace {

const char* const headerFieldNames[archiveHeaderFieldCount] = {
    "magic", "version", "fileCount", "compressionType", "blockSize", "maxStoredBlockSize", "blockCount",
    "dataLength", "propertyCount", "fileSizesOffset", "fileNamesOffset", "propertiesOffset",
    "blockSizesOffset", "blocksOffset", "dataEnd"};

constexpr std::uint32_t ArchiveHeader::*headerFields[archiveHeaderFieldCount] = {
    &ArchiveHeader::magic, &ArchiveHeader::version, &ArchiveHeader::fileCount, &ArchiveHeader::compressionType,
    &ArchiveHeader::blockSize, &ArchiveHeader::maxStoredBlockSize, &ArchiveHeader::blockCount,
    &ArchiveHeader::dataLength, &ArchiveHeader::propertyCount, &ArchiveHeader::fileSizesOffset,
    &ArchiveHeader::fileNamesOffset, &ArchiveHeader::propertiesOffset, &ArchiveHeader::blockSizesOffset,
    &ArchiveHeader::blocksOffset, &ArchiveHeader::dataEnd};

} // namespace

const char* const* archiveHeaderFieldNames()
{
    return headerFieldNames;
}

std::uint32_t archiveHeaderField(const ArchiveHeader& header, std::size_t index)
{
    return header.*headerFields[index];
}

void decodeArchiveHeader(const std::uint8_t (&bytes)[archiveHeaderSize], ArchiveHeader& header)
{
    for (std::size_t i = 0; i < archiveHeaderFieldCount; ++i)
        header.*headerFields[i] = orva::loadLittleEndian32(bytes + 4 * i);
}

void encodeArchiveHeader(const ArchiveHeader& header, std::uint8_t (&bytes)[archiveHeaderSize])
{
    for (std::size_t i = 0; i < archiveHeaderFieldCount; ++i)
        orva::storeLittleEndian32(header.*headerFields[i], bytes + 4 * i);
}

} // namespace filedriver
