#pragma once
// Windows paths in the form that the GUI toolkit hands to the launcher: '/' separators, no trailing
// separator except at a root ("C:/", "/"), no "\\?\" prefix. The host that stands in for the toolkit
// gives the launcher its directories through these, so the flow sees the same text either way.

#include <string>
#include <string_view>

namespace launcher {

// `nativePath` ("C:\Apps\Tool\", "\\?\UNC\server\share\x") in the toolkit's form ("C:/Apps/Tool",
// "//server/share/x").
std::wstring toolkitPath(std::wstring_view nativePath);

// The directory of the file `filePath`, in the toolkit's form: "C:\Apps\Tool\GleanerQt.exe" gives
// "C:/Apps/Tool", "C:\GleanerQt.exe" gives "C:/". A name without a directory gives an empty string.
std::wstring toolkitDirectoryOf(std::wstring_view filePath);

} // namespace launcher
