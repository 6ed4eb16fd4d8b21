#include "filedriver/remote/RemoteFailure.h"

#include "orva/Log.h"

namespace filedriver::remote {
namespace {

orva::ErrorCause causeOf(RemoteErrorKind kind)
{
    switch (kind) {
    case RemoteErrorKind::NotFound: return orva::ErrorKind::NotFound;
    case RemoteErrorKind::Changed: return orva::ErrorKind::Changed;
    case RemoteErrorKind::Unsupported: return orva::ErrorKind::Unsupported;
    case RemoteErrorKind::Network: return orva::systemFailure(0);
    default: return orva::ErrorKind::Other;
    }
}

} // namespace

void throwRemoteFailure(const RemoteError& error, const wchar_t* sourcePath, int site)
{
    orva::throwLogged(causeOf(error.kind), sourcePath, site, "%s", error.message.c_str());
}

} // namespace filedriver::remote
