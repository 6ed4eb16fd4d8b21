#include "filedriver/ArchiveInfo.h"

#include "filedriver/ArchiveCursor.h"
#include "filedriver/ArchiveManager.h"
#include "filedriver/ArchiveVerify.h"
#include "filedriver/FileSystem.h"
#include "filedriver/OrvaArchive.h"
#include "orva/Log.h"

#include <algorithm>

namespace filedriver {
namespace {

constexpr wchar_t sourcePath[] = L".\\src\\filedriver\\ArchiveInfo.cpp";
constexpr int noMemberSite = 90;

} // namespace

ArchiveInfo::ArchiveInfo(const FilePath& path) : archive(archiveManager.shareArchive(path)) {}

ArchiveInfo::~ArchiveInfo() = default;
ArchiveInfo::ArchiveInfo(const ArchiveInfo&) = default;
ArchiveInfo& ArchiveInfo::operator=(const ArchiveInfo&) = default;

const FilePath& ArchiveInfo::path() const
{
    return archive->archivePath();
}

const std::vector<FileEntry>& ArchiveInfo::members() const
{
    return archive->members();
}

std::uint32_t ArchiveInfo::memberCount() const
{
    return archive->archiveHeader().fileCount;
}

std::uint32_t ArchiveInfo::findMember(const FilePath& name) const
{
    return archive->findMember(name);
}

bool ArchiveInfo::hasMember(const FilePath& name) const
{
    return archive->hasMember(name);
}

std::vector<ArchiveHeaderField> ArchiveInfo::headerFields() const
{
    const char* const* names = archiveHeaderFieldNames();
    std::vector<ArchiveHeaderField> fields;
    for (std::size_t i = 0; i < archiveHeaderFieldCount; ++i)
        fields.push_back({names[i], archiveHeaderField(archive->archiveHeader(), i)});
    return fields;
}

std::uint32_t ArchiveInfo::compressionType() const
{
    return archive->archiveHeader().compressionType;
}

std::uint32_t ArchiveInfo::blockSize() const
{
    return archive->archiveHeader().blockSize;
}

std::uint32_t ArchiveInfo::blockCount() const
{
    return archive->archiveHeader().blockCount;
}

std::uint32_t ArchiveInfo::dataLength() const
{
    return archive->archiveHeader().dataLength;
}

const std::map<std::wstring, std::wstring>& ArchiveInfo::properties() const
{
    return archive->propertyTable();
}

StoredExtent ArchiveInfo::storedBlock(std::uint32_t block) const
{
    return {archive->blocks().storedOffset(block), archive->blocks().stored()[block].storedSize};
}

void ArchiveInfo::willNeed(std::uint64_t offset, std::uint64_t length) const
{
    archive->willNeed(offset, length);
}

std::uint64_t ArchiveInfo::blocksEnd() const
{
    if (blockCount() == 0)
        return archive->archiveHeader().blocksOffset;
    const StoredExtent last = storedBlock(blockCount() - 1);
    return last.offset + last.size;
}

std::int64_t ArchiveInfo::fileSize() const
{
    FileStamp stamp;
    return fileStamp(path(), stamp) ? static_cast<std::int64_t>(stamp.size) : -1;
}

std::uint32_t ArchiveInfo::blockOfMember(const FileEntry& member, std::uint32_t offset) const
{
    return archive->blocks().blockOf(std::uint64_t(member.dataOffset) + offset);
}

BlockSpan ArchiveInfo::blocksOfMember(const FileEntry& member, std::uint64_t offset, std::uint64_t length) const
{
    const ArchiveBlocks& blocks = archive->blocks();
    const std::uint64_t start = std::uint64_t(member.dataOffset) + offset;
    return {blocks.blockOf(start), blocks.blockOf(start + std::max<std::uint64_t>(length, 1) - 1)};
}

MemberBytes ArchiveInfo::memberBytesOfBlocks(const FileEntry& member, BlockSpan span) const
{
    const ArchiveBlocks& blocks = archive->blocks();
    const std::uint64_t memberStart = member.dataOffset;
    const std::uint64_t memberEnd = memberStart + member.dataSize;
    const std::uint64_t start = std::clamp(blocks.startOf(span.first), memberStart, memberEnd);
    const std::uint64_t end = std::clamp(blocks.startOf(span.last) + blocks.blockSize(), start, memberEnd);
    return {start - memberStart, end - memberStart};
}

std::unique_ptr<AFileCore> ArchiveInfo::openMember(std::uint32_t index) const
{
    if (index >= memberCount())
        orva::throwLogged(orva::ErrorKind::NotFound, sourcePath, noMemberSite, "ArchiveInfo: archive '%ls' has no member %u",
                          shownPath(path()).c_str(), index);
    return std::make_unique<ArchiveCursor>(archive, index, OpenRead);
}

std::vector<DamagedBlock> ArchiveInfo::verify(const std::function<void(std::uint32_t block)>& checked,
                                              unsigned threads) const
{
    return findDamagedBlocks(archive, checked, threads);
}

bool releaseArchive(const FilePath& path)
{
    return archiveManager.releaseArchive(path);
}

} // namespace filedriver
