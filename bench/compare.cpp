// Measures the library against the limit of its design and against peer libraries and tools, side by
// side in one run, on the benchmark's own data and on corpora of real files (Datasets.h), and prints the
// table: figure, data, reference, ours, reference speed, ratio (how many times the reference's speed
// ours reaches), goal; then the worst data set of each figure. --table=FILE writes both there too.
#include "Datasets.h"
#include "FreshMounts.h"
#include "Mount.h"
#include "RemoteRows.h"
#include "Sequential.h"
#include "Table.h"

#include "filedriver/ArchiveInfo.h"
#include "filedriver/ArchiveWriter.h"
#include "filedriver/FileDriver.h"
#include "orva/WideText.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <libdeflate.h>
#include <physfs.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using bench::Dataset;
using bench::MountKind;
using bench::readSize;
using filedriver::ByteBuffer;

constexpr std::size_t corpusSize = 64u << 20;
constexpr std::uint32_t blockSize = bench::datasetBlockSize;
// Peers that re-inflate from the start for every random read are timed on a few reads only.
constexpr int slowRandomReads = 6;
constexpr std::uint32_t hotWorkingSet = 8u << 20;
constexpr int manyMembers = 100000;
// Members of 1 KiB: the archive's data, not its index, is most of its file, as in real atlases.
constexpr std::size_t manyMemberSize = 1024;
constexpr int lookups = 10000;
constexpr std::size_t mountReadSize = 128u << 10;

std::string workDirectory;
std::vector<std::unique_ptr<Dataset>> datasets;

std::wstring wide(const std::string& text)
{
    return orva::fromNative(text);
}

std::wstring member(const std::string& archive, const std::string& name)
{
    return wide(archive) + L"/" + wide(name);
}

std::int64_t totalBytes(const Dataset& d)
{
    return static_cast<std::int64_t>(d.bytes.size());
}

// ---- the benchmark's own data alone: one member, a plain file, stored blocks, many members

struct MadeExtras {
    std::string plain, stored, zip, many, halves;
    std::vector<std::wstring> manyNames;
    std::vector<std::uint32_t> hotOffsets;
};

const Dataset& made()
{
    return *datasets.front();
}

const MadeExtras& extras()
{
    static const MadeExtras e = [] {
        MadeExtras x;
        const Dataset& d = made();
        x.plain = d.source + "/atlas.bin";
        const ByteBuffer all(d.bytes.begin(), d.bytes.end());
        filedriver::ArchiveWriterOptions options;
        options.blockSize = blockSize;
        options.compressionType = 0;
        x.stored = d.directory + "/stored.mca";
        filedriver::writeArchive(wide(x.stored), {{L"atlas.bin", all}}, options);
        const auto middle = d.bytes.begin() + static_cast<std::ptrdiff_t>(d.bytes.size() / 2);
        x.halves = d.directory + "/halves.mca";
        filedriver::writeArchive(wide(x.halves),
                                 {{L"first.bin", ByteBuffer(d.bytes.begin(), middle)},
                                  {L"second.bin", ByteBuffer(middle, d.bytes.end())}},
                                 filedriver::ArchiveWriterOptions{blockSize, 1, -1, {}});
        x.zip = d.directory + "/atlas.zip";
        int error = 0;
        zip_t* archive = zip_open(x.zip.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        for (const char* name : {"deflated.bin", "stored.bin"}) {
            zip_source_t* source = zip_source_buffer(archive, d.bytes.data(), d.bytes.size(), 0);
            const zip_int64_t index = zip_file_add(archive, name, source, ZIP_FL_OVERWRITE);
            zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                                     std::strcmp(name, "stored.bin") == 0 ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0);
        }
        zip_close(archive);
        std::vector<std::pair<std::wstring, ByteBuffer>> members;
        for (int i = 0; i < manyMembers; ++i) {
            const auto start = d.bytes.begin() + static_cast<std::ptrdiff_t>(i * manyMemberSize % (corpusSize - manyMemberSize));
            members.push_back({L"member-" + std::to_wstring(i) + L".dat", ByteBuffer(start, start + manyMemberSize)});
            x.manyNames.push_back(members.back().first);
        }
        x.many = d.directory + "/many.mca";
        filedriver::writeArchive(wide(x.many), members, filedriver::ArchiveWriterOptions{});
        for (const std::uint64_t offset : d.randomOffsets)
            x.hotOffsets.push_back(static_cast<std::uint32_t>(offset % (hotWorkingSet - readSize)));
        return x;
    }();
    return e;
}

