#pragma once
// What the mca tool needs of the system beyond the library: its arguments as UTF-8, raw standard
// output, whether standard error is a terminal and the platform's name rules.

#include "MemberNames.h"

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

} // namespace mca
