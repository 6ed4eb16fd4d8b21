#pragma once
// Checking a whole archive: every block decoded and checked as a read of it would be, each damaged
// one reported with the members whose bytes lie in it, and the arithmetic that ties a member's bytes
// to blocks. Programs reach it through ArchiveInfo.

#include "filedriver/ArchiveInfo.h"
#include "filedriver/FilePath.h"
#include "filedriver/OrvaArchive.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace filedriver {

// The block of the data stream that holds byte `offset` of `entry` (offset within the member).
std::uint32_t blockOfMember(const ArchiveHeader& header, const FileEntry& entry, std::uint32_t offset);
// The table indexes of the members with at least one byte in `block`, in table order.
std::vector<std::uint32_t> membersInBlock(const OrvaArchive& archive, std::uint32_t block);

// Checks every block of the archive file `archive` in order, telling `checked` after each (for
// progress, on the caller's thread), and answers the damaged ones; an empty answer means the archive
// reads whole. `threads` (0: one per processor), the caller's among them, decode the blocks past the
// block cache, each into a buffer of its own (memory: one decoded and one stored block per thread);
// `checked` hears of each block in order once it and the blocks before it are done. With 1, each block
// is checked through a cursor and the cache on the caller's thread. The answer is the same for every
// thread count. Throws orva::exception when the archive cannot be loaded or opened for
// reading, when it has blocks but no member that a path can name ("archive '<path>': no member can be
// opened by name"), or when the threads cannot be started.
std::vector<DamagedBlock> findDamagedBlocks(const FilePath& archive,
                                            const std::function<void(std::uint32_t block)>& checked,
                                            unsigned threads = 0);

} // namespace filedriver
