#pragma once
// The reference of the remote row under Wine: a URL's file downloaded whole with one plain GET, as a
// user would fetch it before reading it locally (on Linux the benchmark runs curl itself).

#include <string>

namespace bench {

// Writes the file at `url` (http or https) to `path`; false when the request, its answer (other than 200)
// or the writing fails.
bool downloadWhole(const std::wstring& url, const std::wstring& path);

} // namespace bench
