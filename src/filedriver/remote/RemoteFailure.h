#pragma once
// A remote file's failure as the library's exception, thrown through throwLogged: NotFound, Changed and
// Unsupported keep their kind, Network becomes System without a system error number (no system call
// failed that a caller could look up), anything else Other. The message is the remote reader's own,
// which names the file by its display form.

#include "filedriver/remote/RemoteError.h"

namespace filedriver::remote {

[[noreturn]] void throwRemoteFailure(const RemoteError& error, const wchar_t* sourcePath, int site);

} // namespace filedriver::remote
