// POSIX half of the file written beside its target: open(2) with O_EXCL, rename(2) (or renameat2
// with RENAME_NOREPLACE) and an fsync of the directory; SIGINT, SIGTERM and SIGHUP remove the armed file.
#include "filedriver/NewFile.h"
#include "filedriver/posix/Retried.h"

#include "orva/WideText.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
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

} // namespace

NewFile::Created NewFile::createExclusive(std::intptr_t& handle)
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

void NewFile::removeTemporary()
{
    const int error = errno;
    unlink(orva::toNative(temporary.normalised()).c_str());
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

bool NewFile::moveOverTarget(bool replace)
{
    const std::string from = orva::toNative(temporary.normalised());
    const std::string to = orva::toNative(target.normalised());
    return (replace ? std::rename(from.c_str(), to.c_str()) : renameNoReplace(from.c_str(), to.c_str())) == 0;
}

// Best effort: some file systems cannot flush a directory, and the file is in place by now.
void NewFile::flushTargetDirectory()
{
    const int directory = retried([&] {
        return open(orva::toNative(target.directoryPart().normalised()).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    });
    if (directory < 0)
        return;
    retried([&] { return fsync(directory); });
    close(directory);
}

} // namespace filedriver
