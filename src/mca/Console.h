#pragma once
// What the mca tool needs of the system beyond the library: its arguments as UTF-8, raw standard
// output, whether standard error is a terminal, and replacing or removing a file.

#include "filedriver/FilePath.h"

#include <string>
#include <vector>

namespace mca {

// The command line as UTF-8, whatever the system's narrow text is.
std::vector<std::string> utf8Arguments(int argc, char** argv);
// Standard output passes bytes unchanged (no newline translation).
void useBinaryOutput();
bool errorIsTerminal();
// Moves `from` over `to`, replacing it; false on failure.
bool replaceFile(const filedriver::FilePath& from, const filedriver::FilePath& to);
void removeFile(const filedriver::FilePath& path);
// The system's message for the last failed call.
std::string lastSystemError();

} // namespace mca