void seqStoredOurs(benchmark::State& state)
{
    for (auto _ : state)
        if (bench::readMember(member(extras().stored, "atlas.bin")) != corpusSize)
            state.SkipWithError("short read");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpusSize));
}

void seqStoredRead(benchmark::State& state)
{
    std::vector<std::uint8_t> buffer(readSize);
    for (auto _ : state) {
        const int file = open(extras().plain.c_str(), O_RDONLY);
        while (read(file, buffer.data(), readSize) > 0) {
        }
        close(file);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpusSize));
}

void parallelOneThread(benchmark::State& state)
{
    // One reader on one processor: the library's thread decoding ahead would be a second.
    setenv("GLEANER_DECODE_AHEAD", "0", 1);
    for (auto _ : state)
        if (bench::readMember(member(extras().halves, "first.bin")) + bench::readMember(member(extras().halves, "second.bin"))
            != corpusSize)
            state.SkipWithError("short read");
    unsetenv("GLEANER_DECODE_AHEAD");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpusSize));
}

void parallelTwoThreads(benchmark::State& state)
{
    for (auto _ : state) {
        std::uint64_t first = 0;
        std::thread other([&] { first = bench::readMember(member(extras().halves, "first.bin")); });
        const std::uint64_t second = bench::readMember(member(extras().halves, "second.bin"));
        other.join();
        if (first + second != corpusSize)
            state.SkipWithError("short read");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpusSize));
}

template <class Offsets>
void randomOurs(benchmark::State& state, const Offsets& offsets, bool warm)
{
    const std::wstring path = member(made().archive, "atlas.bin");
    std::vector<std::uint8_t> buffer(readSize);
    // Kept open for a hot cache: the last cursor's detach invalidates the archive's blocks.
    std::unique_ptr<filedriver::FileDriver> keep;
    if (warm) {
        keep = std::make_unique<filedriver::FileDriver>(path, filedriver::OpenRead);
        for (const auto offset : offsets) {
            keep->seek(static_cast<std::int32_t>(offset), filedriver::SeekBegin);
            keep->read(buffer.data(), readSize);
        }
    }
    for (auto _ : state) {
        filedriver::FileDriver file(path, filedriver::OpenRead);
        for (const auto offset : offsets) {
            file.seek(static_cast<std::int32_t>(offset), filedriver::SeekBegin);
            if (file.read(buffer.data(), readSize) != readSize)
                state.SkipWithError("short read");
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * offsets.size()));
}

void randomColdOurs(benchmark::State& state) { randomOurs(state, made().randomOffsets, false); }
void randomHotOurs(benchmark::State& state) { randomOurs(state, extras().hotOffsets, true); }

// libzip cannot seek in a deflated member: reopen and skip.
void randomColdLibzip(benchmark::State& state)
{
    std::vector<std::uint8_t> buffer(1 << 16);
    zip_t* archive = zip_open(extras().zip.c_str(), ZIP_RDONLY, nullptr);
    for (auto _ : state)
        for (int i = 0; i < slowRandomReads; ++i) {
            zip_file_t* file = zip_fopen(archive, "deflated.bin", 0);
            std::uint64_t skip = made().randomOffsets[static_cast<std::size_t>(i)];
            while (skip > 0)
                skip -= static_cast<std::uint64_t>(zip_fread(file, buffer.data(), std::min<std::uint64_t>(skip, 1 << 16)));
            zip_fread(file, buffer.data(), readSize);
            zip_fclose(file);
        }
    zip_close(archive);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * slowRandomReads));
}

struct PhysfsMount {
    explicit PhysfsMount(const std::string& zip)
    {
        PHYSFS_init(nullptr);
        PHYSFS_mount(zip.c_str(), nullptr, 1);
    }
    ~PhysfsMount() { PHYSFS_deinit(); }
};

void randomColdPhysfs(benchmark::State& state)
{
    PhysfsMount mount(extras().zip);
    std::vector<std::uint8_t> buffer(readSize);
    for (auto _ : state) {
        PHYSFS_File* file = PHYSFS_openRead("deflated.bin");
        for (int i = 0; i < slowRandomReads; ++i) {
            PHYSFS_seek(file, made().randomOffsets[static_cast<std::size_t>(i)]);
            PHYSFS_readBytes(file, buffer.data(), readSize);
        }
        PHYSFS_close(file);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * slowRandomReads));
}

