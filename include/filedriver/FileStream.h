#pragma once
// A core read or written through one 4096-byte window. T is the inner core (FilePlatform or
// ArchiveCursor), built with the stream's own path and mode and held by value.
//
// Mode CreateWriteBuffered makes a writing stream; every other mode a reading one, for the stream's
// whole life. A reading stream takes the core's size once, at construction. Requests inside the window
// cost one copy; the window moves only when a request reaches its end.
//
// What a caller may rely on:
//   - read returns the requested count (clamped to the end) or 0, never a partial count, and never
//     bytes that do not belong to the window; a read that returns 0 leaves the position where it was.
//     fetch gives zeros where there are no bytes.
//   - write returns the bytes it took (0 when none), never counting a piece that could not be handed on;
//     a writing stream never loses pending bytes to a seek whose flush failed (the seek answers -1 and
//     stays). Writing a reading stream, or reading a writing one, does nothing and returns 0.
//   - Pending bytes reach the core at a seek elsewhere and at destruction.
//   - The constructor throws what T's constructor or its first read throws, and std::bad_alloc.

#include "filedriver/AFileCore.h"
#include "filedriver/FilePath.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

template <class T>
class FileStream : public filedriver::AFileCore {
public:
    static constexpr std::uint32_t bufferSize = 4096;

    FileStream(const filedriver::FilePath& path, std::uint32_t mode)
        : AFileCore(mode), core(path, mode), buffer(std::make_unique<std::uint8_t[]>(bufferSize))
    {
        if (!writing()) {
            length = core.size();
            refill();
        }
    }

    ~FileStream() override
    {
        if (writing())
            flush();
    }

    std::int32_t seek(std::int32_t offset, std::int32_t origin) override
    {
        if (origin != filedriver::SeekBegin && origin != filedriver::SeekCurrent && origin != filedriver::SeekEnd)
            return -1;
        std::int64_t target = offset;
        if (origin == filedriver::SeekEnd)
            target += length;
        else if (origin == filedriver::SeekCurrent)
            target += position();
        if (target < INT32_MIN || target > INT32_MAX)
            return -1;
        if (target == position())
            return static_cast<std::int32_t>(target);
        if (writing()) {
            // The core would refuse it only at the flush, and the bytes written there would be lost.
            if (target < 0 || !flush())
                return -1;
            bufferStart = static_cast<std::int32_t>(target);
            bufferOffset = 0;
            return bufferStart;
        }
        const std::int64_t limit = std::min<std::int64_t>(std::int64_t(bufferStart) + bufferSize, length);
        if (windowFilled && target >= bufferStart && target < limit) {
            bufferOffset = static_cast<std::uint32_t>(target - bufferStart);
        } else {
            bufferStart = static_cast<std::int32_t>(target);
            refill();
        }
        return static_cast<std::int32_t>(target);
    }

    std::int32_t tell() override { return static_cast<std::int32_t>(position()); }

    std::int32_t size() override { return length; }

    std::uint32_t read(void* destination, std::uint32_t count) override
    {
        const std::int64_t current = position();
        if (writing() || !destination || current >= length)
            return 0;
        count = static_cast<std::uint32_t>(std::min<std::int64_t>(count, length - current));
        if (count == 0)
            return 0;
        auto* out = static_cast<std::uint8_t*>(destination);
        if (count < bufferSize) {
            if (!windowFilled || bufferOffset >= bufferSize - count) {
                bufferStart = static_cast<std::int32_t>(current);
                if (!refill())
                    return 0;
            }
            std::memcpy(out, buffer.get() + bufferOffset, count);
            bufferOffset += count;
            return count;
        }
        // Whole windows go straight to the caller in one transfer; only the tail passes the window.
        const std::uint32_t direct = count - count % bufferSize;
        if (!placeCore(current) || !readCore(out, direct))
            return failedReadAt(current);
        bufferStart = static_cast<std::int32_t>(current + direct);
        bufferOffset = 0;
        windowFilled = false;
        if (direct < count) {
            bool filled;
            try {
                filled = refill();
            } catch (...) {
                failedReadAt(current); // a damaged block of a member: the next read starts here again
                throw;
            }
            if (!filled)
                return failedReadAt(current);
            bufferOffset = count - direct;
            std::memcpy(out + direct, buffer.get(), bufferOffset);
        }
        return count;
    }

