#pragma once
// A child process that inherits whatever this process lets children inherit (descriptors, handles),
// does nothing, and lives until the object is destroyed, which ends it and waits for it. Should the
// test die first, the child ends by itself within a minute.

#include <cstdint>

namespace testsupport {

class HeldChild {
public:
    // Throws std::runtime_error when no child can be started.
    HeldChild();
    ~HeldChild();
    HeldChild(const HeldChild&) = delete;
    HeldChild& operator=(const HeldChild&) = delete;

    // The child's process id.
    std::uint32_t id() const { return processId; }

private:
    std::uint32_t processId = 0;
    std::intptr_t process = 0; // the Win32 process handle; unused on POSIX
};

} // namespace testsupport
