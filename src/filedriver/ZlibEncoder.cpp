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
