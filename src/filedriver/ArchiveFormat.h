#pragma once
// The archive file's layout on disk, shared by the loader (OrvaArchive) and the writer (ArchiveWriter).
//
// All numbers uint32 little-endian (orva/ByteOrder.h), all texts UTF-16LE ended by a 0 unit, no gaps:
//   header (60) | N member sizes | N member names | P key/value pairs | B stored block sizes | blocks
// N is fileCount, P propertyCount, B blockCount; each table starts at the offset its header field
// gives. The data stream (all members one after another, in table order) is cut into blocks of
// blockSize bytes, the last holding the rest; each block is stored on its own, unchanged
// (compressionType 0) or as one zlib stream (compressionType 1), one after another from blocksOffset.

#include <cstddef>
#include <cstdint>

namespace filedriver {

constexpr std::uint32_t archiveMagic = 0x42000001;
constexpr std::uint32_t archiveVersion = 1;
constexpr std::uint32_t archiveHeaderSize = 60;

struct ArchiveHeader {
    std::uint32_t magic;
    std::uint32_t version;
    std::uint32_t fileCount;
    std::uint32_t compressionType; // 0 stored, 1 zlib
    std::uint32_t blockSize;
    std::uint32_t maxStoredBlockSize;
    std::uint32_t blockCount;
    std::uint32_t dataLength;
    std::uint32_t propertyCount;
    std::uint32_t fileSizesOffset;
    std::uint32_t fileNamesOffset;
    std::uint32_t propertiesOffset;
    std::uint32_t blockSizesOffset;
    std::uint32_t blocksOffset;
    std::uint32_t dataEnd;
};
static_assert(sizeof(ArchiveHeader) == archiveHeaderSize);

constexpr std::size_t archiveHeaderFieldCount = archiveHeaderSize / 4;

// The fields in layout order, as the format names them, and their values.
const char* const* archiveHeaderFieldNames();
std::uint32_t archiveHeaderField(const ArchiveHeader& header, std::size_t index);
// The header's fields in layout order; the two directions of its little-endian bytes.
void decodeArchiveHeader(const std::uint8_t (&bytes)[archiveHeaderSize], ArchiveHeader& header);
void encodeArchiveHeader(const ArchiveHeader& header, std::uint8_t (&bytes)[archiveHeaderSize]);

} // namespace filedriver