void randomHotLibzipStored(benchmark::State& state)
{
    std::vector<std::uint8_t> buffer(readSize);
    zip_t* archive = zip_open(extras().zip.c_str(), ZIP_RDONLY, nullptr);
    zip_file_t* file = zip_fopen(archive, "stored.bin", 0);
    for (auto _ : state)
        for (std::uint32_t offset : extras().hotOffsets) {
            zip_fseek(file, offset, SEEK_SET);
            zip_fread(file, buffer.data(), readSize);
        }
    zip_fclose(file);
    zip_close(archive);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * extras().hotOffsets.size()));
}

void plainOurs(benchmark::State& state)
{
    for (auto _ : state)
        if (bench::readMember(wide(extras().plain)) != corpusSize)
            state.SkipWithError("short read");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpusSize));
}

void plainFread(benchmark::State& state)
{
    std::vector<std::uint8_t> buffer(readSize);
    for (auto _ : state) {
        std::FILE* file = std::fopen(extras().plain.c_str(), "rb");
        std::setvbuf(file, nullptr, _IOFBF, 4096);
        while (std::fread(buffer.data(), 1, readSize, file) > 0) {
        }
        std::fclose(file);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpusSize));
}

void openOurs(benchmark::State& state)
{
    const std::wstring path = wide(extras().many);
    for (auto _ : state) {
        auto archive = std::make_unique<filedriver::ArchiveInfo>(path);
        state.PauseTiming();
        // Loaded afresh by the next one.
        archive.reset();
        filedriver::releaseArchive(path);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void openReadOnce(benchmark::State& state)
{
    // In 4 KiB reads, as every reference here reads.
    std::vector<std::uint8_t> buffer(readSize);
    for (auto _ : state) {
        const int file = open(extras().many.c_str(), O_RDONLY);
        while (read(file, buffer.data(), buffer.size()) > 0) {
        }
        close(file);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

const filedriver::ArchiveInfo& manyArchive()
{
    static const filedriver::ArchiveInfo archive(wide(extras().many));
    return archive;
}

void lookupOurs(benchmark::State& state)
{
    const filedriver::ArchiveInfo& archive = manyArchive();
    for (auto _ : state)
        for (int i = 0; i < lookups; ++i)
            benchmark::DoNotOptimize(archive.hasMember(extras().manyNames[static_cast<std::size_t>(i * 7 % manyMembers)]));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lookups));
}

void lookupLinear(benchmark::State& state)
{
    const filedriver::ArchiveInfo& archive = manyArchive();
    for (auto _ : state)
        for (int i = 0; i < lookups; ++i) {
            const std::wstring& name = extras().manyNames[static_cast<std::size_t>(i * 7 % manyMembers)];
            const auto& entries = archive.members();
            benchmark::DoNotOptimize(
                std::find_if(entries.begin(), entries.end(), [&](const filedriver::FileEntry& e) { return e.name.compare(name) == 0; }));
        }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lookups));
}

// ---- every data set: every file read whole in order (cat), checked (verify), packed (pack)

// As a program reading many members does: a handle of the archive open for the pass, so that a block
// that small members share is decoded once (the last handle's close lets the archive's blocks go).
void catOurs(benchmark::State& state, const Dataset& d)
{
    for (auto _ : state) {
        const filedriver::FileDriver held(member(d.archive, d.names.front()), filedriver::OpenRead);
        std::uint64_t total = 0;
        for (const std::string& name : d.names)
            total += bench::readMember(member(d.archive, name));
        if (total != d.bytes.size())
            state.SkipWithError("short read");
    }
    state.SetBytesProcessed(state.iterations() * totalBytes(d));
}

void catRawInflate(benchmark::State& state, const Dataset& d)
{
    bench::RawInflate inflate(blockSize);
    for (auto _ : state)
        if (inflate.inflateAll(d.storedBlocks) != d.bytes.size())
            state.SkipWithError("short inflate");
    state.SetBytesProcessed(state.iterations() * totalBytes(d));
}

