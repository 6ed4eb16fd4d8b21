#pragma once
// Fills the kernel's name cache of a freshly mounted FUSE session before it is put to work: a thread of
// its own lists the mount's root through the kernel (which asks the server with readdirplus, so that
// every listed name arrives with its inode and attributes), while the calling thread serves the
// session. Afterwards an open of any listed name asks the server nothing, as on the kernel's own file
// systems, and the server may store pages of any listed file (its inode is known to the kernel).
//
// The kernel keeps the entries as ordinary cache, free to drop them (a later open then looks the name
// up again). Runs before the mount is handed over (before the server goes to the background), so that
// nothing the caller does meets the listing's open directory: an unmount then would fail as busy.

#include <cstddef>
#include <string>

struct fuse_session;

namespace mca {

// Lists at most `most` names of the directory mounted on `mountPoint`, serving `session` on the
// calling thread meanwhile, one request at a time. Returns once the listing ends, whether it got
// through or not, or at once where its thread cannot be made: a failure costs only the lookups it
// would have saved. A signal that asks the session to end is kept for the caller (fuse_session_exited).
void primeEntries(fuse_session* session, const std::string& mountPoint, std::size_t most);

} // namespace mca
