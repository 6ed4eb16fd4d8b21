// POSIX half of the path text: '/' is the separator written.
#include "filedriver/FilePath.h"

namespace filedriver {

const wchar_t Separators[3] = L"/\\";

} // namespace filedriver
