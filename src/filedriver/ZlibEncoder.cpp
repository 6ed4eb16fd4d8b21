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
    return fastest ? std::move(fastest) : makeCompress2Encoder(level);
}

} // namespace filedriver
