#include "Sequential.h"

#include "filedriver/FileDriver.h"

#include <algorithm>
#include <new>

namespace bench {

std::uint64_t readMember(const std::wstring& path)
{
    std::vector<std::uint8_t> buffer(readSize);
    filedriver::FileDriver file(path, filedriver::OpenReadBuffered);
    std::uint64_t total = 0;
    for (std::uint32_t got; (got = file.read(buffer.data(), readSize)) > 0;)
        total += got;
    return total;
}

std::vector<filedriver::ByteBuffer> deflateBlocks(const std::vector<std::uint8_t>& bytes, std::uint32_t blockSize)
{
    std::vector<filedriver::ByteBuffer> blocks;
    filedriver::ZlibCompression codec;
    for (std::size_t at = 0; at < bytes.size(); at += blockSize) {
        const filedriver::ByteBuffer block(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                           bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), at + blockSize)));
        blocks.push_back(codec.compress(block));
    }
    return blocks;
}

RawInflate::RawInflate(std::uint32_t blockSize) : out(blockSize)
{
    if (inflateInit(&stream) != Z_OK)
        throw std::bad_alloc();
}

RawInflate::~RawInflate()
{
    inflateEnd(&stream);
}

std::uint64_t RawInflate::inflateAll(const std::vector<filedriver::ByteBuffer>& blocks)
{
    std::uint64_t total = 0;
    for (const filedriver::ByteBuffer& block : blocks) {
        inflateReset(&stream);
        stream.next_in = const_cast<Bytef*>(block.data());
        stream.avail_in = static_cast<uInt>(block.size());
        stream.next_out = out.data();
        stream.avail_out = static_cast<uInt>(out.size());
        inflate(&stream, Z_SYNC_FLUSH);
        total += out.size() - stream.avail_out;
    }
    return total;
}

} // namespace bench