void catLibzip(benchmark::State& state, const Dataset& d)
{
    std::vector<std::uint8_t> buffer(readSize);
    for (auto _ : state) {
        zip_t* archive = zip_open(d.zip.c_str(), ZIP_RDONLY, nullptr);
        for (zip_uint64_t i = 0; i < d.names.size(); ++i) {
            zip_file_t* file = zip_fopen_index(archive, i, 0);
            while (zip_fread(file, buffer.data(), readSize) > 0) {
            }
            zip_fclose(file);
        }
        zip_close(archive);
    }
    state.SetBytesProcessed(state.iterations() * totalBytes(d));
}

void catPhysfs(benchmark::State& state, const Dataset& d)
{
    PhysfsMount mount(d.zip);
    std::vector<std::uint8_t> buffer(readSize);
    for (auto _ : state)
        for (const std::string& name : d.names) {
            PHYSFS_File* file = PHYSFS_openRead(name.c_str());
            while (PHYSFS_readBytes(file, buffer.data(), readSize) > 0) {
            }
            PHYSFS_close(file);
        }
    state.SetBytesProcessed(state.iterations() * totalBytes(d));
}

// What mca verify does: every block decoded on every core; with 1, through the cache on one thread.
void verifyOurs(benchmark::State& state, const Dataset& d, unsigned threads)
{
    const filedriver::ArchiveInfo archive(wide(d.archive));
    for (auto _ : state)
        if (!archive.verify({}, threads).empty())
            state.SkipWithError("damaged block");
    state.SetBytesProcessed(state.iterations() * totalBytes(d));
}

void verifyLibdeflate(benchmark::State& state, const Dataset& d)
{
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    std::vector<std::uint8_t> out(blockSize);
    for (auto _ : state)
        for (const ByteBuffer& block : d.storedBlocks) {
            std::size_t produced = 0;
            if (libdeflate_zlib_decompress(decompressor, block.data(), block.size(), out.data(), out.size(), &produced)
                != LIBDEFLATE_SUCCESS)
                state.SkipWithError("libdeflate failed");
            benchmark::DoNotOptimize(out.data());
        }
    libdeflate_free_decompressor(decompressor);
    state.SetBytesProcessed(state.iterations() * totalBytes(d));
}

// Times a command that packs the data set's files.
void packWith(benchmark::State& state, const Dataset& d, const std::string& command)
{
    for (auto _ : state)
        if (!bench::runQuietly(command))
            state.SkipWithError(("failed: " + command).c_str());
    state.SetBytesProcessed(state.iterations() * totalBytes(d));
}

void packOurs(benchmark::State& state, const Dataset& d)
{
    packWith(state, d, bench::quoted(bench::mcaProgram()) + " pack --block-size 65536 " + bench::quoted(d.directory + "/again.mca")
                           + " " + bench::quoted(d.source));
}

void packMksquashfs(benchmark::State& state, const Dataset& d)
{
    packWith(state, d, "mksquashfs " + bench::quoted(d.source) + " " + bench::quoted(d.directory + "/again.squashfs")
                           + " -comp gzip -Xcompression-level 6 -b 65536 -processors 2 -noappend -no-progress -quiet");
}

// compress2 of the same 64 KiB blocks on one thread; its size is the one the archive is held to.
void packCompress2(benchmark::State& state, Dataset& d)
{
    std::vector<std::uint8_t> out(compressBound(blockSize));
    for (auto _ : state) {
        std::uint64_t stored = 0;
        for (std::size_t at = 0; at < d.bytes.size(); at += blockSize) {
            uLongf length = static_cast<uLongf>(out.size());
            compress2(out.data(), &length, d.bytes.data() + at, static_cast<uLong>(std::min<std::size_t>(blockSize, d.bytes.size() - at)),
                      Z_DEFAULT_COMPRESSION);
            stored += length;
        }
        d.zlibBytes = stored;
    }
    state.SetBytesProcessed(state.iterations() * totalBytes(d));
}

// ---- every data set through mca mount, against a squashfs image of the same files

bool mountsSkipped(benchmark::State& state, const Dataset& d)
{
    static const std::string why = bench::mountsUnavailable();
    if (!why.empty())
        state.SkipWithError(why.c_str());
    else if (d.image.empty())
        state.SkipWithError("mksquashfs failed");
    return !why.empty() || d.image.empty();
}

bool readAllRandomly(const Dataset& d, const std::string& point)
{
    return bench::readRandomly(d, point, bench::randomReads);
}

