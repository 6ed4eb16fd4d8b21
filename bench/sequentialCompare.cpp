// The benchmark's figure for builds without Google Benchmark (the Windows build, run under Wine):
// sequential reading of a deflated member in 4 KiB reads against raw zlib inflate of the same blocks,
// side by side in one run, each the median of three repetitions of at least a second. Prints the
// table's rows in the Linux benchmark's format; --rows-only leaves out the header, so that the rows can
// follow that table. Run by the tests' web server harness (tests/filedriver/remote/http_server.sh, which
// sets GLEANER_TEST_HTTP and GLEANER_TEST_DOCROOT) it prints the remote row instead, header left out:
// the member read whole from the server against its archive downloaded whole, then read locally.
#include "Corpus.h"
#include "Download.h"
#include "Sequential.h"
#include "Table.h"

#include "filedriver/ArchiveInfo.h"
#include "filedriver/ArchiveWriter.h"
#include "orva/WideText.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace {

constexpr std::size_t corpusSize = 64u << 20;
constexpr std::uint32_t blockSize = 64u << 10;
constexpr int repetitions = 3;
constexpr std::chrono::seconds minimumTime{1};

// Bytes per second of `work`, which must answer corpusSize, run as often as fits in minimumTime.
double rate(const std::function<std::uint64_t()>& work)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    std::uint64_t bytes = 0;
    Clock::duration elapsed{};
    do {
        const std::uint64_t got = work();
        if (got != corpusSize) {
            std::fprintf(stderr, "sequentialCompare: %llu bytes instead of %llu\n",
                         static_cast<unsigned long long>(got), static_cast<unsigned long long>(corpusSize));
            std::exit(1);
        }
        bytes += got;
        elapsed = Clock::now() - start;
    } while (elapsed < minimumTime);
    return static_cast<double>(bytes) / std::chrono::duration<double>(elapsed).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

const char* platformName()
{
#ifdef _WIN32
    return "32-bit Windows";
#else
    return "this build";
#endif
}

// Each side's median rate, repeated in turn.
std::pair<double, double> medianRates(const std::function<std::uint64_t()>& ours,
                                      const std::function<std::uint64_t()>& reference)
{
    // Untimed: loads the archive's tables and brings both inputs into memory.
    ours();
    reference();
    std::vector<double> oursRates, referenceRates;
    for (int i = 0; i < repetitions; ++i) {
        oursRates.push_back(rate(ours));
        referenceRates.push_back(rate(reference));
    }
    return {median(oursRates), median(referenceRates)};
}

bool writeCorpus(const std::wstring& archive, const std::vector<std::uint8_t>& corpus)
{
    filedriver::ArchiveWriterOptions options;
    options.blockSize = blockSize;
    if (filedriver::writeArchive(archive, {{L"atlas.bin", filedriver::ByteBuffer(corpus.begin(), corpus.end())}}, options))
        return true;
    std::fprintf(stderr, "sequentialCompare: cannot write %ls\n", archive.c_str());
    return false;
}

// The member read whole through the library, its archive let go after each pass so that every pass
// opens it as the reference does.
std::uint64_t readAndRelease(const std::wstring& archive)
{
    const std::uint64_t got = bench::readMember(archive + L"/atlas.bin");
    filedriver::releaseArchive(archive);
    return got;
}

int sequentialRow(const std::vector<std::uint8_t>& corpus, const std::filesystem::path& dir, bool rowsOnly)
{
    const std::filesystem::path archive = dir / "deflated.mca";
    if (!writeCorpus(archive.wstring(), corpus))
        return 1;
    const std::wstring member = (archive / "atlas.bin").wstring();
    const std::vector<filedriver::ByteBuffer> blocks = bench::deflateBlocks(corpus, blockSize);
    bench::RawInflate inflate(blockSize);
    const auto [oursRate, referenceRate] = medianRates([&] { return bench::readMember(member); },
                                                       [&] { return inflate.inflateAll(blocks); });
    if (!rowsOnly)
        bench::printTableHeader();
    bench::printTableRow(std::string("sequential deflated member, 4 KiB reads (") + platformName() + ")", "made",
                         "raw zlib inflate", bench::megabytesPerSecond(oursRate),
                         bench::megabytesPerSecond(referenceRate), oursRate / referenceRate, 2.0);
    return 0;
}

int remoteRow(const std::vector<std::uint8_t>& corpus, const std::filesystem::path& dir, const char* http,
              const char* docroot)
{
    if (!writeCorpus(orva::fromNative(docroot) + L"\\atlas.mca", corpus))
        return 1;
    const std::wstring url = orva::fromNative(http) + L"/atlas.mca";
    const std::wstring local = (dir / "downloaded.mca").wstring();
    const auto [oursRate, referenceRate] = medianRates([&] { return readAndRelease(url); }, [&] {
        return bench::downloadWhole(url, local) ? readAndRelease(local) : 0;
    });
    bench::printTableRow(std::string("remote: every member whole, loopback (") + platformName() + ")", "made",
                         "WinHTTP download, then read locally", bench::megabytesPerSecond(oursRate),
                         bench::megabytesPerSecond(referenceRate), oursRate / referenceRate, 1.0);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const bool rowsOnly = argc > 1 && std::strcmp(argv[1], "--rows-only") == 0;
    if (argc > 2 || (argc == 2 && !rowsOnly)) {
        std::fprintf(stderr, "usage: sequentialCompare [--rows-only]\n");
        return 2;
    }

    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path dir = fs::temp_directory_path(error) / ("gleaner-bench-" + std::to_string(std::random_device{}()));
    if (error || !fs::create_directory(dir, error)) {
        std::fprintf(stderr, "sequentialCompare: cannot create a directory in the temporary directory\n");
        return 1;
    }
    const std::vector<std::uint8_t> corpus = bench::makeCorpus(corpusSize);
    const char* http = std::getenv("GLEANER_TEST_HTTP");
    const char* docroot = std::getenv("GLEANER_TEST_DOCROOT");
    const int status = http && docroot ? remoteRow(corpus, dir, http, docroot) : sequentialRow(corpus, dir, rowsOnly);
    fs::remove_all(dir, error);
    return status;
}
