#pragma once
// The system's reason for a failure, in its own words: strerror(errno) on Linux, FormatMessage of
// GetLastError() on Windows.
//
// A constructor of the library that throws because a system call failed notes the reason right after
// that call, before anything else can change it; the caller that catches the exception takes it and
// may show it after the exception's text. The note is per thread, and each such constructor clears it
// when it starts, so a reason taken never belongs to an earlier failure of that constructor's kind.

#include <string>

namespace filedriver {

// The reason of the system call that failed last on this thread ("No such file or directory").
std::string lastSystemError();
// The system's words for its error number `systemError` (errno, GetLastError), as
// orva::exception::systemError() gives it.
std::string systemErrorText(int systemError);

// Notes lastSystemError() for this thread, or forgets the note (an empty reason).
void noteSystemError();
void forgetSystemError();
// The reason noted on this thread, empty when none; the note is forgotten.
std::string takeSystemError();

} // namespace filedriver
