#include "filedriver/remote/RemoteFileCore.h"

#include "filedriver/remote/RemoteFailure.h"
#include "filedriver/remote/RemoteFile.h"
#include "orva/Log.h"
#include "orva/WideText.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace filedriver {
namespace {

constexpr wchar_t sourcePath[] = L".\\src\\filedriver\\remote\\RemoteFileCore.cpp";
constexpr int writeModeSite = 25;
constexpr int openSite = 29;

} // namespace

RemoteFileCore::RemoteFileCore(const FilePath& path, std::uint32_t mode) : AFileCore(mode)
{
    if (mode != OpenRead && mode != OpenReadBuffered)
        orva::throwLogged(orva::ErrorKind::Other, sourcePath, writeModeSite, "can't open file '%ls'",
                          shownPath(path).c_str());
    remote::RemoteError error;
    file = remote::RemoteFile::open(orva::toUtf8(path), error);
    if (!file)
        remote::throwRemoteFailure(error, sourcePath, openSite);
    length = static_cast<std::int32_t>(std::min<std::uint64_t>(file->size(), std::numeric_limits<std::int32_t>::max()));
}

RemoteFileCore::~RemoteFileCore() = default;

std::int32_t RemoteFileCore::seek(std::int32_t offset, std::int32_t origin)
{
    std::int64_t target = offset;
    if (origin == SeekCurrent)
        target += position;
    else if (origin == SeekEnd)
        target += length;
    else if (origin != SeekBegin)
        return -1;
    if (target < 0 || target > length)
        return -1;
    position = static_cast<std::int32_t>(target);
    return position;
}

std::uint32_t RemoteFileCore::readAt(std::int64_t offset, void* buffer, std::uint32_t count)
{
    if (offset < 0 || offset >= length)
        return 0;
    const auto wanted = static_cast<std::uint32_t>(std::min<std::int64_t>(count, length - offset));
    remote::RemoteError error;
    return file->read(static_cast<std::uint64_t>(offset), buffer, wanted, error) ? wanted : 0;
}

std::uint32_t RemoteFileCore::read(void* buffer, std::uint32_t count)
{
    const std::uint32_t got = readAt(position, buffer, count);
    position += static_cast<std::int32_t>(got);
    return got;
}

const std::uint8_t* RemoteFileCore::fetch(std::uint32_t count)
{
    std::memset(scratch, 0, sizeof scratch);
    read(scratch, std::min<std::uint32_t>(count, sizeof scratch));
    return scratch;
}

} // namespace filedriver
