#pragma once
// The commands of the mca tool that read archives, each a thin layer over the filedriver library.
// Failures that end a command throw (Failure.h); a command that goes on past a failure says it on
// standard error ("mca: <text>") and answers false at the end.

#include "Failure.h"

#include "filedriver/ArchiveInfo.h"
#include "filedriver/FilePath.h"

#include <string>
#include <vector>

namespace mca {

// The loaded archive of the file `archive`, which must end in ".mca" (a path through one is no
// archive here; separators after the name are dropped). A file that cannot be opened fails with the
// system's reason (no such file, a directory, no permission). Throws Failure or the library's failures.
filedriver::ArchiveInfo openArchive(const filedriver::FilePath& archive);

// "<size>\t<name>\n" per member, in table order; false (said first) for an archive cut short.
bool listMembers(const filedriver::FilePath& archive);
// "<field>: <value>" per header field in layout order, then "property <key>=<value>" in key order;
// false (said first) for an archive cut short.
bool showInfo(const filedriver::FilePath& archive);
// The bytes of each file to standard output: a plain file, a path through an archive to a member, or
// "-" for standard input. A file that fails is reported (a member's read failure as
// "<path>: block <k>: <text>") and the others follow; false when any failed. A failure to write standard
// output ends it (throws). `threads` decode a large member's blocks ahead (0: one per processor; 1 reads
// through a cursor alone); the output and the failures are the same for every count.
bool catFiles(const std::vector<filedriver::FilePath>& paths, unsigned threads = 0);
// Every member, or those named in `only` (an unknown name is refused), into `directory`. Refuses,
// before anything is written, names that could leave it or that this platform would change, and
// existing entries of any kind unless `force` (which replaces the entry itself, never what a link
// points at). Each member is written beside its place and moved there only when whole. A member that
// fails is reported ("<member>: block <k>: <text>" on standard error) and leaves nothing; the others
// follow unless `stopOnError`. False when any member failed. `threads` as for catFiles.
bool extractMembers(const filedriver::FilePath& archive, const filedriver::FilePath& directory,
                    const std::vector<std::wstring>& only, bool force, bool stopOnError, unsigned threads = 0);
// Checks that the file holds every block, that every name can be extracted here and reached by name,
// and decodes and checks every block: "ok: <N> members, <B> blocks, <D> bytes", or one line per
// problem and the counts on standard error and false. `threads` decode ahead (0: one per processor; 1
// checks each block through a cursor); the lines are the same for every count.
bool verifyArchive(const filedriver::FilePath& archive, unsigned threads = 0);

} // namespace mca
