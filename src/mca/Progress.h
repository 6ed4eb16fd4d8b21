#pragma once
// A progress line on standard error ("pack: 42% (10 of 24 MiB)"), only on a terminal and only for work
// worth watching, and the copy in pieces that feeds it.

#include <cstdint>
#include <memory>
#include <vector>

namespace mca {

class Progress {
public:
    // `total` bytes of work; none is shown for a total below a few MiB.
    Progress(const char* verb, std::uint64_t total);
    // Clears the line.
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void advance(std::uint64_t amount);

private:
    const char* verb;
    std::uint64_t total;
    std::uint64_t done = 0;
    bool shown;
    bool printed = false;
    unsigned lastPercent = 0;
};

constexpr std::uint32_t copyPieceSize = 1 << 20;

// Copies the rest of `from` (anything with read(buffer, length) -> count, 0 at the end) in pieces of
// copyPieceSize through `write`, which throws on failure, telling `progress` of every piece; at most
// `limit` bytes. Answers the bytes copied.
template <class Source, class Write>
std::uint64_t copyAll(Source& from, Write write, Progress& progress, std::uint64_t limit = UINT64_MAX)
{
    // Not zero-filled: pack calls this once per file, and most files are far smaller than a piece.
    const auto piece = std::make_unique_for_overwrite<std::uint8_t[]>(copyPieceSize);
    std::uint64_t total = 0;
    for (std::uint32_t got; total < limit; total += got) {
        const auto wanted = static_cast<std::uint32_t>(limit - total < copyPieceSize ? limit - total : copyPieceSize);
        if ((got = from.read(piece.get(), wanted)) == 0)
            break;
        write(piece.get(), got);
        progress.advance(got);
    }
    return total;
}

} // namespace mca