    std::uint32_t write(const void* source, std::uint32_t count) override
    {
        if (!writing() || !source || count == 0)
            return 0;
        const auto* in = static_cast<const std::uint8_t*>(source);
        std::uint32_t taken = 0;
        if (count <= bufferSize) {
            // A failed flush still leaves room when the buffer was only to become exactly full.
            if (bufferOffset >= bufferSize - count && !flush() && bufferOffset > bufferSize - count)
                return 0;
            std::memcpy(buffer.get() + bufferOffset, in, count);
            bufferOffset += count;
            taken = count;
        } else {
            std::uint32_t piece = 0;
            while (taken < count) {
                if (!flush()) {
                    // The piece that could not go on is taken back: the count says what the core took.
                    bufferOffset -= piece;
                    taken -= piece;
                    break;
                }
                piece = std::min(count - taken, bufferSize);
                std::memcpy(buffer.get(), in + taken, piece);
                bufferOffset = piece;
                taken += piece;
            }
        }
        length = static_cast<std::int32_t>(std::max<std::int64_t>(length, position()));
        return taken;
    }

    const std::uint8_t* fetch(std::uint32_t count) override
    {
        if (writing() || count > bufferSize)
            return zeros;
        if (!windowFilled || bufferOffset + count >= bufferSize) {
            bufferStart += static_cast<std::int32_t>(bufferOffset);
            refill();
        }
        const std::uint8_t* at = buffer.get() + bufferOffset;
        bufferOffset += count;
        return at;
    }

    void put(const void* source, std::uint32_t count) override
    {
        if (count > bufferSize) {
            write(source, count);
            return;
        }
        if (!writing() || count == 0)
            return;
        if (bufferOffset + count > bufferSize && !flush())
            return;
        std::memcpy(buffer.get() + bufferOffset, source, count);
        bufferOffset += count;
        length = static_cast<std::int32_t>(std::max<std::int64_t>(length, position()));
    }

    // Straight from the core; the window is not touched.
    std::uint32_t readAt(std::int64_t offset, void* destination, std::uint32_t count) override
    {
        return writing() ? 0 : core.readAt(offset, destination, count);
    }

private:
    static constexpr std::uint8_t zeros[bufferSize] = {};

    bool writing() const { return mode == filedriver::CreateWriteBuffered; }
    std::int64_t position() const { return std::int64_t(bufferStart) + bufferOffset; }

    // Loads the window at bufferStart. On failure the window is empty and all zeros. A file that has
    // become shorter than the size taken fails too, rather than have zeros pass for its bytes.
    bool refill()
    {
        bufferOffset = 0;
        const std::int64_t available = std::int64_t(length) - bufferStart;
        if (available > 0 && bufferStart >= 0 && placeCore(bufferStart)) {
            const auto wanted = static_cast<std::uint32_t>(std::min<std::int64_t>(available, bufferSize));
            if (readCore(buffer.get(), wanted)) {
                if (wanted < bufferSize)
                    std::memset(buffer.get() + wanted, 0, bufferSize - wanted);
                windowFilled = true;
                return true;
            }
        }
        return emptyWindow();
    }

    // A read that fails leaves the position at its start, before an empty window.
    std::uint32_t failedReadAt(std::int64_t start)
    {
        bufferStart = static_cast<std::int32_t>(start);
        bufferOffset = 0;
        emptyWindow();
        return 0;
    }

    bool emptyWindow()
    {
        std::memset(buffer.get(), 0, bufferSize);
        windowFilled = false;
        return false;
    }

    // The core's own position is tracked, so that moving it where it already stands costs nothing.
    bool placeCore(std::int64_t at)
    {
        if (corePosition == at)
            return true;
        corePosition = core.seek(static_cast<std::int32_t>(at), filedriver::SeekBegin) == -1 ? -1 : at;
        return corePosition == at;
    }

    // All of `wanted` bytes, or false. A core that throws leaves its position unknown.
    bool readCore(std::uint8_t* to, std::uint32_t wanted)
    {
        const std::int64_t start = corePosition;
        corePosition = -1;
        std::uint32_t got = 0;
        while (got < wanted) {
            const std::uint32_t piece = core.read(to + got, wanted - got);
            if (piece == 0)
                break;
            got += piece;
        }
        corePosition = start + got;
        return got == wanted;
    }

    // Hands the pending bytes to the core; on failure nothing changes, so nothing is lost.
    bool flush()
    {
        if (bufferOffset == 0)
            return true;
        if (!placeCore(bufferStart))
            return false;
        for (std::uint32_t done = 0; done < bufferOffset;) {
            const std::uint32_t wrote = core.write(buffer.get() + done, bufferOffset - done);
            corePosition += wrote;
            if (wrote == 0)
                return false;
            done += wrote;
        }
        bufferStart += static_cast<std::int32_t>(bufferOffset);
        bufferOffset = 0;
        return true;
    }

    T core;
    std::int32_t length = 0;
    std::int32_t bufferStart = 0;
    std::uint32_t bufferOffset = 0;
    std::unique_ptr<std::uint8_t[]> buffer;
    bool windowFilled = false;
    std::int64_t corePosition = -1; // -1: unknown
};