// The way an engine reads its atlas, file by file on one open file each: 4 KiB at random first (one
// read per 32 KiB), then the whole file in order in 128 KiB reads.
bool readAsTheEngine(const Dataset& d, const std::string& point)
{
    std::vector<std::uint8_t> buffer(mountReadSize);
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < d.names.size(); ++i) {
        const int file = open((point + "/" + d.names[i]).c_str(), O_RDONLY);
        for (const std::uint32_t offset : d.engineOffsets[i])
            if (pread(file, buffer.data(), readSize, offset) <= 0)
                total = ~0ull >> 1;
        for (ssize_t got; (got = read(file, buffer.data(), buffer.size())) > 0;)
            total += static_cast<std::uint64_t>(got);
        close(file);
    }
    return total == d.bytes.size();
}

// Each pass on a fresh mount, timed from the first open to the last close; `imageCached` chooses the
// state of the archive's (or the image's) pages in the page cache.
void throughFreshMounts(benchmark::State& state, const Dataset& d, MountKind kind, bool imageCached,
                        bool (*pattern)(const Dataset&, const std::string&), std::int64_t work)
{
    if (mountsSkipped(state, d))
        return;
    const std::string& image = kind == MountKind::Ours ? d.archive : d.image;
    bench::timeFreshMounts(
        state,
        [&](bench::MountStack& stack) {
            stack.mounts.push_back(std::make_unique<bench::Mount>(kind, image, d.directory, imageCached));
        },
        [&](const std::string& point) { return pattern(d, point); }, work);
}

// ---- the table

using bench::Goal;

struct Figure {
    const char* name;
    const char* ours;      // "<figure>/<who>"; per data set "<data>/" goes before
    const char* reference;
    const char* referenceName;
    double goal;
    Goal kind = Goal::Required;
    bool madeOnly = false;
};

const Figure figures[] = {
    {"every file in order, 4 KiB reads", "cat/ours", "cat/raw_inflate", "raw zlib inflate", 2.0},
    {"every file in order, 4 KiB reads", "cat/ours", "cat/libzip", "libzip", 2.0},
    {"every file in order, 4 KiB reads", "cat/ours", "cat/physfs", "PhysicsFS", 2.0},
    {"sequential stored member, 4 KiB reads", "seq_stored/ours", "seq_stored/read", "read() page cache", 0.5, Goal::Required, true},
    {"random 4 KiB reads, cold", "random_cold/ours", "random_cold/libzip", "libzip reopen+skip", 300, Goal::Required, true},
    {"random 4 KiB reads, cold", "random_cold/ours", "random_cold/physfs", "PhysicsFS seek", 300, Goal::Required, true},
    {"random 4 KiB reads, hot", "random_hot/ours", "random_hot/libzip_stored", "libzip stored member", 1.0, Goal::Required, true},
    {"plain file, 4 KiB reads", "plain/ours", "plain/fread", "fread, 4 KiB buffer", 0.9, Goal::Required, true},
    {"two members of one archive, two threads", "parallel/two_threads", "parallel/one_thread", "one thread, no decoding ahead", 1.7, Goal::Required, true},
    {"name lookup, 100000 members", "lookup/ours", "lookup/linear", "linear scan", 100, Goal::Required, true},
    {"archive open, 100000 members", "open/ours", "open/read_once", "reading the file once", 1.0 / 1.5, Goal::Required, true},
    {"mount, sequential 128 KiB reads, archive's pages dropped", "mount_seq_dropped/ours", "mount_seq_dropped/squashfuse", "squashfuse", 2.0},
    {"mount, sequential 128 KiB reads, archive's pages cached", "mount_seq_cached/ours", "mount_seq_cached/squashfuse", "squashfuse", 2.0},
    {"mount, random 4 KiB preads, archive's pages dropped", "mount_random_dropped/ours", "mount_random_dropped/squashfuse", "squashfuse", 2.0},
    {"mount, random 4 KiB preads, archive's pages cached", "mount_random_cached/ours", "mount_random_cached/squashfuse", "squashfuse", 2.0},
    {"mount, engine's pattern, archive's pages dropped", "mount_engine_dropped/ours", "mount_engine_dropped/squashfuse", "squashfuse", 2.0},
    {"mount, engine's pattern, archive's pages dropped", "mount_engine_dropped/ours", "mount_engine_dropped/kernel", "kernel squashfs", 1.0},
    {"mount, engine's pattern, archive's pages cached", "mount_engine_cached/ours", "mount_engine_cached/squashfuse", "squashfuse", 2.0},
    {"mount, engine's pattern, archive's pages cached", "mount_engine_cached/ours", "mount_engine_cached/kernel", "kernel squashfs", 1.0},
    {"pack, 64 KiB blocks, default level", "pack/ours", "pack/mksquashfs", "mksquashfs gzip 6, 2 processors", 1.5},
    {"pack, 64 KiB blocks, default level", "pack/ours", "pack/compress2", "compress2, one thread", 3.0},
    {"verify, every block decoded", "verify/parallel", "verify/one_thread", "one thread", 1.7},
    {"verify, every block decoded", "verify/parallel", "verify/libdeflate", "libdeflate in memory, one thread", 1.7},
    {"remote: every member whole, loopback", "remote_whole_loopback/ours", "remote_whole_loopback/curl", "curl download, then read locally", 1.0},
    {"remote: every member whole, 20 ms a request", "remote_whole_delayed/ours", "remote_whole_delayed/curl", "curl download, then read locally", 1.0},
    {"remote mount, random 4 KiB reads, cold, one thread, 20 ms a request", "remote_mount_random/ours", "remote_mount_random/round_trip", "one request per read", 0.9},
    {"remote mount, random 4 KiB reads, cold, 8 threads, 20 ms a request", "remote_mount_random8/ours", "remote_mount_random8/httpfs2_squashfuse", "squashfuse over httpfs2", 4.0},
    {"remote mount, sequential 128 KiB reads, 20 ms a request", "remote_mount_seq/ours", "remote_mount_seq/httpfs2_squashfuse", "squashfuse over httpfs2", 10.0},
};

