#pragma once
// An archive source read in order from its start, as the index loader reads it: header, tables, and
// wherever a damaged table leads. Reads go through a window that takes at least 64 KiB of the source
// at a time and, once the loader has said where the index ends, all of the rest of it at once: an index
// that lies in the first 64 KiB costs one read of the source, a larger one two.
//
// Positions are those of the source. Reads give what the source holds, fewer bytes at its end (and
// where it fails). Writing does nothing.

#include "filedriver/AFileCore.h"
#include "filedriver/ArchiveSource.h"

#include <cstdint>
#include <memory>

namespace filedriver {

class IndexStream : public AFileCore {
public:
    static constexpr std::uint32_t leastRead = 64u << 10;

    explicit IndexStream(ArchiveSource& source);

    // The loader will read on to `end` (the first stored block).
    void expectEnd(std::uint64_t end) { expectedEnd = end; }
    // The next `length` bytes in place, valid until the next call; `got` says how many the source has.
    // The position moves past them.
    const std::uint8_t* view(std::uint32_t length, std::uint32_t& got);
    std::uint64_t position() const { return at; }
    std::uint64_t sourceSize() const { return length; }

    std::int32_t seek(std::int32_t offset, std::int32_t origin) override;
    std::int32_t tell() override;
    std::int32_t size() override;
    std::uint32_t read(void* buffer, std::uint32_t length) override;
    std::uint32_t write(const void* buffer, std::uint32_t length) override;
    const std::uint8_t* fetch(std::uint32_t length) override;
    void put(const void* buffer, std::uint32_t length) override;

private:
    // Makes up to `wanted` bytes from the position readable in the window; how many it holds.
    std::uint32_t ensure(std::uint32_t wanted);

    ArchiveSource& source;
    const std::uint64_t length;
    std::unique_ptr<std::uint8_t[]> window;
    std::uint64_t windowStart = 0;
    std::uint64_t windowSize = 0;
    std::uint64_t windowCapacity = 0;
    std::uint64_t at = 0;
    std::uint64_t expectedEnd = 0;
    std::uint8_t scratch[4] = {};
};

} // namespace filedriver
