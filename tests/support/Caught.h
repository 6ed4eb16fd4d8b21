#pragma once
// What an action threw, for tests of failures: the orva::exception's text, kind and details.

#include "orva/exception.h"

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace testsupport {

struct Caught {
    bool thrown = false; // an orva::exception
    orva::ErrorKind kind = orva::ErrorKind::Other;
    std::int64_t block = -1;
    int systemError = 0;
    std::string what;
};

// Runs `action`; anything but an orva::exception passes through.
Caught caught(const std::function<void()>& action);

const char* kindName(orva::ErrorKind kind);

} // namespace testsupport

namespace orva {
// For the test's messages.
inline std::ostream& operator<<(std::ostream& out, ErrorKind kind)
{
    return out << testsupport::kindName(kind);
}
} // namespace orva
