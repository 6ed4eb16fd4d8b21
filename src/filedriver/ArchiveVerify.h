#pragma once
// Checking a whole archive: every block decoded and checked as a read of it would be, each damaged
// one reported with the members whose bytes lie in it. Programs reach it through ArchiveInfo.

#include "filedriver/ArchiveInfo.h"
#include "filedriver/OrvaArchive.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace filedriver {

// The table indexes of the members with at least one byte in `block`, in table order.
std::vector<std::uint32_t> membersInBlock(const OrvaArchive& archive, std::uint32_t block);

// Checks every block of `archive` in order, telling `checked` after each (for progress, on the caller's
// thread), and answers the damaged ones; an empty answer means the archive reads whole. `threads` (0:
// one per processor), the caller's among them, decode the blocks past the block cache, each into a
// buffer of its own (memory: one decoded and one stored block per thread); `checked` hears of each
// block in order once it and the blocks before it are done. With 1, each block is checked through the
// cache on the caller's thread. The answer is the same for every thread count. Throws orva::exception
// when the archive's file cannot be opened for reading or has changed (BlockReader), or when the
// threads cannot be started.
std::vector<DamagedBlock> findDamagedBlocks(const std::shared_ptr<OrvaArchive>& archive,
                                            const std::function<void(std::uint32_t block)>& checked,
                                            unsigned threads = 0);

} // namespace filedriver
