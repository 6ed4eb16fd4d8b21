// For builds without libdeflate: zlib's inflate decodes every block.
#include "filedriver/ZlibDecoder.h"

namespace filedriver {

std::unique_ptr<ZlibDecoder> makeLibdeflateDecoder()
{
    return nullptr;
}

} // namespace filedriver
