#include "filedriver/NewFile.h"

#include "filedriver/SystemError.h"
#include "filedriver/SystemFailure.h"
#include "orva/Log.h"

#include <chrono>
#include <cstdio>
#include <random>

namespace filedriver {
namespace {

constexpr wchar_t sourcePath[] = L".\\src\\filedriver\\NewFile.cpp";
constexpr int createSite = 46;
// A taken name is a clash of 64 random bits or a directory that refuses every name; either ends soon.
constexpr int createAttempts = 16;
constexpr wchar_t temporaryExtension[] = L".tmp";

} // namespace

std::wstring NewFile::uniqueSuffix()
{
    // random_device alone may be a fixed sequence on some run-time libraries: the clock is mixed in.
    static std::random_device device;
    static std::mt19937_64 generator(
        (std::uint64_t(device()) << 32 ^ device())
        ^ static_cast<std::uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    wchar_t digits[17];
    std::swprintf(digits, 17, L"%016llx", static_cast<unsigned long long>(generator()));
    return digits;
}

NewFile::NewFile(const FilePath& target, const std::wstring& prefix) : AFileCore(CreateReadWrite), target(target)
{
    forgetSystemError();
    orva::ErrorCause failure(orva::ErrorKind::System);
    const FilePath directory = target.directoryPart();
    for (int attempt = 0; attempt < createAttempts; ++attempt) {
        temporary = FilePath(directory + prefix + uniqueSuffix() + temporaryExtension);
        std::intptr_t handle;
        const Created created = createExclusive(handle);
        if (created == Created::yes) {
            file = std::make_unique<FilePlatform>(handle, CreateReadWrite);
            return;
        }
        if (created == Created::failed) {
            failure = noteFailedCall();
            break;
        }
    }
    orva::throwLogged(failure, sourcePath, createSite, "can't create a file beside '%ls'", target.c_str());
}

NewFile::~NewFile()
{
    if (file)
        discard();
    disarm();
}

void NewFile::discard()
{
    file.reset();
    removeTemporary();
    disarm();
}

bool NewFile::commit(bool replace)
{
    if (!file)
        return false;
    if (!file->flushToDisk()) {
        discard();
        return false;
    }
    file.reset();
    if (!moveOverTarget(replace)) {
        discard();
        return false;
    }
    disarm();
    flushTargetDirectory();
    return true;
}

std::int32_t NewFile::seek(std::int32_t offset, std::int32_t origin)
{
    return file ? file->seek(offset, origin) : -1;
}

std::int32_t NewFile::tell()
{
    return file ? file->tell() : -1;
}

std::int32_t NewFile::size()
{
    return file ? file->size() : -1;
}

std::uint32_t NewFile::read(void* buffer, std::uint32_t length)
{
    return file ? file->read(buffer, length) : 0;
}

std::uint32_t NewFile::write(const void* buffer, std::uint32_t length)
{
    return file ? file->write(buffer, length) : 0;
}

const std::uint8_t* NewFile::fetch(std::uint32_t length)
{
    static const std::uint8_t zeros[4] = {};
    return file ? file->fetch(length) : zeros;
}

void NewFile::put(const void* buffer, std::uint32_t length)
{
    if (file)
        file->put(buffer, length);
}

} // namespace filedriver
