#include "Corpus.h"

#include "orva/ByteOrder.h"

#include <array>
#include <cstdio>
#include <string>

namespace bench {
namespace {

// xorshift64*: small, fast and the same everywhere.
class Random {
public:
    explicit Random(std::uint64_t seed) : state(seed) {}
    std::uint64_t next()
    {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 2685821657736338717ull;
    }
    std::uint32_t below(std::uint32_t bound) { return static_cast<std::uint32_t>((next() >> 32) % bound); }

private:
    std::uint64_t state;
};

constexpr std::size_t vocabularySize = 1024;
constexpr std::size_t recordSize = 24;

std::vector<std::string> makeVocabulary(Random& random)
{
    static const char letters[] = "etaoinshrdlucmfwypvbgkjqxz";
    std::vector<std::string> words(vocabularySize);
    for (std::string& word : words) {
        const std::uint32_t length = 2 + random.below(9);
        for (std::uint32_t i = 0; i < length; ++i)
            word += letters[random.below(random.below(26) + 1)];
    }
    return words;
}

} // namespace

std::vector<std::uint8_t> makeCorpus(std::size_t size)
{
    Random random(0x6C65616E65725175ull);
    const std::vector<std::string> words = makeVocabulary(random);
    std::vector<std::uint8_t> corpus;
    corpus.reserve(size + 4096);
    std::uint32_t counter = 0;
    std::int32_t drift = 0;
    while (corpus.size() < size) {
        if (random.below(10) < 5) {
            // A paragraph of text: frequent words far more often than rare ones.
            const std::uint32_t count = 40 + random.below(200);
            for (std::uint32_t i = 0; i < count; ++i) {
                const std::uint32_t rank = random.below(random.below(random.below(random.below(vocabularySize) + 1) + 1) + 1);
                const std::string& word = words[rank];
                corpus.insert(corpus.end(), word.begin(), word.end());
                if (random.below(40) == 0) {
                    char number[16];
                    const int length = std::snprintf(number, sizeof number, " %u", random.below(1000));
                    corpus.insert(corpus.end(), number, number + length);
                }
                corpus.push_back(random.below(15) == 0 ? '.' : random.below(20) == 0 ? ',' : ' ');
            }
            corpus.push_back('\n');
        } else {
            // A table of records.
            const std::uint32_t count = 20 + random.below(100);
            for (std::uint32_t i = 0; i < count; ++i) {
                std::array<std::uint8_t, recordSize> record{};
                ++counter;
                drift += static_cast<std::int32_t>(random.below(5)) - 2;
                const std::uint32_t fields[] = {counter, static_cast<std::uint32_t>(drift), random.below(4),
                                                random.below(4) * 125, 0x3F800000u + (random.below(4) << 12),
                                                random.below(32) == 0 ? random.below(1 << 8) : 7u};
                for (std::size_t f = 0; f < 6; ++f)
                    orva::storeLittleEndian32(fields[f], record.data() + 4 * f);
                corpus.insert(corpus.end(), record.begin(), record.end());
            }
        }
    }
    corpus.resize(size);
    return corpus;
}

} // namespace bench
