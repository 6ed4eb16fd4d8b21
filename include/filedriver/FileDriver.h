#pragma once
// The handle through which the library opens a file: a path and a mode give the matching core, which
// the handle owns and closes at destruction.
//   plain path:  1, 3, 6, 7, 19 a FilePlatform; 9, 14 a FileStream<FilePlatform>
//   archive member (FilePath's isArchivePath): 1 and 9 only, the archive on disk or on a web server
//   plain URL (FilePath's isRemotePath): 1, and 9 through FileStream; every other mode is refused as a
//   file that cannot be opened ("can't open file '<url>'")
// The constructor throws orva::exception: "unsupported file opening mode '<mode>'" for any other mode,
// or whatever the core's constructor throws. Afterwards failures show in results, as AFileCore says.

#include "filedriver/AFileCore.h"
#include "filedriver/FilePath.h"

#include <cstdint>
#include <memory>
#include <string>

namespace filedriver {

class FileDriver {
public:
    FileDriver(const FilePath& path, std::uint32_t mode);
    ~FileDriver();
    FileDriver(const FileDriver&) = delete;
    FileDriver& operator=(const FileDriver&) = delete;

    std::int32_t seek(std::int32_t offset, std::int32_t origin) { return core->seek(offset, origin); }
    std::int32_t tell() { return core->tell(); }
    std::int32_t size() { return core->size(); }
    std::uint32_t read(void* buffer, std::uint32_t length) { return core->read(buffer, length); }
    std::uint32_t write(const void* buffer, std::uint32_t length) { return core->write(buffer, length); }
    const std::uint8_t* fetch(std::uint32_t length) { return core->fetch(length); }
    void put(const void* buffer, std::uint32_t length) { core->put(buffer, length); }
    // A positional read that may run beside others on the same handle (plain files).
    std::uint32_t readAt(std::int64_t offset, void* buffer, std::uint32_t length)
    {
        return core->readAt(offset, buffer, length);
    }

    // The whole items of `itemSize` bytes (never 0) delivered into `buffer`.
    std::uint32_t readItems(void* buffer, std::uint32_t itemSize, std::uint32_t count);
    // A little-endian 32-bit integer.
    std::int32_t readInt32();
    // UTF-16LE units up to `terminator` (consumed, not stored) or to the end of the file.
    std::wstring readWString(char16_t terminator);

private:
    std::unique_ptr<AFileCore> core;
    std::u16string textUnits; // reused by readWString

};

} // namespace filedriver
