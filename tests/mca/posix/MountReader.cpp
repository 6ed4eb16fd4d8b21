// Reads a mounted file with pread from several threads at once through one descriptor, at random
// offsets and lengths (unaligned, some across blocks, some past the end), and compares every byte with
// the expected file.
//   MountReader FILE EXPECTED READS THREADS
// Exit status 0 when every read matched; 1 with the first mismatch on standard error.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: MountReader FILE EXPECTED READS THREADS\n");
        return 2;
    }
    std::ifstream in(argv[2], std::ios::binary);
    const std::vector<char> expected((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const int file = open(argv[1], O_RDONLY);
    if (file < 0) {
        std::fprintf(stderr, "cannot open %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    const long reads = std::atol(argv[3]);
    const int threads = std::atoi(argv[4]);
    std::atomic<bool> failed{false};
    std::vector<std::thread> readers;
    for (int t = 0; t < threads; ++t)
        readers.emplace_back([&, t] {
            std::mt19937_64 random(1234 + t);
            std::vector<char> buffer(200000);
            const std::size_t size = expected.size();
            for (long i = 0; i < reads && !failed; ++i) {
                // Mostly 4 KiB, sometimes a long read across blocks or one running past the end.
                const std::size_t length = i % 8 == 0 ? 1 + random() % buffer.size() : 4096;
                const std::size_t offset = i % 16 == 1 ? size - std::min(size, length / 2) : random() % (size + 1);
                const ssize_t got = pread(file, buffer.data(), length, static_cast<off_t>(offset));
                const std::size_t want = offset >= size ? 0 : std::min(length, size - offset);
                if (got != static_cast<ssize_t>(want)
                    || (want && std::memcmp(buffer.data(), expected.data() + offset, want) != 0)) {
                    if (!failed.exchange(true))
                        std::fprintf(stderr, "pread(%zu bytes at %zu) gave %zd (%s), expected %zu matching bytes\n", length,
                                     offset, got, got < 0 ? std::strerror(errno) : "bytes", want);
                }
            }
        });
    for (std::thread& reader : readers)
        reader.join();
    close(file);
    return failed ? 1 : 0;
}
