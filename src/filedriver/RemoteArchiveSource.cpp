#include "filedriver/RemoteArchiveSource.h"

#include "filedriver/OrvaArchive.h"
#include "filedriver/remote/RemoteFailure.h"
#include "filedriver/remote/RemoteFile.h"
#include "orva/WideText.h"

#include <algorithm>

namespace filedriver {
namespace {

constexpr wchar_t sourcePath[] = L".\\src\\filedriver\\RemoteArchiveSource.cpp";
constexpr int openSite = 21;
constexpr int readSite = 43;

} // namespace

RemoteArchiveSource::RemoteArchiveSource(const FilePath& path) : path(path)
{
    remote::RemoteError error;
    file = remote::RemoteFile::open(orva::toUtf8(path), error);
    if (!file)
        remote::throwRemoteFailure(error, sourcePath, openSite);
}

RemoteArchiveSource::~RemoteArchiveSource() = default;

std::uint64_t RemoteArchiveSource::size() const
{
    return file->size();
}

void RemoteArchiveSource::willNeed(std::uint64_t offset, std::uint64_t length)
{
    file->willNeed(offset, length);
}

void RemoteArchiveSource::readingIndex(bool reading)
{
    file->setReadAhead(!reading);
}

std::string RemoteArchiveSource::version() const
{
    return file->validator();
}

std::uint32_t RemoteArchiveSource::readAt(std::uint64_t offset, void* buffer, std::uint32_t length)
{
    if (offset >= file->size())
        return 0;
    const auto wanted = static_cast<std::uint32_t>(std::min<std::uint64_t>(length, file->size() - offset));
    remote::RemoteError error;
    if (file->read(offset, buffer, wanted, error))
        return wanted;
    if (error.kind == remote::RemoteErrorKind::Changed) {
        foundChanged = true;
        OrvaArchive::failChanged(path);
    }
    remote::throwRemoteFailure(error, sourcePath, readSite);
}

} // namespace filedriver
