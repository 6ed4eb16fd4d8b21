#include "filedriver/IndexStream.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace filedriver {
namespace {

constexpr std::uint64_t pastEnd = 4096;

} // namespace

IndexStream::IndexStream(ArchiveSource& source) : AFileCore(OpenRead), source(source), length(source.size()) {}

std::uint32_t IndexStream::ensure(std::uint32_t wanted)
{
    const std::uint64_t available = at < length ? length - at : 0;
    const std::uint64_t needed = std::min<std::uint64_t>(wanted, available);
    if (at >= windowStart && at + needed <= windowStart + windowSize)
        return static_cast<std::uint32_t>(std::min<std::uint64_t>(needed, windowStart + windowSize - at));
    // Never less than asked for, nor more than the source holds. Texts are read in pieces that may look a
    // little past the index's end: the window takes that too.
    const std::uint64_t toEnd = expectedEnd > at ? expectedEnd - at + pastEnd : 0;
    std::uint64_t amount = std::max<std::uint64_t>({needed, leastRead, toEnd});
    amount = std::min(amount, available);
    if (amount > windowCapacity) {
        window = std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(amount));
        windowCapacity = amount;
    }
    windowStart = at;
    windowSize = 0;
    while (windowSize < amount) {
        const auto piece = static_cast<std::uint32_t>(std::min<std::uint64_t>(amount - windowSize, UINT32_MAX));
        const std::uint32_t got = source.readAt(at + windowSize, window.get() + windowSize, piece);
        windowSize += got;
        if (got < piece)
            break;
    }
    return static_cast<std::uint32_t>(std::min(needed, windowSize));
}

const std::uint8_t* IndexStream::view(std::uint32_t wanted, std::uint32_t& got)
{
    got = ensure(wanted);
    const std::uint8_t* bytes = window.get() + (at - windowStart);
    at += got;
    return bytes;
}

std::uint32_t IndexStream::read(void* buffer, std::uint32_t wanted)
{
    std::uint32_t got = 0;
    const std::uint8_t* bytes = view(wanted, got);
    if (got > 0)
        std::memcpy(buffer, bytes, got);
    return got;
}

std::int32_t IndexStream::seek(std::int32_t offset, std::int32_t origin)
{
    std::int64_t target = offset;
    if (origin == SeekCurrent)
        target += static_cast<std::int64_t>(at);
    else if (origin == SeekEnd)
        target += static_cast<std::int64_t>(length);
    else if (origin != SeekBegin)
        return -1;
    if (target < 0 || target > INT32_MAX)
        return -1;
    at = static_cast<std::uint64_t>(target);
    return static_cast<std::int32_t>(target);
}

std::int32_t IndexStream::tell()
{
    return at > INT32_MAX ? -1 : static_cast<std::int32_t>(at);
}

std::int32_t IndexStream::size()
{
    return static_cast<std::int32_t>(std::min<std::uint64_t>(length, INT32_MAX));
}

std::uint32_t IndexStream::write(const void*, std::uint32_t)
{
    return 0;
}

const std::uint8_t* IndexStream::fetch(std::uint32_t wanted)
{
    std::memset(scratch, 0, sizeof scratch);
    read(scratch, std::min<std::uint32_t>(wanted, sizeof scratch));
    return scratch;
}

void IndexStream::put(const void*, std::uint32_t) {}

} // namespace filedriver
