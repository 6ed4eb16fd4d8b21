#include "dataGleaner/dataGleaner.h"

#include "orva/WideText.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

constexpr int contractBroken = 2;
constexpr int importUnreadable = 1;

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
        say("dataGleaner: atlas " + orva::toNative(orva::fromUtf16(atlas)) + "\n");
        return 0;
    }
    std::error_code error;
    const int files = countRegularFiles(import, error);
    const std::string importText = orva::toNative(orva::fromUtf16(import));
    if (error)
        return refuse(importUnreadable, "cannot read import directory " + importText + ": " + error.message());
    say("dataGleaner: import " + importText + " (" + std::to_string(files) + " files)\n");
    return 0;
}
