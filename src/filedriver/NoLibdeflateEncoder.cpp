// For builds without libdeflate: compress2 encodes every block.
#include "filedriver/ZlibEncoder.h"

namespace filedriver {

std::unique_ptr<ZlibEncoder> makeLibdeflateEncoder(std::int32_t)
{
    return nullptr;
}

} // namespace filedriver
