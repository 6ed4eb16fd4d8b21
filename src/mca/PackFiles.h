#pragma once
// mca pack: a new archive of files, made beside the target and moved over it only when whole.

#include "filedriver/FilePath.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace mca {

struct PackOptions {
    std::uint32_t blockSize = 65536;
    bool store = false;
    std::int32_t level = -1;
    unsigned threads = 0; // compressing threads; 0 for one per processor
    std::map<std::wstring, std::wstring> properties;
};

// One file argument of pack: a path (a file, a stream or a directory) or standard input ("-"), and
// the member name it is stored under (a directory's files take their own).
struct PackFile {
    filedriver::FilePath path;
    std::wstring name;
    bool standardInput = false;
};

// A new archive of `files`, each under its name, written beside the target under a name of its own,
// flushed to the disk and then moved over it; an interrupt removes the unfinished file.
//
// A directory stands for its regular files, recursively, in name order, each under its file name.
// Inside it, a link to a regular file is followed and stored under the link's name; a link to a
// directory (never followed: no loops), a link that leads nowhere, a pipe, a device or a socket is
// skipped, each said on standard error ("warning: skipping <path>: <why>"). Pipes, devices and standard
// input named as files are read to their end first.
//
// Refused before anything is read, each said on standard error with false answered: a target that is
// a directory, two files of one member name (both paths named), the target itself among the files,
// a file of 2 GiB or more, and (Linux) a name in a directory that is not valid UTF-8, by its escaped
// bytes. Names that extract would refuse on some platform are warned about. A file that changes while
// it is read (grows, shrinks or is rewritten) fails the pack. Other failures throw Failure or the
// library's exception; the library refuses a stored archive (`store`) of 2 GiB or more before any
// block is written.
bool packFiles(const filedriver::FilePath& archive, const std::vector<PackFile>& files, const PackOptions& options);

} // namespace mca
