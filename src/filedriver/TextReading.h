#pragma once
// Texts as archives store them, read from any core: the file driver's typed reads and the index
// loader share it.

#include "filedriver/AFileCore.h"

#include <string>

namespace filedriver {

// UTF-16LE units from the core's position up to `terminator` (consumed, not stored) or to the core's
// end; what was read past the terminator is given back with a seek. `units` is the caller's scratch.
std::wstring readWString(AFileCore& core, char16_t terminator, std::u16string& units);

} // namespace filedriver
