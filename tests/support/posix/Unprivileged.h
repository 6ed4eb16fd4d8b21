#pragma once
// Runs a check in a child process that obeys file permissions: when the tests run as root, who passes
// over them, the child becomes the unprivileged user 65534 first.

#include <functional>

namespace testsupport {

// Exit code for a child that could not give up root's rights.
constexpr int couldNotDropRights = 125;

// The child's answer: what `check` returned (0 meaning success), couldNotDropRights, or -1 when the
// child could not be started or did not exit normally. The child does nothing after `check` returns:
// no gtest assertion in it counts, so it answers with its number.
int runUnprivileged(const std::function<int()>& check);

} // namespace testsupport
