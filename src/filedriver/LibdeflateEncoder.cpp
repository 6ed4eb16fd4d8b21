// The libdeflate encoder, for builds that have libdeflate.
#include "filedriver/ZlibEncoder.h"

#include <libdeflate.h>

#include <new>

namespace filedriver {
namespace {

class LibdeflateEncoder : public ZlibEncoder {
public:
    explicit LibdeflateEncoder(std::int32_t level) : compressor(libdeflate_alloc_compressor(level))
    {
        if (!compressor)
            throw std::bad_alloc();
    }
    ~LibdeflateEncoder() override { libdeflate_free_compressor(compressor); }
    LibdeflateEncoder(const LibdeflateEncoder&) = delete;
    LibdeflateEncoder& operator=(const LibdeflateEncoder&) = delete;

    bool encode(const std::uint8_t* data, std::size_t size, ByteBuffer& output) override
    {
        // Room for the worst case: the stream then always fits.
        output.resize(libdeflate_zlib_compress_bound(compressor, size));
        output.resize(libdeflate_zlib_compress(compressor, data, size, output.data(), output.size()));
        return !output.empty();
    }

private:
    libdeflate_compressor* compressor;
};

} // namespace

std::unique_ptr<ZlibEncoder> makeLibdeflateEncoder(std::int32_t level)
{
    if (level < -1 || level > 9)
        return nullptr;
    return std::make_unique<LibdeflateEncoder>(libdeflateLevel(level));
}

} // namespace filedriver
