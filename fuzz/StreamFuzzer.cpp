// Sequences of FileStream operations over a real file, checked against a plain model of the bytes the
// file must hold: a writing stream (seek, write, put) and then a reading one (seek, read, fetch).
#include "filedriver/FilePlatform.h"
#include "filedriver/FileStream.h"
#include "orva/WideText.h"

#include "ScratchFolder.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace filedriver;

constexpr std::uint32_t mostFileSize = 1 << 16;

const std::string& filePath()
{
    static const std::string path = scratchFolder() + "/stream.bin";
    return path;
}

void expect(bool holds, int line)
{
    if (!holds) {
        std::fprintf(stderr, "StreamFuzzer.cpp:%d: the stream and its model differ\n", line);
        std::abort();
    }
}
#define check(holds) expect((holds), __LINE__)

// Reads fuzzer bytes as small numbers.
struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    bool empty() const { return at >= size; }
    std::uint32_t next(std::uint32_t bound)
    {
        std::uint32_t value = 0;
        for (int i = 0; i < 3 && at < size; ++i)
            value = value << 8 | data[at++];
        return bound ? value % bound : 0;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input input{data, size};
    std::vector<std::uint8_t> model;
    {
        FileStream<FilePlatform> stream(orva::fromNative(filePath()), CreateWriteBuffered);
        std::int64_t position = 0;
        for (int op = 0; op < 64 && !input.empty(); ++op) {
            const std::uint32_t kind = input.next(3);
            const std::uint32_t length = input.next(9000);
            const std::uint32_t where = input.next(mostFileSize);
            std::vector<std::uint8_t> bytes(length);
            for (std::uint32_t i = 0; i < length; ++i)
                bytes[i] = static_cast<std::uint8_t>(where + i * 7);
            if (kind == 0) {
                check(stream.seek(static_cast<std::int32_t>(where), SeekBegin) == static_cast<std::int32_t>(where));
                position = where;
                continue;
            }
            if (kind == 2 && length > FileStream<FilePlatform>::bufferSize)
                continue;
            // Nothing written extends nothing.
            if (position + length > mostFileSize || length == 0)
                continue;
            if (kind == 1)
                check(stream.write(bytes.data(), length) == length);
            else
                stream.put(bytes.data(), length);
            if (model.size() < position + length)
                model.resize(static_cast<std::size_t>(position + length), 0);
            std::copy(bytes.begin(), bytes.end(), model.begin() + position);
            position += length;
            check(stream.tell() == position);
            check(stream.size() == static_cast<std::int32_t>(model.size()));
        }
    }
    FileStream<FilePlatform> stream(orva::fromNative(filePath()), OpenReadBuffered);
    check(stream.size() == static_cast<std::int32_t>(model.size()));
    std::int64_t position = 0;
    for (int op = 0; op < 64 && !input.empty(); ++op) {
        const std::uint32_t kind = input.next(3);
        const std::uint32_t length = input.next(9000);
        const std::uint32_t where = input.next(mostFileSize + 100);
        if (kind == 0) {
            check(stream.seek(static_cast<std::int32_t>(where), SeekBegin) == static_cast<std::int32_t>(where));
            position = where;
        } else if (kind == 1) {
            std::vector<std::uint8_t> got(length);
            const std::uint32_t count = stream.read(got.data(), length);
            const std::int64_t left = std::max<std::int64_t>(0, std::int64_t(model.size()) - position);
            check(count == std::min<std::int64_t>(length, left));
            check(std::equal(got.begin(), got.begin() + count, model.begin() + std::min<std::int64_t>(position, model.size())));
            position += count;
        } else {
            const std::uint32_t small = length % 5;
            const std::uint8_t* got = stream.fetch(small);
            for (std::uint32_t i = 0; i < small; ++i)
                check(got[i] == (position + i < model.size() ? model[static_cast<std::size_t>(position + i)] : 0));
            position += small;
        }
        check(stream.tell() == position);
    }
    return 0;
}
