#include "filedriver/NewFile.h"

#include "orva/Log.h"

#include <chrono>
#include <cstdio>
#include <random>

namespace filedriver {
namespace {

constexpr wchar_t sourcePath[] = L".\\src\\filedriver\\NewFile.cpp";
constexpr int createSite = 43;
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
    const FilePath directory = target.directoryPart();
    for (int attempt = 0; attempt < createAttempts; ++attempt) {
        temporary = FilePath(directory + prefix + uniqueSuffix() + temporaryExtension);
        const Created created = createExclusive();
        if (created == Created::yes)
            return;
        if (created == Created::failed)
            break;
    }
    orva::throwLogged(sourcePath, createSite, "can't create a file beside '%ls'", target.c_str());
}

NewFile::~NewFile()
{
    if (handle != noFile)
        discard();
    disarm();
}

const std::uint8_t* NewFile::fetch(std::uint32_t length)
{
    for (std::uint8_t& byte : scratch)
        byte = 0;
    read(scratch, length < scratchSize ? length : scratchSize);
    return scratch;
}

void NewFile::put(const void* buffer, std::uint32_t length)
{
    write(buffer, length);
}

} // namespace filedriver