// Requests counted in nginx's access log, against the most a figure may cost.
struct RequestFigure {
    const char* name;
    const char* ours; // "<data>/" goes before
    int most;
};

const RequestFigure requestFigures[] = {
    {"remote requests: open", "remote_requests/open", 1},
    {"remote requests: open + first 4 KiB of a member", "remote_requests/open_first_4k", 2},
    {"remote requests: one cold random 4 KiB read, archive open", "remote_requests/random_block", 1},
    {"remote requests: second run of the random reads (disk cache)", "remote_requests/disk_cache_second_run", 1},
};

class Collector : public benchmark::ConsoleReporter {
public:
    // Plain text: the output is read from files as often as on terminals.
    Collector() : ConsoleReporter(OO_None) {}
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // Each figure is the median of its repetitions (where it has several): this machine's
            // neighbours come and go.
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions == 1;
            if (!single && (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median"))
                continue;
            // Speed in work per second: bytes, reads, lookups or opens.
            auto rate = run.counters.find("bytes_per_second");
            if (rate == run.counters.end())
                rate = run.counters.find("items_per_second");
            // The name as registered, without the options the library appends.
            const std::string name = run.run_name.function_name;
            if (rate != run.counters.end())
                speeds[name] = rate->second;
            const auto requests = run.counters.find("requests");
            if (requests != run.counters.end())
                counts[name] = requests->second;
        }
    }
    std::map<std::string, double> speeds;
    std::map<std::string, double> counts;
};

std::string speedText(const std::string& figure, double speed)
{
    if (figure.find("random") != std::string::npos || figure.rfind("lookup", 0) == 0)
        return std::to_string(static_cast<long long>(speed + 0.5)) + " /s";
    if (figure.rfind("open", 0) == 0) {
        char text[32];
        std::snprintf(text, sizeof text, "%.2f ms", 1e3 / speed);
        return text;
    }
    return bench::megabytesPerSecond(speed);
}

struct Row {
    std::string figure, data, referenceName, ours, reference;
    double ratio, goal;
    Goal kind;
};

