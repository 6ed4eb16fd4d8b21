// An archive's bytes from outside: loaded, every member read in both open modes and every block
// checked as `mca verify` checks it. Nothing may crash, hang or corrupt memory, the two modes must
// agree byte for byte wherever both succeed, and every failure must be of a kind that bytes can cause.
#include "filedriver/ArchiveInfo.h"
#include "filedriver/FileDriver.h"
#include "orva/Log.h"
#include "orva/WideText.h"

#include "ScratchFolder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace filedriver;

constexpr std::uint32_t mostBytesPerMember = 1 << 20;
constexpr std::size_t mostMembers = 64;

const FilePath& archivePath()
{
    static const FilePath path(orva::fromNative(scratchFolder() + "/input.mca"));
    return path;
}

// A failure of another kind than `expected` is a throw site that misnames what went wrong.
void checkKind(const orva::exception& failure, std::initializer_list<orva::ErrorKind> expected)
{
    for (const orva::ErrorKind kind : expected)
        if (failure.kind() == kind)
            return;
    std::fprintf(stderr, "unexpected kind %d: %s\n", static_cast<int>(failure.kind()), failure.what());
    std::abort();
}

// The member's bytes, or false when reading failed (damage is reported by exception or a short read).
// A member that a path cannot name is not found.
bool readMember(const FilePath& path, std::uint32_t mode, std::vector<std::uint8_t>& bytes)
{
    try {
        FileDriver file(path, mode);
        bytes.assign(static_cast<std::size_t>(std::min<std::int64_t>(std::max(file.size(), 0), mostBytesPerMember)), 0);
        return file.read(bytes.data(), static_cast<std::uint32_t>(bytes.size())) == bytes.size();
    } catch (const orva::exception& failure) {
        checkKind(failure, {orva::ErrorKind::Damaged, orva::ErrorKind::NotFound});
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The library's trace lines would drown the fuzzer's own output.
    orva::errorLog.file = nullptr;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const FilePath& path = archivePath();
    releaseArchive(path);
    std::FILE* file = std::fopen(orva::toNative(path).c_str(), "wb");
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    std::unique_ptr<ArchiveInfo> archive;
    try {
        archive = std::make_unique<ArchiveInfo>(path);
    } catch (const orva::exception& failure) {
        checkKind(failure, {orva::ErrorKind::Damaged, orva::ErrorKind::Unsupported});
        return 0;
    }
    const std::vector<FileEntry>& members = archive->members();
    for (std::size_t i = 0; i < members.size() && i < mostMembers; ++i) {
        const FilePath member(path + L"/" + members[i].name);
        std::vector<std::uint8_t> bare, buffered;
        const bool bareRead = readMember(member, OpenRead, bare);
        const bool bufferedRead = readMember(member, OpenReadBuffered, buffered);
        if (bareRead && bufferedRead && bare != buffered)
            std::abort();
    }
    // On the fuzzer's thread, through the cache, as mca verify --threads 1 checks.
    try {
        archive->verify({}, 1);
    } catch (const orva::exception& failure) {
        checkKind(failure, {});
    }
    return 0;
}
