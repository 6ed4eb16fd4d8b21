#pragma once
// The block handed to the engine's runGleaner: 2316 bytes, little-endian, 4-byte aligned. Its layout is
// an interface with a separately built library and must not change. Path buffers hold UTF-16 on every
// platform: at most 383 units and a terminator; an empty path starts with 0.

#include <cstddef>
#include <cstdint>
#include <string>

constexpr std::size_t runParametersPathUnits = 384;

struct RunParameters {
    std::int32_t word1;
    std::int32_t word2;
    std::int32_t word3;
    char16_t atlasPath[runParametersPathUnits];
    char16_t reservedPath[runParametersPathUnits];
    char16_t importPath[runParametersPathUnits];
};

static_assert(sizeof(RunParameters) == 2316, "RunParameters is an interface with the engine");
static_assert(alignof(RunParameters) == 4, "RunParameters is an interface with the engine");
static_assert(offsetof(RunParameters, word1) == 0);
static_assert(offsetof(RunParameters, word2) == 4);
static_assert(offsetof(RunParameters, word3) == 8);
static_assert(offsetof(RunParameters, atlasPath) == 12);
static_assert(offsetof(RunParameters, reservedPath) == 780);
static_assert(offsetof(RunParameters, importPath) == 1548);

namespace launcher {

// True when `path` fits a path buffer of the block with its terminator.
bool fitsPathBuffer(const std::wstring& path);
// Copies `path` into `buffer` with its terminator; false, with the buffer left empty, when it does not
// fit: a path is never cut.
bool setPath(char16_t (&buffer)[runParametersPathUnits], const std::wstring& path);
// The text of a buffer up to its first 0.
std::wstring pathOf(const char16_t (&buffer)[runParametersPathUnits]);

} // namespace launcher
