#include "filedriver/MemberReader.h"

#include "filedriver/ParallelBlockReader.h"

namespace filedriver {

MemberReader::MemberReader(const FilePath& memberPath, unsigned threads)
    : reader(std::make_unique<ParallelMemberReader>(memberPath, threads))
{
}

MemberReader::~MemberReader() = default;

std::uint32_t MemberReader::size() const
{
    return reader->size();
}

std::uint32_t MemberReader::tell() const
{
    return reader->tell();
}

std::uint32_t MemberReader::read(void* buffer, std::uint32_t length)
{
    return reader->read(buffer, length);
}

} // namespace filedriver
