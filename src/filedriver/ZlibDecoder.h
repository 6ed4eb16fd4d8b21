#pragma once
// Decodes one zlib stream (RFC 1950) into a caller's buffer. zlib's own inflate is in every build;
// libdeflate, about 2.5 times faster on whole blocks, where the build has it. Both give the same
// results, damaged streams included.

#include "filedriver/BlockCompression.h"

#include <memory>

namespace filedriver {

class ZlibDecoder {
public:
    virtual ~ZlibDecoder() {}
    // `output`'s size on entry is the most it may take; on return, the bytes produced (for a damaged
    // stream, those decoded before the damage). False unless the stream ends cleanly within that room,
    // its checksum right and no input left over.
    virtual bool decode(const ByteBuffer& input, ByteBuffer& output) = 0;
};

std::unique_ptr<ZlibDecoder> makeInflateDecoder();
// Null where the build has no libdeflate.
std::unique_ptr<ZlibDecoder> makeLibdeflateDecoder();
// The fastest decoder this build has.
std::unique_ptr<ZlibDecoder> makeZlibDecoder();

} // namespace filedriver
