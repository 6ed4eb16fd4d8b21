#include "dataGleaner.h"

#include "filedriver/FileDriver.h"
#include "orva/WideText.h"
#include "orva/exception.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

constexpr int contractBroken = 2;
constexpr int unreadable = 1;
constexpr std::uint32_t readPieceSize = 65536;

int refuse(int code, const std::string& why)
{
    std::fprintf(stderr, "dataGleaner: %s\n", why.c_str());
    std::fflush(stderr);
    return code;
}

void say(const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

bool terminated(const char16_t (&buffer)[runParametersPathUnits])
{
    return std::find(buffer, buffer + runParametersPathUnits, u'\0') != buffer + runParametersPathUnits;
}

std::u16string textOf(const char16_t (&buffer)[runParametersPathUnits])
{
    return std::u16string(buffer);
}

// Reads the atlas whole, as a reader of the library would; false with `why` when it cannot.
bool readAtlas(const std::wstring& path, std::uint64_t& bytes, std::uint32_t& crc, std::string& why)
{
    try {
        filedriver::FileDriver atlas(path, filedriver::OpenReadBuffered);
        const std::int32_t size = atlas.size();
        std::vector<std::uint8_t> piece(readPieceSize);
        bytes = 0;
        crc = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
        for (std::uint32_t got; (got = atlas.read(piece.data(), readPieceSize)) > 0; bytes += got)
            crc = static_cast<std::uint32_t>(crc32(crc, piece.data(), got));
        if (size < 0 || bytes != static_cast<std::uint64_t>(size)) {
            why = "reading " + orva::toNative(path) + " stopped after " + std::to_string(bytes) + " bytes";
            return false;
        }
        return true;
    } catch (const orva::exception& failure) {
        why = failure.what();
        return false;
    }
}

int countRegularFiles(const std::u16string& directory, std::error_code& error)
{
    int count = 0;
    for (std::filesystem::directory_iterator entry(std::filesystem::path(directory), error), end;
         !error && entry != end; entry.increment(error)) {
        std::error_code ignored;
        if (entry->is_regular_file(ignored))
            ++count;
    }
    return count;
}

} // namespace

extern "C" int runGleaner(RunParameters* parameters)
{
    if (!parameters)
        return refuse(contractBroken, "no parameter block");
    if (parameters->word1 != 1 || parameters->word2 != 0 || parameters->word3 != 0)
        return refuse(contractBroken, "unexpected words " + std::to_string(parameters->word1) + ", "
                                          + std::to_string(parameters->word2) + ", "
                                          + std::to_string(parameters->word3));
    if (!terminated(parameters->atlasPath) || !terminated(parameters->reservedPath)
        || !terminated(parameters->importPath))
        return refuse(contractBroken, "a path is not terminated");
    if (parameters->reservedPath[0] != 0)
        return refuse(contractBroken, "reservedPath is not empty");
    const std::u16string atlas = textOf(parameters->atlasPath);
    const std::u16string import = textOf(parameters->importPath);
    if (atlas.empty() == import.empty())
        return refuse(contractBroken, atlas.empty() ? "neither atlasPath nor importPath is set"
                                                    : "both atlasPath and importPath are set");
    if (!atlas.empty()) {
        const std::wstring path = orva::fromUtf16(atlas);
        std::uint64_t bytes = 0;
        std::uint32_t crc = 0;
        std::string why;
        if (!readAtlas(path, bytes, crc, why))
            return refuse(unreadable, why);
        char digest[9];
        std::snprintf(digest, sizeof digest, "%08x", static_cast<unsigned>(crc));
        // A URL's query and credentials are never shown.
        say("dataGleaner: atlas " + orva::toNative(filedriver::shownPath(path)) + " (" + std::to_string(bytes) + " bytes, crc32 " + digest
            + ")\n");
        return 0;
    }
    std::error_code error;
    const int files = countRegularFiles(import, error);
    const std::string importText = orva::toNative(orva::fromUtf16(import));
    if (error)
        return refuse(unreadable, "cannot read import directory " + importText + ": " + error.message());
    say("dataGleaner: import " + importText + " (" + std::to_string(files) + " files)\n");
    return 0;
}
