#pragma once
// The one abstract file of the library: a plain file, a member read out of an archive, or a buffered
// stream over either. Positions and sizes are signed 32-bit, transfer lengths unsigned 32-bit.
// Cores are created by FileDriver and deleted through AFileCore pointers; after construction they
// report failure through results (-1 from seek, tell and size, 0 from read and write), never by
// throwing, except that an archive member throws on damaged data.

#include <cstdint>

namespace filedriver {

// Tested as whole values everywhere, never bit by bit.
enum OpenMode : std::uint32_t {
    OpenRead = 1,             // existing file, read only
    OpenReadWrite = 3,        // existing file, read and write
    CreateWrite = 6,          // created or truncated, write only
    CreateReadWrite = 7,      // created or truncated, read and write
    OpenReadBuffered = 9,     // as OpenRead, through FileStream
    CreateWriteBuffered = 14, // as CreateWrite, through FileStream
    Temporary = 19,           // a new anonymous file, read and write, gone when closed
};

// Note: 0 and 1 are swapped against stdio's SEEK_SET and SEEK_CUR.
enum SeekOrigin : std::int32_t {
    SeekCurrent = 0,
    SeekBegin = 1,
    SeekEnd = 2,
};

class AFileCore {
public:
    explicit AFileCore(std::uint32_t mode) : mode(mode) {}
    virtual ~AFileCore() {}
    AFileCore(const AFileCore&) = delete;
    AFileCore& operator=(const AFileCore&) = delete;

    // The new absolute position, or -1 when the move is refused or fails.
    virtual std::int32_t seek(std::int32_t offset, std::int32_t origin) = 0;
    virtual std::int32_t tell() = 0;
    virtual std::int32_t size() = 0;
    // Copies up to `length` bytes from the position and advances it; 0 at the end or on failure.
    virtual std::uint32_t read(void* buffer, std::uint32_t length) = 0;
    // The count written; 0 on failure.
    virtual std::uint32_t write(const void* buffer, std::uint32_t length) = 0;
    // Consumes the next `length` bytes (a small fixed-size value) and points at them; the bytes belong to
    // the core and stay valid until its next operation. Bytes past the end read as zeros.
    virtual const std::uint8_t* fetch(std::uint32_t length) = 0;
    // Writes `length` bytes; no result.
    virtual void put(const void* buffer, std::uint32_t length) = 0;
    // Reads up to `length` bytes at `offset` without moving the position; safe beside other readAt calls
    // on the same core where the core offers it (plain files and streams over them). 0 where it does not.
    virtual std::uint32_t readAt(std::int64_t offset, void* buffer, std::uint32_t length)
    {
        (void)offset, (void)buffer, (void)length;
        return 0;
    }

    const std::uint32_t mode;
};

} // namespace filedriver
