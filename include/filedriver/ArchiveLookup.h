#pragma once
// Existence tests that see into archives: a path through an archive (FilePath.h's isArchivePath) names
// a member, which exists when the archive file does and holds a member of the path's last component
// (letter case counts). The archive is loaded for the test and kept, as an open of the path would.
// A URL (FilePath.h's isRemotePath) is asked of its server: a plain one exists when its first request is
// answered, an archive when it loads; a URL is never a directory.
// None of these throws: a failure on the way (an archive that does not load, a server that cannot be
// reached) is logged as caught (orva/Log.h) and answers false.

#include "filedriver/FilePath.h"

namespace filedriver {

// A plain file, or a member of an archive.
bool fileExistsAware(const FilePath& path);
// A plain directory; a path through an archive that ends in a separator, for an archive that exists;
// a member otherwise.
bool directoryExistsAware(const FilePath& path);
// The earlier spelling: directoryExistsAware when `directory`, else fileExistsAware.
bool existsAware(const FilePath& path, bool directory);

} // namespace filedriver