std::vector<Row> tableRows(const Collector& collector)
{
    std::vector<Row> rows;
    for (const Figure& figure : figures)
        for (const auto& d : datasets) {
            if (figure.madeOnly && d.get() != &made())
                continue;
            const std::string prefix = figure.madeOnly ? "" : d->name + "/";
            const auto ours = collector.speeds.find(prefix + figure.ours);
            const auto reference = collector.speeds.find(prefix + figure.reference);
            if (ours == collector.speeds.end() || reference == collector.speeds.end())
                continue;
            rows.push_back({figure.name, d->name, figure.referenceName, speedText(figure.ours, ours->second),
                            speedText(figure.reference, reference->second), ours->second / reference->second,
                            figure.goal, figure.kind});
        }
    // Ratio: the most over ours (none counts as one), so that the goal 1 is "no more than the most".
    for (const RequestFigure& figure : requestFigures)
        for (const auto& d : datasets) {
            const auto ours = collector.counts.find(d->name + "/" + figure.ours);
            if (ours == collector.counts.end())
                continue;
            const auto requests = [](double n) {
                return std::to_string(static_cast<long long>(n)) + (n == 1 ? " request" : " requests");
            };
            rows.push_back({figure.name, d->name, "nginx's access log, the most", requests(ours->second),
                            requests(figure.most), figure.most / std::max(ours->second, 1.0), 1.0, Goal::Required});
        }
    // The archive's size against compress2's of the same blocks: ratio above 1/1.02 is no more than 1.02 times.
    for (const auto& d : datasets) {
        struct stat archive{};
        if (d->zlibBytes == 0 || stat(d->archive.c_str(), &archive) != 0)
            continue;
        char ours[32], reference[32];
        std::snprintf(ours, sizeof ours, "%.2f MB", archive.st_size / 1e6);
        std::snprintf(reference, sizeof reference, "%.2f MB", d->zlibBytes / 1e6);
        rows.push_back({"pack, archive size (ratio: reference size / ours)", d->name, "zlib level 6, same blocks", ours,
                        reference, static_cast<double>(d->zlibBytes) / static_cast<double>(archive.st_size), 1 / 1.02,
                        Goal::Required});
    }
    return rows;
}

void printRows(const std::vector<Row>& rows, std::FILE* copy)
{
    bench::printTableHeader(copy);
    for (const Row& row : rows)
        bench::printTableRow(row.figure, row.data, row.referenceName, row.ours, row.reference, row.ratio, row.goal,
                             row.kind, copy);
}

// One row per figure and reference: the data set where ours comes closest to missing its goal.
std::vector<Row> worstRows(const std::vector<Row>& rows)
{
    std::vector<Row> worst;
    for (const Row& row : rows) {
        const auto same = std::find_if(worst.begin(), worst.end(), [&](const Row& w) {
            return w.figure == row.figure && w.referenceName == row.referenceName;
        });
        if (same == worst.end())
            worst.push_back(row);
        else if (row.ratio / row.goal < same->ratio / same->goal)
            *same = row;
    }
    return worst;
}

// The real corpus of the remote rows: the shared libraries (large files, as an atlas's are) where this
// machine has them, else the first there is, else the made data.
const Dataset& remoteCorpus()
{
    for (const auto& d : datasets)
        if (d->name == "libraries")
            return *d;
    return *datasets[datasets.size() > 1 ? 1 : 0];
}

