#include "filedriver/BlockCompression.h"

#include "filedriver/ZlibDecoder.h"

#include <zlib.h>

#include <algorithm>
#include <new>

namespace filedriver {

std::int64_t ABlockCompression::decompressInto(const std::uint8_t* input, std::size_t size, std::uint8_t* output,
                                               std::size_t room)
{
    const ByteBuffer stored(input, input + size);
    ByteBuffer decoded(room);
    if (!decompress(stored, decoded) || decoded.size() > room)
        return -1;
    std::copy(decoded.begin(), decoded.end(), output);
    return static_cast<std::int64_t>(decoded.size());
}

ByteBuffer NullCompression::compress(const ByteBuffer& input)
{
    return input;
}

bool NullCompression::decompress(const ByteBuffer& input, ByteBuffer& output)
{
    output = input;
    return true;
}

ZlibCompression::ZlibCompression() : ZlibCompression(defaultLevel) {}

ZlibCompression::ZlibCompression(std::int32_t level) : decoder(makeZlibDecoder()), level(level) {}

ZlibCompression::~ZlibCompression() = default;

ByteBuffer ZlibCompression::compress(const ByteBuffer& input)
{
    const auto size = static_cast<std::uint32_t>(input.size());
    // More than the room compress2 can need for any input size.
    uLongf capacity = size + size / 10 + 13;
    ByteBuffer output(capacity);
    if (compress2(output.data(), &capacity, input.data(), size, level) != Z_OK)
        return {};
    output.resize(capacity);
    return output;
}

bool ZlibCompression::decompress(const ByteBuffer& input, ByteBuffer& output)
{
    return decoder->decode(input, output);
}

std::int64_t ZlibCompression::decompressInto(const std::uint8_t* input, std::size_t size, std::uint8_t* output,
                                             std::size_t room)
{
    std::size_t produced = 0;
    return decoder->decode(input, size, output, room, produced) ? static_cast<std::int64_t>(produced) : -1;
}

std::unique_ptr<ABlockCompression> createCompression(const PropertyMap& properties)
{
    const auto type = properties.find("compressionType");
    if (type == properties.end())
        return nullptr;
    switch (type->second) {
    case 0: return std::make_unique<NullCompression>();
    case 1: {
        const auto level = properties.find("compressionLevel");
        return std::make_unique<ZlibCompression>(level == properties.end() ? ZlibCompression::defaultLevel
                                                                            : level->second);
    }
    default: return nullptr;
    }
}

} // namespace filedriver
