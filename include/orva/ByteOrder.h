#pragma once
// Little-endian values in byte arrays, whatever the machine's own order: the order of every number
// and text unit that the library's files hold.

#include <cstdint>

namespace orva {

inline std::uint32_t loadLittleEndian32(const std::uint8_t* bytes)
{
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16
           | std::uint32_t(bytes[3]) << 24;
}

inline void storeLittleEndian32(std::uint32_t value, std::uint8_t* out)
{
    for (int b = 0; b < 4; ++b)
        out[b] = static_cast<std::uint8_t>(value >> (8 * b));
}

inline char16_t loadLittleEndian16(const std::uint8_t* bytes)
{
    return static_cast<char16_t>(bytes[0] | bytes[1] << 8);
}

inline void storeLittleEndian16(char16_t value, std::uint8_t* out)
{
    out[0] = static_cast<std::uint8_t>(value);
    out[1] = static_cast<std::uint8_t>(value >> 8);
}

} // namespace orva
