#include "filedriver/BlockReader.h"

namespace filedriver {

BlockReader::BlockReader(std::shared_ptr<OrvaArchive> archive)
    : shared(std::move(archive)), decoding(shared->archiveHeader().compressionType)
{
    shared->attachReader();
}

BlockReader::~BlockReader()
{
    shared->detachReader();
}

} // namespace filedriver
