#pragma once
// The settings file that stands in for a registry key where there is no registry.
//
// The key SOFTWARE\Orvana\Set\<product> is the file <root>/Orvana/Set/<product>.conf; a key whose last
// component is empty is <root>/Orvana/Set.conf. The file holds UTF-8 lines "Name=Value"; blank lines
// and lines starting with '#' or ';' are ignored; the value is the text after the first '=' to the end
// of the line, a trailing CR dropped; names compare ASCII-case-insensitively; the first match wins.

#include <string>
#include <string_view>

namespace launcher {

// The file for `keyPath` below `configRoot`, '/' separated; empty for a key not below "SOFTWARE\".
std::wstring settingsFileFor(const std::wstring& configRoot, const std::wstring& keyPath);

// Finds `name` in the text of a settings file; false when no line names it.
bool findSetting(std::string_view text, std::string_view name, std::string& value);

} // namespace launcher
