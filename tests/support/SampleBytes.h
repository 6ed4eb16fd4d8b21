#pragma once
// Bytes that zlib has something to do with: runs of slowly changing values among random ones, the
// same for the same seed on every machine.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsupport {

std::vector<std::uint8_t> sampleBytes(std::size_t size, unsigned seed);

} // namespace testsupport
