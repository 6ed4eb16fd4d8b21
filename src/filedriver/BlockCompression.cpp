#include "filedriver/BlockCompression.h"

#include <zlib.h>

#include <new>

namespace filedriver {

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

ZlibCompression::ZlibCompression(std::int32_t level) : stream(std::make_unique<z_stream>()), level(level)
{
    if (inflateInit(stream.get()) != Z_OK)
        throw std::bad_alloc();
}

ZlibCompression::~ZlibCompression()
{
    inflateEnd(stream.get());
}

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
    inflateReset(stream.get());
    stream->next_in = const_cast<Bytef*>(input.data());
    stream->avail_in = static_cast<uInt>(input.size());
    // inflate refuses a null output even with no room asked for, and an empty block decodes into none.
    Bytef none = 0;
    stream->next_out = output.empty() ? &none : output.data();
    stream->avail_out = static_cast<uInt>(output.size());
    const int result = inflate(stream.get(), Z_SYNC_FLUSH);
    output.resize(output.size() - stream->avail_out);
    return result == Z_STREAM_END && stream->avail_in == 0;
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
