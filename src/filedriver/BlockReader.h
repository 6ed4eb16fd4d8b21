#pragma once
// One reader of an archive's blocks: attached to the archive for its whole life, so that the archive's
// source of stored bytes stays open (OrvaArchive::attachReader), with a codec and a buffer of its own,
// so that readers on several threads decode at once. One thread at a time uses a reader.
//
// The constructor throws what attaching throws: orva::exception when the file cannot be opened
// (NotFound, System) or has changed since its index was loaded (Changed).

#include "filedriver/ArchiveBlocks.h"
#include "filedriver/OrvaArchive.h"

#include <cstdint>
#include <memory>

namespace filedriver {

class BlockReader {
public:
    explicit BlockReader(std::shared_ptr<OrvaArchive> archive);
    ~BlockReader();
    BlockReader(const BlockReader&) = delete;
    BlockReader& operator=(const BlockReader&) = delete;

    OrvaArchive& archive() const { return *shared; }
    const std::shared_ptr<OrvaArchive>& sharedArchive() const { return shared; }
    ArchiveBlocks& blocks() const { return shared->blocks(); }
    BlockDecoder& decoder() { return decoding; }

    // Block `block` decoded into `into`, past the cache; throws the block's failure.
    void decode(std::uint32_t block, ByteBuffer& into) { blocks().decode(block, into, decoding); }
    // Block `block` decoded into the cache, unless it holds it already, and checked; throws its failure.
    void check(std::uint32_t block) { const CachedBlock held(blocks(), block, decoding); }

private:
    std::shared_ptr<OrvaArchive> shared;
    BlockDecoder decoding;
};

} // namespace filedriver
