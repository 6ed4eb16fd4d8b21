// The libdeflate decoder, for builds that have libdeflate.
#include "filedriver/ZlibDecoder.h"

#include <libdeflate.h>

#include <new>

namespace filedriver {
namespace {

class LibdeflateDecoder : public ZlibDecoder {
public:
    LibdeflateDecoder() : decompressor(libdeflate_alloc_decompressor()), fallback(makeInflateDecoder())
    {
        if (!decompressor)
            throw std::bad_alloc();
    }
    ~LibdeflateDecoder() override { libdeflate_free_decompressor(decompressor); }
    LibdeflateDecoder(const LibdeflateDecoder&) = delete;
    LibdeflateDecoder& operator=(const LibdeflateDecoder&) = delete;

    bool decode(const std::uint8_t* input, std::size_t size, std::uint8_t* output, std::size_t room,
                std::size_t& produced) override
    {
        std::size_t consumed = 0;
        if (libdeflate_zlib_decompress_ex(decompressor, input, size, output, room, &consumed, &produced)
                == LIBDEFLATE_SUCCESS
            && consumed == size)
            return true;
        // Damage is rare: inflate tells how much came out before it, exactly as the other decoder does.
        return fallback->decode(input, size, output, room, produced);
    }

private:
    libdeflate_decompressor* decompressor;
    std::unique_ptr<ZlibDecoder> fallback;
};

} // namespace

std::unique_ptr<ZlibDecoder> makeLibdeflateDecoder()
{
    return std::make_unique<LibdeflateDecoder>();
}

} // namespace filedriver
