#include "filedriver/FileDriver.h"

#include "filedriver/ArchiveCursor.h"
#include "filedriver/FilePlatform.h"
#include "filedriver/FileStream.h"
#include "filedriver/TextReading.h"
#include "filedriver/remote/RemoteFileCore.h"
#include "orva/ByteOrder.h"
#include "orva/Log.h"

#include <limits>

namespace filedriver {
namespace {

constexpr wchar_t sourcePath[] = L".\\src\\filedriver\\FileDriver.cpp";
constexpr int unsupportedModeSite = 64;

[[noreturn]] void refuseMode(std::uint32_t mode)
{
    orva::throwLogged(orva::ErrorKind::Other, sourcePath, unsupportedModeSite, "unsupported file opening mode '%u'", mode);
}

std::unique_ptr<AFileCore> openCore(const FilePath& path, std::uint32_t mode)
{
    if (isArchivePath(path)) {
        switch (mode) {
        case OpenRead: return std::make_unique<ArchiveCursor>(path, mode);
        case OpenReadBuffered: return std::make_unique<FileStream<ArchiveCursor>>(path, mode);
        default: refuseMode(mode);
        }
    }
    if (isRemotePath(path)) {
        if (mode == OpenReadBuffered)
            return std::make_unique<FileStream<RemoteFileCore>>(path, mode);
        return std::make_unique<RemoteFileCore>(path, mode);
    }
    switch (mode) {
    case OpenRead:
    case OpenReadWrite:
    case CreateWrite:
    case CreateReadWrite:
    case Temporary: return std::make_unique<FilePlatform>(path, mode);
    case OpenReadBuffered:
    case CreateWriteBuffered: return std::make_unique<FileStream<FilePlatform>>(path, mode);
    default: refuseMode(mode);
    }
}

} // namespace

FileDriver::FileDriver(const FilePath& path, std::uint32_t mode) : core(openCore(path, mode)) {}

FileDriver::~FileDriver() = default;

std::uint32_t FileDriver::readItems(void* buffer, std::uint32_t itemSize, std::uint32_t count)
{
    // The request is cut to whole items that a 32-bit length can carry.
    const std::uint64_t wanted = std::min<std::uint64_t>(std::uint64_t(itemSize) * count,
                                                         std::numeric_limits<std::uint32_t>::max() / itemSize * itemSize);
    return core->read(buffer, static_cast<std::uint32_t>(wanted)) / itemSize;
}

std::int32_t FileDriver::readInt32()
{
    const std::uint8_t* bytes = core->fetch(4);
    return static_cast<std::int32_t>(orva::loadLittleEndian32(bytes));
}

std::wstring FileDriver::readWString(char16_t terminator)
{
    return filedriver::readWString(*core, terminator, textUnits);
}

} // namespace filedriver
