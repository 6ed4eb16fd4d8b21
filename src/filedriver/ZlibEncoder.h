#pragma once
// Encodes one block as one complete zlib stream (RFC 1950), the stored form that every decoder of the
// library and zlib's inflate alone read back. zlib's compress2 is in every build; libdeflate's zlib
// compressor, about twice as fast and no larger, where the build has it.
//
// Levels are zlib's, -1 (zlib's default, 6) and 0 to 9. libdeflate works at the level that gives no
// larger blocks than zlib's (libdeflateLevel): zlib 0 1 2 3 4 5 6 7 8 9 are libdeflate 0 2 2 3 5 6 6 7 9 10.
// An encoder holds its own state: calls on one object must not overlap; separate objects are
// independent.

#include "filedriver/BlockCompression.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace filedriver {

class ZlibEncoder {
public:
    static constexpr std::int32_t defaultLevel = 6;

    virtual ~ZlibEncoder() {}
    // `output` becomes the stored form of the `size` bytes at `data`; false (and `output` empty) when
    // the encoder fails, which only exhausted memory makes it do.
    virtual bool encode(const std::uint8_t* data, std::size_t size, ByteBuffer& output) = 0;
};

// For a zlib level (-1 to 9): the zlib level it stands for (-1 is 6), and libdeflate's level for it.
std::int32_t encoderLevel(std::int32_t zlibLevel);
std::int32_t libdeflateLevel(std::int32_t zlibLevel);

// For levels -1 to 9; null for any other.
std::unique_ptr<ZlibEncoder> makeCompress2Encoder(std::int32_t level);
// Null where the build has no libdeflate, and for levels outside -1 to 9.
std::unique_ptr<ZlibEncoder> makeLibdeflateEncoder(std::int32_t level);
// The fastest encoder this build has: libdeflate where the build has it, else compress2. On real files
// libdeflate's archives come out 0.94 to 1.002 times compress2's at the same level; on text of a
// handful of words repeated its blocks are up to a sixth larger, which no ordinary file is. A second
// encoding of suspect blocks cost pack a fifth of its speed on C headers and is not made.
std::unique_ptr<ZlibEncoder> makeZlibEncoder(std::int32_t level);

} // namespace filedriver
