#include "filedriver/ZlibEncoder.h"

#include <zlib.h>

namespace filedriver {
namespace {

class Compress2Encoder : public ZlibEncoder {
public:
    explicit Compress2Encoder(std::int32_t level) : level(level) {}

    bool encode(const std::uint8_t* data, std::size_t size, ByteBuffer& output) override
    {
        uLongf length = compressBound(static_cast<uLong>(size));
        output.resize(length);
        if (compress2(output.data(), &length, data, static_cast<uLong>(size), level) != Z_OK) {
            output.clear();
            return false;
        }
        output.resize(length);
        return true;
    }

private:
    const std::int32_t level;
};

// libdeflate's shallower search loses to zlib's on some data: by up to a sixth at level 6 on text of a
// handful of words repeated, by a few bytes on blocks of a few bytes. It wins, by far, everywhere else.
// Those blocks are the ones that come out small: a block libdeflate takes below a quarter of its size,
// or one of less than smallBlock bytes, is encoded by compress2 as well and the smaller stream kept
// (libdeflate's on a tie), so that no block is larger than compress2's beyond what the search of
// libdeflate at this level loses on data that compresses less (below 1% on every corpus tried).
// Which stream is kept depends on the block's bytes alone: the archive is the same for every thread
// count.
class BoundedEncoder : public ZlibEncoder {
public:
    BoundedEncoder(std::unique_ptr<ZlibEncoder> fast, std::int32_t level)
        : fast(std::move(fast)), deep(level)
    {
    }

    bool encode(const std::uint8_t* data, std::size_t size, ByteBuffer& output) override
    {
        if (!fast->encode(data, size, output))
            return false;
        if (size >= smallBlock && output.size() >= size / suspectRatio)
            return true;
        if (deep.encode(data, size, other) && other.size() < output.size())
            output.swap(other);
        return true;
    }

private:
    static constexpr std::size_t smallBlock = 1024;
    static constexpr std::size_t suspectRatio = 4;

    std::unique_ptr<ZlibEncoder> fast;
    Compress2Encoder deep;
    ByteBuffer other; // compress2's stream, reused
};

} // namespace

std::int32_t encoderLevel(std::int32_t zlibLevel)
{
    return zlibLevel == -1 ? ZlibEncoder::defaultLevel : zlibLevel;
}

std::int32_t libdeflateLevel(std::int32_t zlibLevel)
{
    // Where libdeflate's level of the same number searches less deeply than zlib's and comes out
    // larger (by up to a tenth on some data), the next that does not.
    static constexpr std::int32_t levels[10] = {0, 2, 2, 3, 5, 6, 6, 7, 9, 10};
    return levels[encoderLevel(zlibLevel)];
}

std::unique_ptr<ZlibEncoder> makeCompress2Encoder(std::int32_t level)
{
    if (level < -1 || level > 9)
        return nullptr;
    return std::make_unique<Compress2Encoder>(encoderLevel(level));
}

std::unique_ptr<ZlibEncoder> makeZlibEncoder(std::int32_t level)
{
    std::unique_ptr<ZlibEncoder> fastest = makeLibdeflateEncoder(level);
    if (!fastest)
        return makeCompress2Encoder(level);
    return std::make_unique<BoundedEncoder>(std::move(fastest), encoderLevel(level));
}

} // namespace filedriver
