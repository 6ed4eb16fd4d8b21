#pragma once
// The two sides of the sequential deflated figure, shared by the Linux benchmark and the Windows one:
// ours reads a member through the library in 4 KiB reads, the reference inflates the same stored
// blocks with zlib alone.

#include <cstdint>
#include <string>
#include <vector>
#include <zlib.h>

namespace bench {

using ByteBuffer = std::vector<std::uint8_t>;

constexpr std::uint32_t readSize = 4096;

// The bytes read from `path`, start to end in readSize pieces through the buffered stream.
std::uint64_t readMember(const std::wstring& path);

// Each blockSize piece of `bytes` (the last one may be shorter) as one zlib stream, as compress2 writes
// it at zlib's default level.
std::vector<ByteBuffer> deflateBlocks(const std::vector<std::uint8_t>& bytes, std::uint32_t blockSize);

// One inflate stream, reset for every block as the library's own inflate decoder does.
class RawInflate {
public:
    explicit RawInflate(std::uint32_t blockSize);
    ~RawInflate();
    RawInflate(const RawInflate&) = delete;
    RawInflate& operator=(const RawInflate&) = delete;

    // Inflates every block; the number of bytes that came out.
    std::uint64_t inflateAll(const std::vector<ByteBuffer>& blocks);

private:
    z_stream stream{};
    std::vector<std::uint8_t> out;
};

} // namespace bench
