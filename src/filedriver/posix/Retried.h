#pragma once
// A system call that a signal interrupted (EINTR) is made again: every call of the POSIX halves that
// can be interrupted goes through here.

#include <cerrno>

namespace filedriver {

// `call` again while it answers a negative value with errno EINTR; its last answer.
template <class Call>
auto retried(Call call)
{
    decltype(call()) result;
    do
        result = call();
    while (result < 0 && errno == EINTR);
    return result;
}

} // namespace filedriver
