#pragma once
// The benchmark's data: the same bytes on every machine and every run, made here rather than taken
// from the machine. Text-like runs (words, numbers, punctuation) alternate with binary-like records
// (counters, small integers, slowly varying values), so that zlib compresses it about 3.5 to 4 times.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench {

std::vector<std::uint8_t> makeCorpus(std::size_t size);

} // namespace bench
