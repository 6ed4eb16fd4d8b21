#pragma once
// Decodes one zlib stream (RFC 1950) into a caller's buffer. zlib's own inflate is in every build;
// libdeflate, about 2.5 times faster on whole blocks, where the build has it. Both give the same
// results, damaged streams included.

#include "filedriver/BlockCompression.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace filedriver {

class ZlibDecoder {
public:
    virtual ~ZlibDecoder() {}
    // Decodes the `size` bytes at `input` into at most `room` bytes at `output`; `produced` tells how
    // many came out (for a damaged stream, those decoded before the damage). False unless the stream
    // ends cleanly within that room, its checksum right and no input left over.
    virtual bool decode(const std::uint8_t* input, std::size_t size, std::uint8_t* output, std::size_t room,
                        std::size_t& produced) = 0;
    // The same between buffers: `output`'s size on entry is the room, on return the bytes produced.
    bool decode(const ByteBuffer& input, ByteBuffer& output)
    {
        std::size_t produced = 0;
        const bool whole = decode(input.data(), input.size(), output.data(), output.size(), produced);
        output.resize(produced);
        return whole;
    }
};

std::unique_ptr<ZlibDecoder> makeInflateDecoder();
// Null where the build has no libdeflate.
std::unique_ptr<ZlibDecoder> makeLibdeflateDecoder();
// The fastest decoder this build has.
std::unique_ptr<ZlibDecoder> makeZlibDecoder();

} // namespace filedriver
