#pragma once
// What the mca tool needs of the system beyond the library: its arguments as UTF-8, raw standard
// output, whether standard error is a terminal, the platform's name rules and the names in a
// directory that the library cannot reach.

#include "MemberNames.h"

#include "filedriver/FilePath.h"

#include <string>
#include <vector>

namespace mca {

// The command line as UTF-8, whatever the system's narrow text is.
std::vector<std::string> utf8Arguments(int argc, char** argv);
// Standard output passes bytes unchanged (no newline translation).
void useBinaryOutput();
bool errorIsTerminal();
// The platform whose name rules extract applies here.
NamePlatform hostPlatform();
// The names in `directory`, as the system's bytes, that have no wide spelling leading back to them:
// on Linux those that are not valid UTF-8; none on Windows, whose names are UTF-16 already. Empty
// also when the directory cannot be read.
std::vector<std::string> undecodableNames(const filedriver::FilePath& directory);

} // namespace mca
