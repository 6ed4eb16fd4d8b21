#include "filedriver/ZlibEncoder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>

namespace {

using filedriver::ByteBuffer;

// Text of a few hundred words (far fewer make libdeflate's default level lose a few percent to
// zlib's deeper search), records mixing runs and noise, noise, and one byte repeated.
std::vector<std::pair<const char*, ByteBuffer>> samples(std::size_t size)
{
    std::mt19937 random(7);
    std::vector<std::string> words(300);
    for (std::string& word : words) {
        word.resize(2 + random() % 8);
        for (char& c : word)
            c = static_cast<char>('a' + random() % 26);
    }
    ByteBuffer text(size), records(size), noise(size), runs(size, 'z');
    for (std::size_t i = 0; i < size;) {
        const std::string& word = words[random() % words.size()];
        for (char c : word + (random() % 9 ? " " : ".\n"))
            if (i < size)
                text[i++] = static_cast<std::uint8_t>(c);
    }
    for (std::size_t i = 0; i < size; ++i)
        records[i] = static_cast<std::uint8_t>(random() % 4 == 0 ? random() : i / 64);
    for (std::uint8_t& b : noise)
        b = static_cast<std::uint8_t>(random());
    return {{"text", text}, {"records", records}, {"noise", noise}, {"runs", runs}};
}

// zlib's inflate alone, not the library's decoders: one stream that ends cleanly with nothing after it.
bool inflatesTo(const ByteBuffer& stored, const ByteBuffer& expected)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return false;
    ByteBuffer out(expected.size() + 1);
    stream.next_in = const_cast<Bytef*>(stored.data());
    stream.avail_in = static_cast<uInt>(stored.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = inflate(&stream, Z_FINISH);
    out.resize(out.size() - stream.avail_out);
    const bool whole = result == Z_STREAM_END && stream.avail_in == 0;
    inflateEnd(&stream);
    return whole && out == expected;
}

std::size_t compress2Size(const ByteBuffer& input, int level)
{
    uLongf length = compressBound(static_cast<uLong>(input.size()));
    ByteBuffer out(length);
    EXPECT_EQ(compress2(out.data(), &length, input.data(), static_cast<uLong>(input.size()), level), Z_OK);
    return length;
}

using MakeEncoder = std::unique_ptr<filedriver::ZlibEncoder> (*)(std::int32_t);

// Half a default block: enough for every level to differ, quick enough under Wine.
void checkEveryLevel(MakeEncoder make)
{
    static const auto inputs = samples(32768);
    for (std::int32_t level = -1; level <= 9; ++level)
        for (const auto& [kind, input] : inputs) {
            SCOPED_TRACE(testing::Message() << "level " << level << " " << kind);
            const std::unique_ptr<filedriver::ZlibEncoder> encoder = make(level);
            ASSERT_NE(encoder, nullptr);
            ByteBuffer stored(3, 0xEE); // what was there before does not stay
            ASSERT_TRUE(encoder->encode(input.data(), input.size(), stored));
            EXPECT_TRUE(inflatesTo(stored, input));
            EXPECT_LE(stored.size(), compress2Size(input, level) * 1.02);
        }
}

TEST(ZlibEncoder, EveryLevelGivesOneStreamThatInflateReads)
{
    checkEveryLevel(filedriver::makeCompress2Encoder);
}

TEST(ZlibEncoder, LibdeflateAtEveryLevelIsReadByInflateAndNoLargerThanCompress2)
{
    if (!filedriver::makeLibdeflateEncoder(-1))
        GTEST_SKIP() << "this build has no libdeflate";
    checkEveryLevel(filedriver::makeLibdeflateEncoder);
}

TEST(ZlibEncoder, SmallAndSingleByteInputs)
{
    for (std::size_t size : {1u, 2u, 100u, 65535u}) {
        SCOPED_TRACE(size);
        const ByteBuffer input = samples(size)[0].second;
        ByteBuffer stored;
        ASSERT_TRUE(filedriver::makeZlibEncoder(-1)->encode(input.data(), input.size(), stored));
        EXPECT_TRUE(inflatesTo(stored, input));
    }
}

TEST(ZlibEncoder, LevelsOutsideZlibsScaleHaveNoEncoder)
{
    for (std::int32_t level : {-2, 10, 12, 100}) {
        EXPECT_EQ(filedriver::makeCompress2Encoder(level), nullptr) << level;
        EXPECT_EQ(filedriver::makeLibdeflateEncoder(level), nullptr) << level;
        EXPECT_EQ(filedriver::makeZlibEncoder(level), nullptr) << level;
    }
    EXPECT_EQ(filedriver::encoderLevel(-1), 6);
    EXPECT_EQ(filedriver::libdeflateLevel(-1), filedriver::libdeflateLevel(6));
    EXPECT_EQ(filedriver::libdeflateLevel(0), 0);
}

} // namespace
