// POSIX half: a "sleep" started with posix_spawnp, which passes every descriptor without close-on-exec.
#include "support/HeldChild.h"

#include <csignal>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testsupport {

HeldChild::HeldChild()
{
    char sleep[] = "sleep", seconds[] = "60";
    char* arguments[] = {sleep, seconds, nullptr};
    pid_t child;
    // posix_spawnp returns once the new program runs, its close-on-exec descriptors closed.
    if (posix_spawnp(&child, sleep, nullptr, nullptr, arguments, environ) != 0)
        throw std::runtime_error("cannot start a child process");
    processId = static_cast<std::uint32_t>(child);
}

HeldChild::~HeldChild()
{
    kill(static_cast<pid_t>(processId), SIGKILL);
    int status;
    waitpid(static_cast<pid_t>(processId), &status, 0);
}

} // namespace testsupport
