#pragma once
// A file that is written under a temporary name beside its target and takes the target's name only
// when whole: readers of the target see the old file or the complete new one, never a part.
//
// The constructor creates the file exclusively, under a name of its own that no other file has (the
// caller's prefix, random hexadecimal digits, ".tmp") in the target's directory, without following
// any link; it throws orva::exception "can't create a file beside '<target>'" (after the trace line).
// Afterwards failures report through results as AFileCore says. Not inheritable by child processes.
//
// commit flushes the bytes to the disk, closes the file and moves it over the target; the directory
// is flushed afterwards where the system has such a thing (best effort). Moving replaces the target's
// entry itself, whatever it is (a link is replaced, never followed); without `replace` an existing
// entry of any kind is kept and commit fails (EEXIST / ERROR_FILE_EXISTS for the system's message).
// A NewFile that was not committed, or whose commit failed, removes its temporary file: only the
// system's last error is kept across that removal.
//
// removeOnInterrupt: while this file is armed, an interrupt (SIGINT, SIGTERM, SIGHUP; Ctrl+C or a
// console close on Windows) removes the temporary file before the process ends as the signal asks.
// One file is armed at a time per process (the latest); committing or destroying it disarms it.

#include "filedriver/AFileCore.h"
#include "filedriver/FilePath.h"
#include "filedriver/FilePlatform.h"

#include <cstdint>
#include <memory>
#include <string>

namespace filedriver {

class NewFile : public AFileCore {
public:
    NewFile(const FilePath& target, const std::wstring& prefix);
    ~NewFile() override;

    // Where the bytes are until commit.
    const FilePath& temporaryPath() const { return temporary; }
    bool commit(bool replace);
    void removeOnInterrupt();

    std::int32_t seek(std::int32_t offset, std::int32_t origin) override;
    std::int32_t tell() override;
    std::int32_t size() override;
    std::uint32_t read(void* buffer, std::uint32_t length) override;
    std::uint32_t write(const void* buffer, std::uint32_t length) override;
    const std::uint8_t* fetch(std::uint32_t length) override;
    void put(const void* buffer, std::uint32_t length) override;

private:
    // The unique part of a temporary name: 16 hexadecimal digits.
    static std::wstring uniqueSuffix();
    enum class Created { yes, nameTaken, failed };
    // Opens `temporary` exclusively, never following a link, not inheritable; its handle in `handle`.
    Created createExclusive(std::intptr_t& handle);
    // Moves `temporary` over `target`, replacing or not; false with the system's error.
    bool moveOverTarget(bool replace);
    // Where the system keeps directory entries apart from the data, flushes the target's directory.
    void flushTargetDirectory();
    // Closes and removes the temporary file, keeping the system's last error.
    void discard();
    void removeTemporary();
    void disarm();

    FilePath target;
    FilePath temporary;
    std::unique_ptr<FilePlatform> file; // until commit or discard
    bool armed = false;
};

} // namespace filedriver
