#include "support/Caught.h"

namespace testsupport {

Caught caught(const std::function<void()>& action)
{
    try {
        action();
    } catch (const orva::exception& error) {
        return Caught{true, error.kind(), error.block(), error.systemError(), error.what()};
    }
    return Caught{};
}

const char* kindName(orva::ErrorKind kind)
{
    switch (kind) {
    case orva::ErrorKind::NotFound: return "NotFound";
    case orva::ErrorKind::Damaged: return "Damaged";
    case orva::ErrorKind::Changed: return "Changed";
    case orva::ErrorKind::Unsupported: return "Unsupported";
    case orva::ErrorKind::System: return "System";
    case orva::ErrorKind::Other: return "Other";
    }
    return "?";
}

} // namespace testsupport
