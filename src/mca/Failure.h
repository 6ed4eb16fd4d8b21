#pragma once
// How mca's commands fail: the library throws orva::exception, the tool's own refusals throw Failure.
// Either ends the command with "mca: <text>" on standard error and exit status 1.

#include <stdexcept>
#include <string>

namespace orva {
class exception;
}

namespace mca {

class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The library's text of `error`, then ": <the system's reason>" where a failed system call caused it
// (kinds System and NotFound). Takes the reason noted on this thread (filedriver/SystemError.h): call it
// once, where it is caught.
std::string failureText(const orva::exception& error);

} // namespace mca
