// POSIX half of the file written beside its target: open(2) with O_EXCL, fsync, rename(2) (or
// renameat2 with RENAME_NOREPLACE) and an fsync of the directory.
#include "filedriver/NewFile.h"

#include "orva/WideText.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace filedriver {
namespace {

constexpr mode_t newFilePermissions = 0666; // before the umask
constexpr int interruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The armed file's name, read by the signal handler: written only while interruptArmed is 0.
char interruptPath[PATH_MAX];
volatile std::sig_atomic_t interruptArmed = 0;

extern "C" void removeArmedFile(int signal)
{
    if (interruptArmed)
        unlink(interruptPath);
    // SA_RESETHAND put the default action back: the signal, blocked until we return, then ends us.
    raise(signal);
}

void installInterruptHandlers()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = removeArmedFile;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int signal : interruptSignals) {
        struct sigaction previous;
        // A signal the process was told to ignore (nohup) stays ignored.
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
            sigaction(signal, &action, nullptr);
    }
}

int fd(std::intptr_t handle)
{
    return static_cast<int>(handle);
}

template <class Call>
auto retried(Call call)
{
    decltype(call()) result;
    do
        result = call();
    while (result < 0 && errno == EINTR);
    return result;
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

// Moves without replacing: renameat2 where the file system has it, else a hard link and an unlink.
int renameNoReplace(const char* from, const char* to)
{
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return -1;
#endif
    if (link(from, to) != 0)
        return -1;
    unlink(from);
    return 0;
}

void flushDirectory(const FilePath& directory)
{
    const int file = retried([&] {
        return open(orva::toNative(directory.normalised()).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    });
    if (file < 0)
        return;
    retried([&] { return fsync(file); });
    close(file);
}

} // namespace

NewFile::Created NewFile::createExclusive()
{
    const int file = retried([&] {
        return open(orva::toNative(temporary.normalised()).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                    newFilePermissions);
    });
    if (file < 0)
        return errno == EEXIST ? Created::nameTaken : Created::failed;
    handle = file;
    return Created::yes;
}

void NewFile::closeHandle()
{
    close(fd(handle));
    handle = noFile;
}

void NewFile::discard()
{
    const int error = errno;
    if (handle != noFile)
        closeHandle();
    unlink(orva::toNative(temporary.normalised()).c_str());
    disarm();
    errno = error;
}

void NewFile::removeOnInterrupt()
{
    const std::string name = orva::toNative(temporary.normalised());
    if (name.size() >= sizeof interruptPath)
        return;
    installInterruptHandlers();
    interruptArmed = 0;
    std::memcpy(interruptPath, name.c_str(), name.size() + 1);
    interruptArmed = 1;
    armed = true;
}

void NewFile::disarm()
{
    if (armed)
        interruptArmed = 0;
    armed = false;
}

bool NewFile::commit(bool replace)
{
    if (handle == noFile)
        return false;
    if (retried([&] { return fsync(fd(handle)); }) != 0) {
        discard();
        return false;
    }
    closeHandle();
    const std::string from = orva::toNative(temporary.normalised());
    const std::string to = orva::toNative(target.normalised());
    if ((replace ? std::rename(from.c_str(), to.c_str()) : renameNoReplace(from.c_str(), to.c_str())) != 0) {
        discard();
        return false;
    }
    disarm();
    flushDirectory(target.directoryPart());
    return true;
}

std::int32_t NewFile::seek(std::int32_t offset, std::int32_t origin)
{
    int how;
    if (handle == noFile || !whence(origin, how))
        return -1;
    const off_t before = lseek(fd(handle), 0, SEEK_CUR);
    const off_t after = lseek(fd(handle), offset, how);
    if (after < 0)
        return -1;
    if (after > INT32_MAX) {
        lseek(fd(handle), before, SEEK_SET);
        return -1;
    }
    return static_cast<std::int32_t>(after);
}

std::int32_t NewFile::tell()
{
    const off_t position = handle == noFile ? -1 : lseek(fd(handle), 0, SEEK_CUR);
    return position < 0 || position > INT32_MAX ? -1 : static_cast<std::int32_t>(position);
}

std::int32_t NewFile::size()
{
    struct stat status;
    if (handle == noFile || fstat(fd(handle), &status) != 0 || status.st_size > INT32_MAX)
        return -1;
    return static_cast<std::int32_t>(status.st_size);
}

std::uint32_t NewFile::read(void* buffer, std::uint32_t length)
{
    const ssize_t count = handle == noFile ? -1 : retried([&] { return ::read(fd(handle), buffer, length); });
    return count < 0 ? 0 : static_cast<std::uint32_t>(count);
}

std::uint32_t NewFile::write(const void* buffer, std::uint32_t length)
{
    const ssize_t count = handle == noFile ? -1 : retried([&] { return ::write(fd(handle), buffer, length); });
    return count < 0 ? 0 : static_cast<std::uint32_t>(count);
}

} // namespace filedriver