void registerAll()
{
    const auto add = [](const std::string& name, auto function) {
        return benchmark::RegisterBenchmark(name.c_str(), function)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3)->ReportAggregatesOnly(true);
    };
    const std::pair<const char*, void (*)(benchmark::State&)> madeOnly[] = {
        {"seq_stored/ours", seqStoredOurs},          {"seq_stored/read", seqStoredRead},
        {"random_cold/ours", randomColdOurs},        {"random_cold/libzip", randomColdLibzip},
        {"random_cold/physfs", randomColdPhysfs},    {"random_hot/ours", randomHotOurs},
        {"random_hot/libzip_stored", randomHotLibzipStored}, {"plain/ours", plainOurs},
        {"plain/fread", plainFread},                 {"lookup/ours", lookupOurs},
        {"lookup/linear", lookupLinear},             {"open/ours", openOurs},
        {"open/read_once", openReadOnce},            {"parallel/one_thread", parallelOneThread},
        {"parallel/two_threads", parallelTwoThreads},
    };
    for (const auto& [name, function] : madeOnly)
        add(name, function)->MinTime(0.5);
    for (const auto& owned : datasets) {
        Dataset& d = *owned;
        const std::string at = d.name + "/";
        // A pass over a whole data set takes 0.1 s or more: a few passes give a stable median.
        add(at + "cat/ours", [&d](benchmark::State& s) { catOurs(s, d); })->MinTime(0.2);
        add(at + "cat/raw_inflate", [&d](benchmark::State& s) { catRawInflate(s, d); })->MinTime(0.2);
        add(at + "cat/libzip", [&d](benchmark::State& s) { catLibzip(s, d); })->MinTime(0.2);
        add(at + "cat/physfs", [&d](benchmark::State& s) { catPhysfs(s, d); })->MinTime(0.2);
        add(at + "verify/parallel", [&d](benchmark::State& s) { verifyOurs(s, d, 0); })->MinTime(0.2);
        add(at + "verify/one_thread", [&d](benchmark::State& s) { verifyOurs(s, d, 1); })->MinTime(0.2);
        add(at + "verify/libdeflate", [&d](benchmark::State& s) { verifyLibdeflate(s, d); })->MinTime(0.2);
        // A pass takes a second or less, and one of three disturbed moved the median by a tenth: five.
        add(at + "pack/ours", [&d](benchmark::State& s) { packOurs(s, d); })->Iterations(1)->Repetitions(5);
        add(at + "pack/mksquashfs", [&d](benchmark::State& s) { packMksquashfs(s, d); })->Iterations(1)->Repetitions(5);
        // Seconds a pass, on one thread; the size it measures is the same every time.
        add(at + "pack/compress2", [&d](benchmark::State& s) { packCompress2(s, d); })->Iterations(1)->Repetitions(1);
        const struct {
            const char* state;
            bool cached;
        } states[] = {{"dropped", false}, {"cached", true}};
        const struct {
            const char* who;
            MountKind kind;
        } peers[] = {{"ours", MountKind::Ours}, {"squashfuse", MountKind::Squashfuse}, {"kernel", MountKind::Kernel}};
        for (const auto& [state, cached] : states)
            for (const auto& [who, kind] : peers) {
                const bool withKernel = kind == MountKind::Kernel;
                const MountKind k = kind;
                const bool c = cached;
                // squashfuse takes seconds a pass on real files, a third of the benchmark's time with
                // three passes: it gets two.
                const int passes = kind == MountKind::Squashfuse ? 2 : 3;
                if (!withKernel) {
                    add(at + "mount_seq_" + state + "/" + who, [&d, k, c](benchmark::State& s) {
                        throughFreshMounts(s, d, k, c, bench::readSequentially, totalBytes(d));
                    })->Iterations(1)->Repetitions(passes);
                    add(at + "mount_random_" + state + "/" + who, [&d, k, c](benchmark::State& s) {
                        throughFreshMounts(s, d, k, c, readAllRandomly, -bench::randomReads);
                    })->Iterations(1)->Repetitions(passes);
                }
                add(at + "mount_engine_" + state + "/" + who, [&d, k, c](benchmark::State& s) {
                    throughFreshMounts(s, d, k, c, readAsTheEngine, totalBytes(d));
                })->Iterations(1)->Repetitions(passes);
            }
    }
    for (const auto& owned : datasets)
        if (owned.get() == &made() || owned.get() == &remoteCorpus())
            bench::registerRemoteRows(*owned, workDirectory, [&](const std::string& name, std::function<void(benchmark::State&)> f) {
                return add(name, std::move(f));
            });
}

} // namespace

int main(int argc, char** argv)
{
    std::string tableFile;
    std::vector<char*> arguments;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--table=", 8) == 0)
            tableFile = argv[i] + 8;
        else
            arguments.push_back(argv[i]);
    }
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    char dirTemplate[] = "/tmp/gleaner-bench-XXXXXX";
    workDirectory = mkdtemp(dirTemplate);
    datasets = bench::makeDatasets(workDirectory, bench::mcaProgram(), corpusSize);
    extras();
    // The data sets are hundreds of MB just written: their writing back would take a processor from
    // the first rows measured.
    sync();
    registerAll();
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    bench::stopRemoteServer();

    std::FILE* copy = tableFile.empty() ? nullptr : std::fopen(tableFile.c_str(), "w");
    const std::vector<Row> rows = tableRows(collector);
    if (copy)
        std::fprintf(copy, "# Every figure on every data set\n");
    printRows(rows, copy);
    if (copy)
        std::fprintf(copy, "\n# The worst data set of each figure\n");
    else
        std::printf("\nThe worst data set of each figure:\n");
    printRows(worstRows(rows), copy);
    if (copy)
        std::fclose(copy);
    return bench::runQuietly("rm -rf " + bench::quoted(workDirectory)) ? 0 : 1;
}
