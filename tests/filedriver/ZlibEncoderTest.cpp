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

// Text of a handful of words repeated at random: the data on which libdeflate's search loses most to
// zlib's (by up to a sixth at level 6). Packing keeps libdeflate's blocks there too.
ByteBuffer fewWords(std::size_t words, std::size_t size, unsigned seed)
{
    static const char* const vocabulary[] = {"the", "quick", "brown", "fox", "jumps", "over", "lazy", "dog"};
    std::mt19937 random(seed);
    ByteBuffer out;
    while (out.size() < size) {
        const std::string word = std::string(vocabulary[random() % words]) + ' ';
        out.insert(out.end(), word.begin(), word.end());
    }
    out.resize(size);
    return out;
}

// The encoder that packing uses gives one stream that inflate reads at every level, whatever the data:
// few-word text, ordinary text, noise, zeros, structured records, and blocks of a few bytes; and on the
// ordinary data, blocks within 1.02 times compress2's.
TEST(ZlibEncoder, FastestIsReadByInflateOnAnyData)
{
    std::vector<std::pair<std::string, ByteBuffer>> inputs;
    for (const std::size_t words : {2u, 3u, 5u, 8u})
        inputs.emplace_back(std::to_string(words) + " words", fewWords(words, 65536, unsigned(words)));
    for (auto& [kind, input] : samples(65536))
        inputs.emplace_back(kind, std::move(input));
    inputs.emplace_back("zeros", ByteBuffer(65536, 0));
    for (const std::size_t size : {1u, 10u, 30u, 1000u})
        inputs.emplace_back(std::to_string(size) + " bytes", fewWords(3, size, 9));
    for (std::int32_t level = 0; level <= 9; ++level) {
        const std::unique_ptr<filedriver::ZlibEncoder> encoder = filedriver::makeZlibEncoder(level);
        ASSERT_NE(encoder, nullptr);
        for (const auto& [kind, input] : inputs) {
            SCOPED_TRACE(testing::Message() << "level " << level << ", " << kind);
            ByteBuffer stored;
            ASSERT_TRUE(encoder->encode(input.data(), input.size(), stored));
            EXPECT_TRUE(inflatesTo(stored, input));
            // The few-word inputs, short ones included, are the data libdeflate may lose on.
            if (kind.find("word") == std::string::npos && kind.find("bytes") == std::string::npos) {
                EXPECT_LE(stored.size(), compress2Size(input, level) * 1.02);
            }
        }
    }
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
