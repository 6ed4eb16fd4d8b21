#pragma once
// The commands of the mca tool, each a thin layer over the filedriver library. Failures throw:
// orva::exception from the library, mca::Failure for the tool's own refusals; main reports either as
// "mca: <text>" with exit status 1.

#include "filedriver/FilePath.h"

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

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

// "<size>\t<name>\n" per member, in table order.
void listMembers(const filedriver::FilePath& archive);
// "<field>: <value>" per header field in layout order, then "property <key>=<value>" in key order.
void showInfo(const filedriver::FilePath& archive);
// The bytes of each file, plain or inside an archive, to standard output.
void catFiles(const std::vector<filedriver::FilePath>& paths);
// Every member into `directory`; refuses names that could leave it, and existing files unless `force`.
void extractMembers(const filedriver::FilePath& archive, const filedriver::FilePath& directory, bool force);
// Decodes and checks every block; "ok: <N> members, <B> blocks, <D> bytes".
void verifyArchive(const filedriver::FilePath& archive);
// A new archive of `files`, each under its file name, written beside the target and then moved over it.
void packFiles(const filedriver::FilePath& archive, const std::vector<filedriver::FilePath>& files,
               const PackOptions& options);

} // namespace mca
