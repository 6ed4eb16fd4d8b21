#pragma once
// Which member names may become a file of their own in a directory, on each platform the tool runs
// on. A name must never reach another directory or, on Windows, turn into a device or into a file of
// another name (Windows drops a trailing dot or space, and reads "c:x" as a path on drive C).

#include <cstddef>
#include <string>
#include <vector>

namespace mca {

enum class NamePlatform { onLinux, onWindows };

// "Linux" or "Windows", for messages.
const char* platformName(NamePlatform platform);

// Why `name` may not become a file below the target directory on `platform`; nullptr when it may.
const char* refusedName(const std::wstring& name, NamePlatform platform);
// True for CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9, in any letter case, with any extension
// (and the spaces Windows drops before it).
bool isWindowsDeviceName(const std::wstring& name);

// The positions in `names` (an archive's members, in table order) of those that `wanted` names, in
// table order: all of them when `wanted` is empty, each member once however often it is named. False
// when a wanted name is no member's: `unknown` is then that name (the first such).
bool chooseMembers(const std::vector<std::wstring>& names, const std::vector<std::wstring>& wanted,
                   std::vector<std::size_t>& positions, std::wstring& unknown);

} // namespace mca
