#pragma once
// The commands of the mca tool, each a thin layer over the filedriver library. Failures throw:
// orva::exception from the library, mca::Failure for the tool's own refusals; main reports either as
// "mca: <text>" with exit status 1.

#include "filedriver/ArchiveInfo.h"
#include "filedriver/FilePath.h"

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace orva {
class exception;
}

namespace mca {

class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct PackOptions {
    std::uint32_t blockSize = 65536;
    bool store = false;
    std::int32_t level = -1;
    unsigned threads = 0; // compressing threads; 0 for one per processor
    std::map<std::wstring, std::wstring> properties;
};

// The library's text of `error`, then ": <the system's reason>" where a failed system call caused it.
// Takes the reason noted on this thread (filedriver/SystemError.h): call it once, where it is caught.
std::string failureText(const orva::exception& error);

// One file argument of pack: a path (a file, a stream or a directory) or standard input ("-"), and
// the member name it is stored under (a directory's files take their own).
struct PackFile {
    filedriver::FilePath path;
    std::wstring name;
    bool standardInput = false;
};

// The loaded archive of the file `archive`, which must end in ".mca" (a path through one is no
// archive here; separators after the name are dropped). Throws Failure or the library's load failures.
filedriver::ArchiveInfo openArchive(const filedriver::FilePath& archive);
// "<size>\t<name>\n" per member, in table order.
void listMembers(const filedriver::FilePath& archive);
// "<field>: <value>" per header field in layout order, then "property <key>=<value>" in key order.
void showInfo(const filedriver::FilePath& archive);
// The bytes of each file, plain or inside an archive, to standard output. `threads` decode a large
// member's blocks ahead (0: one per processor; 1 reads through a cursor alone); the output and the
// failures are the same for every count.
void catFiles(const std::vector<filedriver::FilePath>& paths, unsigned threads = 0);
// Every member, or those named in `only` (an unknown name is refused), into `directory`. Refuses,
// before anything is written, names that could leave it or that this platform would change, and
// existing entries of any kind unless `force` (which replaces the entry itself, never what a link
// points at). Each member is written beside its place and moved there only when whole. A member that
// fails is reported ("<member>: block <k>: <text>" on standard error) and leaves nothing; the others
// follow unless `stopOnError`. False when any member failed. `threads` as for catFiles.
bool extractMembers(const filedriver::FilePath& archive, const filedriver::FilePath& directory,
                    const std::vector<std::wstring>& only, bool force, bool stopOnError, unsigned threads = 0);
// Decodes and checks every block; "ok: <N> members, <B> blocks, <D> bytes", or one line per damaged
// block and a count on standard error and false. `threads` decode ahead (0: one per processor; 1
// checks each block through a cursor); the lines are the same for every count.
bool verifyArchive(const filedriver::FilePath& archive, unsigned threads = 0);
// A new archive of `files`, each under its name, written beside the target under a name of its own,
// flushed to the disk and then moved over it; an interrupt removes the unfinished file. A directory
// stands for its regular files, recursively, in name order, each under its file name; anything else
// in it (a link, a pipe) is refused. Pipes, devices and standard input are read to their end first.
// Refused before anything is written: two files of one name, the target itself among the files, and
// a file of 2 GiB or more. Names that extract would refuse on some platform are warned about on
// standard error.
void packFiles(const filedriver::FilePath& archive, const std::vector<PackFile>& files, const PackOptions& options);

} // namespace mca
