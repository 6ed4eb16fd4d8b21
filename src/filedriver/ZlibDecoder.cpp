#include "filedriver/ZlibDecoder.h"

#include <zlib.h>

#include <new>

namespace filedriver {
namespace {

// One inflate state, set up once and reset for every stream.
class InflateDecoder : public ZlibDecoder {
public:
    InflateDecoder()
    {
        if (inflateInit(&stream) != Z_OK)
            throw std::bad_alloc();
    }
    ~InflateDecoder() override { inflateEnd(&stream); }
    InflateDecoder(const InflateDecoder&) = delete;
    InflateDecoder& operator=(const InflateDecoder&) = delete;

    bool decode(const std::uint8_t* input, std::size_t size, std::uint8_t* output, std::size_t room,
                std::size_t& produced) override
    {
        inflateReset(&stream);
        stream.next_in = const_cast<Bytef*>(input);
        stream.avail_in = static_cast<uInt>(size);
        // inflate refuses a null output even with no room asked for, and an empty block decodes into none.
        Bytef none = 0;
        stream.next_out = room == 0 ? &none : output;
        stream.avail_out = static_cast<uInt>(room);
        const int result = inflate(&stream, Z_SYNC_FLUSH);
        produced = room - stream.avail_out;
        return result == Z_STREAM_END && stream.avail_in == 0;
    }

private:
    z_stream stream{};
};

} // namespace

std::unique_ptr<ZlibDecoder> makeInflateDecoder()
{
    return std::make_unique<InflateDecoder>();
}

std::unique_ptr<ZlibDecoder> makeZlibDecoder()
{
    std::unique_ptr<ZlibDecoder> fastest = makeLibdeflateDecoder();
    return fastest ? std::move(fastest) : makeInflateDecoder();
}

} // namespace filedriver
