#include "filedriver/TextReading.h"

#include "orva/ByteOrder.h"
#include "orva/WideText.h"

#include <algorithm>

namespace filedriver {

std::wstring readWString(AFileCore& core, char16_t terminator, std::u16string& units)
{
    // Read in pieces rather than a unit at a time.
    constexpr std::uint32_t pieceUnits = 256;
    std::uint8_t piece[2 * pieceUnits];
    units.clear();
    const std::int64_t left = std::int64_t(core.size()) - core.tell();
    for (std::int64_t n = left > 0 ? left / 2 : 0; n > 0;) {
        const auto wanted = static_cast<std::uint32_t>(std::min<std::int64_t>(n, pieceUnits));
        const std::uint32_t got = core.read(piece, 2 * wanted) / 2;
        for (std::uint32_t i = 0; i < got; ++i) {
            const char16_t unit = orva::loadLittleEndian16(piece + 2 * i);
            if (unit == terminator) {
                core.seek(-static_cast<std::int32_t>(2 * (got - i - 1)), SeekCurrent);
                return orva::fromUtf16(units);
            }
            units.push_back(unit);
        }
        if (got < wanted)
            break;
        n -= got;
    }
    return orva::fromUtf16(units);
}

} // namespace filedriver
