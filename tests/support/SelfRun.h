#pragma once
// Runs this test program again as a child, on one test (--gtest_filter), with variables added to its
// environment, and waits at most `timeoutSeconds` for it (then kills it).

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

class SelfRun {
public:
    using Environment = std::vector<std::pair<std::string, std::string>>;

    // Starts the child; running() is false when it could not be started.
    SelfRun(const std::string& gtestFilter, const Environment& environment);
    ~SelfRun();
    SelfRun(const SelfRun&) = delete;
    SelfRun& operator=(const SelfRun&) = delete;

    bool running() const { return started; }
    // The child's exit status, or -1 when it was killed after the timeout.
    int wait(int timeoutSeconds);

private:
    bool started = false;
    bool finished = false;
    long long handle = 0; // the pid, or the Win32 process handle
};

} // namespace testsupport
