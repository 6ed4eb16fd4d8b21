// POSIX half of the plain file: open(2) and friends on one descriptor, UTF-8 file names in which a
// backslash separates too.
#include "filedriver/FilePlatform.h"
#include "filedriver/posix/Retried.h"

#include "filedriver/SystemError.h"
#include "filedriver/SystemFailure.h"

#include "orva/Log.h"
#include "orva/WideText.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace filedriver {
namespace {

constexpr wchar_t sourcePath[] = L".\\src\\filedriver\\posix\\FilePlatform.cpp";
constexpr int temporarySite = 56;
constexpr int unknownModeSite = 60;
constexpr int openSite = 63;

constexpr mode_t newFilePermissions = 0666; // before the umask
constexpr char temporaryPrefix[] = "orv";
constexpr char defaultTemporaryDirectory[] = "/tmp";

// The open(2) flags of a mode; false for a value outside the table. Descriptors stay inheritable,
// as the Windows handles are (the temporary file's is not, as on Windows).
bool openFlags(std::uint32_t mode, int& flags)
{
    switch (mode) {
    case OpenRead:
    case OpenReadBuffered: flags = O_RDONLY; return true;
    case OpenReadWrite: flags = O_RDWR; return true;
    case CreateWrite:
    case CreateWriteBuffered: flags = O_WRONLY | O_CREAT | O_TRUNC; return true;
    case CreateReadWrite: flags = O_RDWR | O_CREAT | O_TRUNC; return true;
    default: return false;
    }
}

bool whence(std::int32_t origin, int& result)
{
    switch (origin) {
    case SeekCurrent: result = SEEK_CUR; return true;
    case SeekBegin: result = SEEK_SET; return true;
    case SeekEnd: result = SEEK_END; return true;
    default: return false;
    }
}

// Created exclusively and unlinked at once, so that nothing of it outlives the descriptor and nobody
// else can open it by name; not inherited, or a child would keep it alive.
int openTemporary()
{
    const char* directory = std::getenv("TMPDIR");
    std::string name = (directory && *directory) ? directory : defaultTemporaryDirectory;
    name += '/';
    name += temporaryPrefix;
    name += "XXXXXX";
    const int file = mkostemp(name.data(), O_CLOEXEC);
    if (file >= 0)
        unlink(name.c_str());
    return file;
}

// A descriptor of the file at `name`, or -1. A directory opens for reading here but is no file, and
// Windows refuses it in every mode: so it is refused here too.
int openPlain(const std::string& name, int flags)
{
    const int file = retried([&] { return open(name.c_str(), flags, newFilePermissions); });
    struct stat status;
    if (file >= 0 && (fstat(file, &status) != 0 || S_ISDIR(status.st_mode))) {
        const int reason = S_ISDIR(status.st_mode) ? EISDIR : errno;
        close(file);
        errno = reason;
        return -1;
    }
    return file;
}

int fd(std::intptr_t handle)
{
    return static_cast<int>(handle);
}

} // namespace

FilePlatform::FilePlatform(const FilePath& path, std::uint32_t mode) : AFileCore(mode)
{
    forgetSystemError();
    int file;
    if (mode == Temporary) {
        file = openTemporary();
        if (file < 0) {
            orva::throwLogged(noteFailedCall(), sourcePath, temporarySite, "can't create temporary file");
        }
    } else {
        int flags;
        if (!openFlags(mode, flags))
            orva::throwLogged(orva::ErrorKind::Other, sourcePath, unknownModeSite, "unknown file opening mode");
        file = openPlain(orva::toNative(path.normalised()), flags);
        if (file < 0) {
            orva::throwLogged(noteFailedCall(), sourcePath, openSite, "can't open file '%ls'", path.c_str());
        }
    }
    posix_fadvise(file, 0, 0, POSIX_FADV_RANDOM);
    handle = file;
}

FilePlatform::FilePlatform(std::intptr_t systemHandle, std::uint32_t mode) : AFileCore(mode), handle(systemHandle) {}

std::unique_ptr<FilePlatform> FilePlatform::standardInput()
{
    const int copy = fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
    return copy < 0 ? nullptr : std::make_unique<FilePlatform>(copy, OpenRead);
}

bool FilePlatform::flushToDisk()
{
    return retried([&] { return fsync(fd(handle)); }) == 0;
}

FilePlatform::~FilePlatform()
{
    if (handle != noFile)
        close(fd(handle));
}

void FilePlatform::willNeed(std::uint64_t offset, std::uint64_t length)
{
    if (offset <= std::uint64_t(INT64_MAX) && length <= std::uint64_t(INT64_MAX))
        posix_fadvise(fd(handle), static_cast<off_t>(offset), static_cast<off_t>(length),
                      POSIX_FADV_WILLNEED);
}

std::int32_t FilePlatform::seek(std::int32_t offset, std::int32_t origin)
{
    int how;
    if (!whence(origin, how))
        return -1;
    // Only a relative move can land beyond 2 GiB - 1; then the old position is put back.
    const off_t before = how == SEEK_SET ? 0 : lseek(fd(handle), 0, SEEK_CUR);
    const off_t after = lseek(fd(handle), offset, how);
    if (after < 0)
        return -1;
    if (after > INT32_MAX) {
        lseek(fd(handle), before, SEEK_SET);
        return -1;
    }
    return static_cast<std::int32_t>(after);
}

std::int32_t FilePlatform::tell()
{
    const off_t position = lseek(fd(handle), 0, SEEK_CUR);
    return position < 0 || position > INT32_MAX ? -1 : static_cast<std::int32_t>(position);
}

std::int32_t FilePlatform::size()
{
    struct stat status;
    if (fstat(fd(handle), &status) != 0 || status.st_size > INT32_MAX)
        return -1;
    return static_cast<std::int32_t>(status.st_size);
}

std::uint32_t FilePlatform::read(void* buffer, std::uint32_t length)
{
    const ssize_t count = retried([&] { return ::read(fd(handle), buffer, length); });
    return count < 0 ? 0 : static_cast<std::uint32_t>(count);
}

std::uint32_t FilePlatform::write(const void* buffer, std::uint32_t length)
{
    // A short count is no failure to the system (a full disk takes what fits and refuses the rest
    // only when asked again): the rest is asked for, so that a short answer always leaves errno as
    // the call that refused set it.
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::uint32_t done = 0;
    while (done < length) {
        const ssize_t count = retried([&] { return ::write(fd(handle), bytes + done, length - done); });
        if (count <= 0)
            break;
        done += static_cast<std::uint32_t>(count);
    }
    return done;
}

const std::uint8_t* FilePlatform::fetch(std::uint32_t length)
{
    std::memset(scratch, 0, sizeof scratch);
    read(scratch, length < scratchSize ? length : scratchSize);
    return scratch;
}

std::uint32_t FilePlatform::readAt(std::int64_t offset, void* buffer, std::uint32_t length)
{
    const ssize_t count = retried([&] { return pread(fd(handle), buffer, length, static_cast<off_t>(offset)); });
    return count < 0 ? 0 : static_cast<std::uint32_t>(count);
}

void FilePlatform::put(const void* buffer, std::uint32_t length)
{
    write(buffer, length);
}

} // namespace filedriver
