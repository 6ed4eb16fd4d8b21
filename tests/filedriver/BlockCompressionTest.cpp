#include "filedriver/BlockCompression.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

namespace {

using filedriver::ByteBuffer;
using filedriver::ZlibCompression;

// Half text-like, half noise: stored and deflated forms then differ in size.
ByteBuffer sample(std::size_t size)
{
    ByteBuffer bytes(size);
    std::uint32_t state = 12345;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = i % 2 ? static_cast<std::uint8_t>(state >> 16) : static_cast<std::uint8_t>('a' + i % 7);
    }
    return bytes;
}

TEST(ZlibCompression, RoundTripsAtEveryLevelAndSize)
{
    for (std::int32_t level : {-1, 0, 1, 9}) {
        ZlibCompression codec(level);
        for (std::size_t size : {0u, 1u, 13u, 4096u, 65536u, 200000u}) {
            SCOPED_TRACE(testing::Message() << "level " << level << " size " << size);
            const ByteBuffer input = sample(size);
            const ByteBuffer stored = codec.compress(input);
            ASSERT_FALSE(stored.empty());
            EXPECT_LE(stored.size(), size + size / 10 + 13);
            // Exactly the room needed, and room to spare that the output shrinks from.
            for (std::size_t room : {size, size + 100}) {
                ByteBuffer output(room, 0xEE);
                EXPECT_TRUE(codec.decompress(stored, output));
                EXPECT_EQ(output, input);
            }
        }
    }
}

TEST(ZlibCompression, DamagedBlocksFailAndTheCodecRecovers)
{
    ZlibCompression codec;
    const ByteBuffer input = sample(5000);
    const ByteBuffer good = codec.compress(input);
    // `good` with the byte at `at` flipped by `flip`, then `tail`.
    const auto edited = [&](std::size_t at, std::uint8_t flip, const ByteBuffer& tail) {
        ByteBuffer copy = good;
        if (at < copy.size())
            copy[at] ^= flip;
        copy.insert(copy.end(), tail.begin(), tail.end());
        return copy;
    };
    struct Row {
        const char* what;
        ByteBuffer stored;
        std::size_t room;
    };
    const Row rows[] = {
        {"output too small", good, input.size() - 1},
        {"checksum cut off", ByteBuffer(good.begin(), good.end() - 4), input.size()},
        {"checksum wrong", edited(good.size() - 1, 0x55, {}), input.size()},
        {"body damaged", edited(good.size() / 2, 0x55, {}), input.size()},
        {"byte after the stream", edited(good.size(), 0, {0}), input.size()},
        {"two streams", edited(good.size(), 0, good), 2 * input.size()},
        {"nothing stored", {}, input.size()},
        {"not zlib", input, input.size()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ByteBuffer output(row.room);
        EXPECT_FALSE(codec.decompress(row.stored, output));
        EXPECT_LE(output.size(), row.room);
        // A failed block leaves nothing behind for the next one.
        ByteBuffer next(input.size());
        EXPECT_TRUE(codec.decompress(good, next));
        EXPECT_EQ(next, input);
    }
}

TEST(BlockCompressionInto, DecodesInPlaceAsDecompressDoesAndRefusesWhatDoesNotFit)
{
    filedriver::NullCompression null;
    ZlibCompression zlib;
    filedriver::ABlockCompression* const codecs[] = {&null, &zlib};
    for (filedriver::ABlockCompression* codec : codecs) {
        for (std::size_t size : {0u, 1u, 4096u, 65536u}) {
            SCOPED_TRACE(testing::Message() << (codec == &null ? "null" : "zlib") << " size " << size);
            const ByteBuffer input = sample(size);
            ByteBuffer stored = codec->compress(input);
            // Written only where the block goes, beside bytes that must stay.
            ByteBuffer out(size + 16, 0xEE);
            EXPECT_EQ(codec->decompressInto(stored.data(), stored.size(), out.data() + 8, size), std::int64_t(size));
            EXPECT_TRUE(std::equal(input.begin(), input.end(), out.begin() + 8));
            EXPECT_EQ(out[7], 0xEE);
            EXPECT_EQ(out[size + 8], 0xEE);
            if (size > 0) {
                EXPECT_EQ(codec->decompressInto(stored.data(), stored.size(), out.data(), size - 1), -1);
            }
        }
    }
    // A damaged stream, and one with bytes after its end.
    ByteBuffer stored = zlib.compress(sample(4096));
    ByteBuffer out(4096);
    ByteBuffer longer = stored;
    longer.push_back(0);
    EXPECT_EQ(zlib.decompressInto(longer.data(), longer.size(), out.data(), out.size()), -1);
    stored[stored.size() / 2] ^= 0x55;
    EXPECT_EQ(zlib.decompressInto(stored.data(), stored.size(), out.data(), out.size()), -1);
}

TEST(CreateCompression, TypeAndLevelChooseTheCodec)
{
    using filedriver::createCompression;
    const ByteBuffer input = sample(4096);
    const auto null = createCompression({{"compressionType", 0}, {"compressionLevel", 9}});
    ASSERT_NE(dynamic_cast<filedriver::NullCompression*>(null.get()), nullptr);
    EXPECT_EQ(null->compress(input), input);
    for (std::size_t room : {0u, 5000u}) {
        ByteBuffer output(room);
        EXPECT_TRUE(null->decompress(input, output));
        EXPECT_EQ(output, input);
    }
    EXPECT_NE(dynamic_cast<ZlibCompression*>(createCompression({{"compressionType", 1}}).get()), nullptr);
    for (const filedriver::PropertyMap& none :
         {filedriver::PropertyMap{}, {{"compressionType", 2}}, {{"compressionType", -1}}, {{"compressionLevel", 1}}})
        EXPECT_EQ(createCompression(none), nullptr);

    // The level reaches the codec: 0 stores, 9 deflates, -2 and 10 are refused.
    const auto atLevel = [&](std::int32_t level) {
        return createCompression({{"compressionType", 1}, {"compressionLevel", level}})->compress(input).size();
    };
    EXPECT_GT(atLevel(0), input.size());
    EXPECT_LT(atLevel(9), input.size());
    EXPECT_EQ(atLevel(-2), 0u);
    EXPECT_EQ(atLevel(10), 0u);
}

} // namespace
