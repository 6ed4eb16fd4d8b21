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

// Why `name` may not become a file below the target directory on `platform`; nullptr when it may. A
// name also fails where the system would refuse it: not valid Unicode (an unpaired surrogate), or
// longer than a file name may be (255 bytes of UTF-8 on Linux, 255 UTF-16 units on Windows).
const char* refusedName(const std::wstring& name, NamePlatform platform);

// A member that extract cannot write on a platform, or that no lookup by name reaches.
struct NameProblem {
    std::size_t member;            // its place in the table
    const char* refused = nullptr; // refusedName's answer, or nullptr
    // For a later member of a name already used (the lookup finds the first alone): that first member.
    std::size_t sameNameAs = noMember;
    static constexpr std::size_t noMember = static_cast<std::size_t>(-1);
};
// The problems of `names` (an archive's members, in table order) on `platform`, in table order; a
// refused name is not looked at again as a duplicate.
std::vector<NameProblem> nameProblems(const std::vector<std::wstring>& names, NamePlatform platform);

// The positions in `names` (an archive's members, in table order) of those that `wanted` names, in
// table order: all of them when `wanted` is empty, each member once however often it is named. False
// when a wanted name is no member's: `unknown` is then that name (the first such).
bool chooseMembers(const std::vector<std::wstring>& names, const std::vector<std::wstring>& wanted,
                   std::vector<std::size_t>& positions, std::wstring& unknown);

} // namespace mca
