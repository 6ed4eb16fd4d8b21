#pragma once
// What a throw site states about a system call that failed: for the failure's kind, and its reason
// noted for the caller (SystemError.h).

#include "orva/exception.h"

namespace filedriver {

// The failure of the system call that failed last on this thread, its reason noted: NotFound where the
// system says that the file, or a directory on its way, is not there; else System with the system's
// error number (errno, GetLastError).
orva::ErrorCause noteFailedCall();

// Platform halves: the number of the last failure on this thread, and whether a number means "not there".
int lastSystemErrorNumber();
bool meansNotThere(int systemError);

} // namespace filedriver
