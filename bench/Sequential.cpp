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

std::vector<ByteBuffer> deflateBlocks(const std::vector<std::uint8_t>& bytes, std::uint32_t blockSize)
{
    std::vector<ByteBuffer> blocks;
    for (std::size_t at = 0; at < bytes.size(); at += blockSize) {
        const auto length = static_cast<uLong>(std::min<std::size_t>(blockSize, bytes.size() - at));
        uLongf stored = compressBound(length);
        ByteBuffer block(stored);
        if (compress2(block.data(), &stored, bytes.data() + at, length, Z_DEFAULT_COMPRESSION) != Z_OK)
            throw std::bad_alloc();
        block.resize(stored);
        blocks.push_back(std::move(block));
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

std::uint64_t RawInflate::inflateAll(const std::vector<ByteBuffer>& blocks)
{
    std::uint64_t total = 0;
    for (const ByteBuffer& block : blocks) {
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
