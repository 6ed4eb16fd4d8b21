#include "filedriver/ZlibDecoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using filedriver::ByteBuffer;
using filedriver::ZlibCompression;

ByteBuffer sample(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    ByteBuffer bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(random() % 3 == 0 ? random() : 'a' + i % 13);
    return bytes;
}

struct Outcome {
    bool ok;
    ByteBuffer output;
};

Outcome decode(filedriver::ZlibDecoder& decoder, const ByteBuffer& stored, std::size_t room)
{
    Outcome outcome{false, ByteBuffer(room, 0xEE)};
    outcome.ok = decoder.decode(stored, outcome.output);
    return outcome;
}

class ZlibDecoders : public testing::Test {
protected:
    void SetUp() override
    {
        fast = filedriver::makeLibdeflateDecoder();
#ifdef GLEANER_HAS_LIBDEFLATE
        ASSERT_NE(fast, nullptr) << "this build links libdeflate but does not decode with it";
#else
        if (!fast)
            GTEST_SKIP() << "this build has no libdeflate";
#endif
    }

    // The fast decoder must answer exactly as inflate does: the same verdict, the same bytes.
    void expectSame(const ByteBuffer& stored, std::size_t room)
    {
        const Outcome expected = decode(*inflate, stored, room);
        const Outcome got = decode(*fast, stored, room);
        EXPECT_EQ(got.ok, expected.ok);
        ASSERT_EQ(got.output.size(), expected.output.size());
        EXPECT_TRUE(got.output == expected.output);
    }

    std::unique_ptr<filedriver::ZlibDecoder> inflate = filedriver::makeInflateDecoder();
    std::unique_ptr<filedriver::ZlibDecoder> fast;
};

TEST_F(ZlibDecoders, AgreeOnWholeBlocksAndOnRoom)
{
    for (std::int32_t level : {0, 1, 6, 9}) {
        for (std::size_t size : {0u, 1u, 4096u, 65536u}) {
            SCOPED_TRACE(testing::Message() << "level " << level << " size " << size);
            const ByteBuffer input = sample(size, static_cast<unsigned>(size) + 1);
            const ByteBuffer stored = ZlibCompression(level).compress(input);
            const Outcome whole = decode(*fast, stored, size);
            EXPECT_TRUE(whole.ok);
            EXPECT_TRUE(whole.output == input);
            for (std::size_t room : {size, size + 1000, size / 2, std::size_t{0}})
                expectSame(stored, room);
        }
    }
}

TEST_F(ZlibDecoders, AgreeOnEveryCutAndOnDamage)
{
    const ByteBuffer input = sample(5000, 7);
    const ByteBuffer good = ZlibCompression().compress(input);
    for (std::size_t length = 0; length < good.size(); ++length) {
        SCOPED_TRACE(testing::Message() << "cut at " << length);
        expectSame(ByteBuffer(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length)), input.size());
    }
    std::mt19937 random(11);
    for (int i = 0; i < 2000; ++i) {
        ByteBuffer damaged = good;
        const std::size_t at = random() % damaged.size();
        damaged[at] ^= static_cast<std::uint8_t>(1u << random() % 8);
        SCOPED_TRACE(testing::Message() << "bit flipped at " << at);
        expectSame(damaged, input.size());
    }
    ByteBuffer twice = good;
    twice.insert(twice.end(), good.begin(), good.end());
    expectSame(twice, 2 * input.size());
    expectSame(input, input.size());
}

TEST_F(ZlibDecoders, FailureLeavesNothingForTheNextBlock)
{
    const ByteBuffer input = sample(70000, 3);
    const ByteBuffer good = ZlibCompression().compress(input);
    ByteBuffer damaged = good;
    damaged[damaged.size() / 2] ^= 0x55;
    for (const ByteBuffer& before : {damaged, ByteBuffer(good.begin(), good.begin() + 100), ByteBuffer{}}) {
        EXPECT_FALSE(decode(*fast, before, input.size()).ok);
        const Outcome after = decode(*fast, good, input.size());
        EXPECT_TRUE(after.ok);
        EXPECT_TRUE(after.output == input);
    }
}

} // namespace
