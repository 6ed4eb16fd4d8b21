#include "support/SampleBytes.h"

#include <random>

namespace testsupport {

std::vector<std::uint8_t> sampleBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(random() % 4 == 0 ? random() : i / 64 + seed);
    return bytes;
}

} // namespace testsupport
