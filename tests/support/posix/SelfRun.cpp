// POSIX half: fork and exec of /proc/self/exe.
#include "support/SelfRun.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace testsupport {

SelfRun::SelfRun(const std::string& gtestFilter, const Environment& environment)
{
    std::string filter = "--gtest_filter=" + gtestFilter;
    std::string name = "self";
    // Made before the fork: between fork and exec only async-signal-safe calls.
    std::vector<std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text(*entry);
        bool replaced = false;
        for (const auto& variable : environment)
            replaced = replaced || text.rfind(variable.first + "=", 0) == 0;
        if (!replaced)
            variables.push_back(text);
    }
    for (const auto& [variable, value] : environment)
        variables.push_back(variable + "=" + value);
    std::vector<char*> envp;
    for (std::string& text : variables)
        envp.push_back(text.data());
    envp.push_back(nullptr);
    char* argv[] = {name.data(), filter.data(), nullptr};
    const pid_t child = fork();
    if (child == 0) {
        execve("/proc/self/exe", argv, envp.data());
        _exit(127);
    }
    started = child > 0;
    handle = child;
}

SelfRun::~SelfRun()
{
    if (started && !finished)
        wait(0);
}

int SelfRun::wait(int timeoutSeconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int status = 0;
    for (;;) {
        if (waitpid(static_cast<pid_t>(handle), &status, WNOHANG) == static_cast<pid_t>(handle))
            break;
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(static_cast<pid_t>(handle), SIGKILL);
            waitpid(static_cast<pid_t>(handle), &status, 0);
            finished = true;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    finished = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace testsupport
