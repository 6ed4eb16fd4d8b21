#pragma once
// The data engine's one entry point, as the launcher calls it. This library is a stand-in for the real
// engine: it checks the block, prints one line on what it was given and returns:
//   "dataGleaner: atlas <atlasPath> (<n> bytes, crc32 <8 hex digits>)"
//                                                      0, the atlas read whole through the library
//   "dataGleaner: import <importPath> (<k> files)"     0, k the regular files directly inside
//   a block that breaks the launcher's contract        2, with "dataGleaner: <why>" on stderr
//   an atlas or import directory that cannot be read   1, with "dataGleaner: <why>" on stderr

#include "dataGleanerExport.h"
#include "RunParameters.h"

extern "C" DATAGLEANER_EXPORT int runGleaner(RunParameters* parameters);
