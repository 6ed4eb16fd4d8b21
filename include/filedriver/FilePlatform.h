#pragma once
// A plain file on disk, or an anonymous temporary file, with no buffering: every operation is one
// system call on one handle. Modes (OpenMode):
//   1, 9    an existing file, read only
//   3       an existing file, read and write
//   6, 14   created or truncated, write only
//   7       created or truncated, read and write
//   19      a new file in the system's temporary directory named "orv...", opened exclusively and gone
//           when closed; the path is not used
// Files are shared for reading and writing with other handles, and inherited by child processes; the
// temporary file is not inherited. A directory is no file: every mode refuses it.
// The constructor throws orva::exception: "unknown file opening mode", "can't open file '<path>'",
// "can't create temporary file". Positions and sizes beyond 2 GiB - 1 are reported as failures (-1).

#include "filedriver/AFileCore.h"
#include "filedriver/FilePath.h"

#include <cstdint>
#include <memory>

namespace filedriver {

class FilePlatform : public AFileCore {
public:
    FilePlatform(const FilePath& path, std::uint32_t mode);
    // Takes over `systemHandle`, a file the system opened (a Win32 HANDLE or a POSIX descriptor),
    // and closes it at destruction.
    FilePlatform(std::intptr_t systemHandle, std::uint32_t mode);
    ~FilePlatform() override;
    // A handle of its own on the process's standard input, read only (mode OpenRead): closing it leaves
    // standard input open. nullptr when the process has none.
    static std::unique_ptr<FilePlatform> standardInput();

    // Hands the written bytes through to the disk (fsync, FlushFileBuffers); false on failure.
    bool flushToDisk();
    // Tells the system that the `length` bytes at `offset` are about to be read, so that it may read
    // them ahead (POSIX_FADV_WILLNEED). A hint only: nothing fails, nothing is read here. Windows has
    // no such hint for a file read through its handle: there it does nothing.
    void willNeed(std::uint64_t offset, std::uint64_t length);

    std::int32_t seek(std::int32_t offset, std::int32_t origin) override;
    std::int32_t tell() override;
    std::int32_t size() override;
    std::uint32_t read(void* buffer, std::uint32_t length) override;
    // All `length` bytes, or fewer where a system call failed: then that call's reason is the
    // system's last error (SystemError.h), whatever was written before it.
    std::uint32_t write(const void* buffer, std::uint32_t length) override;
    // At most 4 bytes; bytes the file does not hold read as zeros.
    const std::uint8_t* fetch(std::uint32_t length) override;
    void put(const void* buffer, std::uint32_t length) override;
    std::uint32_t readAt(std::int64_t offset, void* buffer, std::uint32_t length) override;

private:
    static constexpr std::uint32_t scratchSize = 4;
    // The system's handle (a Win32 HANDLE or a POSIX descriptor); noFile stands for none.
    static constexpr std::intptr_t noFile = -1;

    std::uint8_t scratch[scratchSize] = {};
    std::intptr_t handle = noFile;
};

} // namespace filedriver
