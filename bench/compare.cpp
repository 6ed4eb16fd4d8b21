// Measures the library against the limit of its design and against peer libraries, side by side in
// one run, and prints one table: figure, ours, reference, ratio (how many times the reference's speed
// ours reaches), goal.
#include "Corpus.h"
#include "Mount.h"
#include "Sequential.h"
#include "Table.h"

#include "filedriver/ArchiveInfo.h"
#include "filedriver/ArchiveWriter.h"
#include "filedriver/FileDriver.h"
#include "orva/WideText.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <libdeflate.h>
#include <physfs.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using bench::readMember;
using bench::readSize;
using filedriver::ByteBuffer;

constexpr std::size_t corpusSize = 64u << 20;
constexpr std::uint32_t blockSize = 64u << 10;
constexpr int randomReads = 2000;
// Peers that re-inflate from the start for every random read are timed on a few reads only.
constexpr int slowRandomReads = 6;
constexpr std::uint32_t hotWorkingSet = 8u << 20;
constexpr int manyMembers = 100000;
// Members of 1 KiB: the archive's data, not its index, is most of its file, as in real atlases.
constexpr std::size_t manyMemberSize = 1024;
constexpr int lookups = 10000;
constexpr std::size_t mountReadSize = 128u << 10;

struct Data {
    std::string dir;
    std::vector<std::uint8_t> corpus;
    std::string plain, deflated, stored, zip, many, halves;
    std::vector<ByteBuffer> storedBlocks;
    std::vector<std::wstring> manyNames;
    std::vector<std::uint32_t> randomOffsets, hotOffsets;
};

std::wstring wide(const std::string& text)
{
    return orva::fromNative(text);
}

void writeFile(const std::string& path, const std::uint8_t* bytes, std::size_t size)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(bytes, 1, size, file) != size || std::fclose(file) != 0) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

std::string readFile(const std::string& path)
{
    std::string bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    char piece[1 << 16];
    for (std::size_t got; file && (got = std::fread(piece, 1, sizeof piece, file)) > 0;)
        bytes.append(piece, got);
    if (file)
        std::fclose(file);
    return bytes;
}

const Data& data()
{
    static const Data made = [] {
        Data d;
        char dirTemplate[] = "/tmp/gleaner-bench-XXXXXX";
        d.dir = mkdtemp(dirTemplate);
        d.corpus = bench::makeCorpus(corpusSize);
        d.plain = d.dir + "/atlas.bin";
        writeFile(d.plain, d.corpus.data(), d.corpus.size());

        const std::vector<std::pair<std::wstring, ByteBuffer>> one{{L"atlas.bin", ByteBuffer(d.corpus.begin(), d.corpus.end())}};
        filedriver::ArchiveWriterOptions options;
        options.blockSize = blockSize;
        d.deflated = d.dir + "/deflated.mca";
        filedriver::writeArchive(wide(d.deflated), one, options);
        options.compressionType = 0;
        d.stored = d.dir + "/stored.mca";
        filedriver::writeArchive(wide(d.stored), one, options);

        const auto middle = d.corpus.begin() + static_cast<std::ptrdiff_t>(corpusSize / 2);
        d.halves = d.dir + "/halves.mca";
        filedriver::writeArchive(wide(d.halves),
                                 {{L"first.bin", ByteBuffer(d.corpus.begin(), middle)},
                                  {L"second.bin", ByteBuffer(middle, d.corpus.end())}},
                                 filedriver::ArchiveWriterOptions{blockSize, 1, -1, {}});
        // The deflated archive's own stored blocks.
        {
            const filedriver::ArchiveInfo index(wide(d.deflated));
            const std::string file = readFile(d.deflated);
            for (std::uint32_t k = 0; k < index.blockCount(); ++k) {
                const filedriver::StoredExtent block = index.storedBlock(k);
                const auto start = file.begin() + static_cast<std::ptrdiff_t>(block.offset);
                d.storedBlocks.emplace_back(start, start + block.size);
            }
        }

        d.zip = d.dir + "/atlas.zip";
        int error = 0;
        zip_t* archive = zip_open(d.zip.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        for (const char* name : {"deflated.bin", "stored.bin"}) {
            zip_source_t* source = zip_source_buffer(archive, d.corpus.data(), d.corpus.size(), 0);
            const zip_int64_t index = zip_file_add(archive, name, source, ZIP_FL_OVERWRITE);
            zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                                     std::strcmp(name, "stored.bin") == 0 ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0);
        }
        zip_close(archive);

        std::vector<std::pair<std::wstring, ByteBuffer>> members;
        for (int i = 0; i < manyMembers; ++i) {
            const auto start = d.corpus.begin() + static_cast<std::ptrdiff_t>(i * manyMemberSize % (corpusSize - manyMemberSize));
            members.push_back({L"member-" + std::to_wstring(i) + L".dat", ByteBuffer(start, start + manyMemberSize)});
            d.manyNames.push_back(members.back().first);
        }
        d.many = d.dir + "/many.mca";
        filedriver::writeArchive(wide(d.many), members, filedriver::ArchiveWriterOptions{});

        std::uint64_t seed = 12345;
        for (int i = 0; i < randomReads; ++i) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            d.randomOffsets.push_back(static_cast<std::uint32_t>((seed >> 20) % (corpusSize - readSize)));
            d.hotOffsets.push_back(static_cast<std::uint32_t>((seed >> 20) % (hotWorkingSet - readSize)));
        }
        return d;
    }();
    return made;
}

std::wstring member(const std::string& archive, const char* name)
{
    return wide(archive) + L"/" + wide(name);
}

void readAll(benchmark::State& state, const std::wstring& path)
{
    for (auto _ : state)
        if (readMember(path) != corpusSize)
            state.SkipWithError("short read");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpusSize));
}

// ---- sequential member reads

void seqDeflatedOurs(benchmark::State& state) { readAll(state, member(data().deflated, "atlas.bin")); }

void seqDeflatedRawInflate(benchmark::State& state)
{
    bench::RawInflate inflate(blockSize);
    for (auto _ : state)
        if (inflate.inflateAll(data().storedBlocks) != corpusSize)
            state.SkipWithError("short inflate");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpusSize));
}

void seqDeflatedLibzip(benchmark::State& state)
{
    std::vector<std::uint8_t> buffer(readSize);
    for (auto _ : state) {
        zip_t* archive = zip_open(data().zip.c_str(), ZIP_RDONLY, nullptr);
        zip_file_t* file = zip_fopen(archive, "deflated.bin", 0);
        while (zip_fread(file, buffer.data(), readSize) > 0) {
        }
        zip_fclose(file);
        zip_close(archive);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpusSize));
}

struct PhysfsMount {
    PhysfsMount()
    {
        PHYSFS_init(nullptr);
        PHYSFS_mount(data().zip.c_str(), nullptr, 1);
    }
    ~PhysfsMount() { PHYSFS_deinit(); }
};

void seqDeflatedPhysfs(benchmark::State& state)
{
    PhysfsMount mount;
    std::vector<std::uint8_t> buffer(readSize);
    for (auto _ : state) {
        PHYSFS_File* file = PHYSFS_openRead("deflated.bin");
        while (PHYSFS_readBytes(file, buffer.data(), readSize) > 0) {
        }
        PHYSFS_close(file);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpusSize));
}

void seqStoredOurs(benchmark::State& state) { readAll(state, member(data().stored, "atlas.bin")); }

void seqStoredRead(benchmark::State& state)
{
    std::vector<std::uint8_t> buffer(readSize);
    for (auto _ : state) {
        const int file = open(data().plain.c_str(), O_RDONLY);
        while (read(file, buffer.data(), readSize) > 0) {
        }
        close(file);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpusSize));
}

// ---- two members, by one thread and by two

void parallelOneThread(benchmark::State& state)
{
    for (auto _ : state)
        if (readMember(member(data().halves, "first.bin")) + readMember(member(data().halves, "second.bin")) != corpusSize)
            state.SkipWithError("short read");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpusSize));
}

void parallelTwoThreads(benchmark::State& state)
{
    for (auto _ : state) {
        std::uint64_t first = 0;
        std::thread other([&] { first = readMember(member(data().halves, "first.bin")); });
        const std::uint64_t second = readMember(member(data().halves, "second.bin"));
        other.join();
        if (first + second != corpusSize)
            state.SkipWithError("short read");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpusSize));
}

// ---- random reads

void randomOurs(benchmark::State& state, const std::vector<std::uint32_t>& offsets, bool warm)
{
    std::vector<std::uint8_t> buffer(readSize);
    // Kept open for a hot cache: the last cursor's detach invalidates the archive's blocks.
    std::unique_ptr<filedriver::FileDriver> keep;
    if (warm) {
        keep = std::make_unique<filedriver::FileDriver>(member(data().deflated, "atlas.bin"), filedriver::OpenRead);
        for (std::uint32_t offset : offsets) {
            keep->seek(static_cast<std::int32_t>(offset), filedriver::SeekBegin);
            keep->read(buffer.data(), readSize);
        }
    }
    for (auto _ : state) {
        filedriver::FileDriver file(member(data().deflated, "atlas.bin"), filedriver::OpenRead);
        for (std::uint32_t offset : offsets) {
            file.seek(static_cast<std::int32_t>(offset), filedriver::SeekBegin);
            if (file.read(buffer.data(), readSize) != readSize)
                state.SkipWithError("short read");
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * offsets.size()));
}

void randomColdOurs(benchmark::State& state) { randomOurs(state, data().randomOffsets, false); }
void randomHotOurs(benchmark::State& state) { randomOurs(state, data().hotOffsets, true); }

// libzip cannot seek in a deflated member: reopen and skip.
void randomColdLibzip(benchmark::State& state)
{
    std::vector<std::uint8_t> buffer(1 << 16);
    zip_t* archive = zip_open(data().zip.c_str(), ZIP_RDONLY, nullptr);
    for (auto _ : state)
        for (int i = 0; i < slowRandomReads; ++i) {
            zip_file_t* file = zip_fopen(archive, "deflated.bin", 0);
            std::uint32_t skip = data().randomOffsets[static_cast<std::size_t>(i)];
            while (skip > 0)
                skip -= static_cast<std::uint32_t>(zip_fread(file, buffer.data(), std::min<std::uint32_t>(skip, 1 << 16)));
            zip_fread(file, buffer.data(), readSize);
            zip_fclose(file);
        }
    zip_close(archive);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * slowRandomReads));
}

void randomColdPhysfs(benchmark::State& state)
{
    PhysfsMount mount;
    std::vector<std::uint8_t> buffer(readSize);
    for (auto _ : state) {
        PHYSFS_File* file = PHYSFS_openRead("deflated.bin");
        for (int i = 0; i < slowRandomReads; ++i) {
            PHYSFS_seek(file, data().randomOffsets[static_cast<std::size_t>(i)]);
            PHYSFS_readBytes(file, buffer.data(), readSize);
        }
        PHYSFS_close(file);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * slowRandomReads));
}

void randomHotLibzipStored(benchmark::State& state)
{
    std::vector<std::uint8_t> buffer(readSize);
    zip_t* archive = zip_open(data().zip.c_str(), ZIP_RDONLY, nullptr);
    zip_file_t* file = zip_fopen(archive, "stored.bin", 0);
    for (auto _ : state)
        for (std::uint32_t offset : data().hotOffsets) {
            zip_fseek(file, offset, SEEK_SET);
            zip_fread(file, buffer.data(), readSize);
        }
    zip_fclose(file);
    zip_close(archive);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * data().hotOffsets.size()));
}

// ---- mounts: the deflated archive through mca mount against a squashfs image of the same bytes

using bench::MountKind;

// mksquashfs packs a directory: one holding the same bytes.
const std::string& squashSource()
{
    static const std::string source = [] {
        const std::string made = data().dir + "/squash-source";
        mkdir(made.c_str(), 0755);
        link(data().plain.c_str(), (made + "/atlas.bin").c_str());
        return made;
    }();
    return source;
}

const std::string& squashImage()
{
    static const std::string image = [] {
        const std::string made = data().dir + "/atlas.squashfs";
        const std::string command = "mksquashfs '" + squashSource() + "' '" + made
                                    + "' -comp gzip -Xcompression-level 6 -b 65536 -noappend -no-progress -quiet >/dev/null";
        return std::system(command.c_str()) == 0 ? made : std::string();
    }();
    return image;
}

// Skips the benchmark, saying why, where this machine cannot mount.
bool mountsSkipped(benchmark::State& state, MountKind kind)
{
    static const std::string why = bench::mountsUnavailable();
    if (!why.empty())
        state.SkipWithError(why.c_str());
    else if (kind != MountKind::Ours && squashImage().empty())
        state.SkipWithError("mksquashfs failed");
    return !why.empty() || (kind != MountKind::Ours && squashImage().empty());
}

const std::string& mountImage(MountKind kind)
{
    return kind == MountKind::Ours ? data().deflated : squashImage();
}

// Reads the member through a fresh mount of it, timing from open to close: `read` returns the bytes.
template <class Read>
void throughFreshMounts(benchmark::State& state, MountKind kind, Read read)
{
    if (mountsSkipped(state, kind))
        return;
    for (auto _ : state) {
        state.PauseTiming();
        bool good = false;
        try {
            const bench::Mount mount(kind, mountImage(kind), data().dir);
            state.ResumeTiming();
            const int file = open(mount.file("atlas.bin").c_str(), O_RDONLY);
            good = read(file);
            close(file);
            state.PauseTiming();
        } catch (const std::exception& error) {
            state.SkipWithError(error.what());
        }
        state.ResumeTiming();
        if (!good) {
            state.SkipWithError("short read");
            break;
        }
    }
}

bool readSequentially(int file)
{
    std::vector<std::uint8_t> buffer(mountReadSize);
    std::uint64_t total = 0;
    for (ssize_t got; (got = read(file, buffer.data(), buffer.size())) > 0;)
        total += static_cast<std::uint64_t>(got);
    return total == corpusSize;
}

bool readRandomly(int file)
{
    std::vector<std::uint8_t> buffer(readSize);
    for (std::uint32_t offset : data().randomOffsets)
        if (pread(file, buffer.data(), readSize, offset) != static_cast<ssize_t>(readSize))
            return false;
    return true;
}

void mountSequentialCold(benchmark::State& state, MountKind kind)
{
    throughFreshMounts(state, kind, readSequentially);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpusSize));
}

void mountRandomCold(benchmark::State& state, MountKind kind)
{
    throughFreshMounts(state, kind, readRandomly);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * randomReads));
}

// The same reads again on one mount, each pass opening the file anew: the page cache serves them.
void mountRandomHot(benchmark::State& state, MountKind kind)
{
    if (mountsSkipped(state, kind))
        return;
    try {
        const bench::Mount mount(kind, mountImage(kind), data().dir);
        const std::string path = mount.file("atlas.bin");
        bool good = true;
        for (int pass = -1; good && pass < 0; ++pass) {
            const int file = open(path.c_str(), O_RDONLY);
            good = readRandomly(file);
            close(file);
        }
        for (auto _ : state) {
            const int file = open(path.c_str(), O_RDONLY);
            good = good && readRandomly(file);
            close(file);
        }
        if (!good)
            state.SkipWithError("short read");
    } catch (const std::exception& error) {
        state.SkipWithError(error.what());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * randomReads));
}

void mountSeqOurs(benchmark::State& state) { mountSequentialCold(state, MountKind::Ours); }
void mountSeqSquashfuse(benchmark::State& state) { mountSequentialCold(state, MountKind::Squashfuse); }
void mountSeqKernel(benchmark::State& state) { mountSequentialCold(state, MountKind::Kernel); }
void mountRandomColdOurs(benchmark::State& state) { mountRandomCold(state, MountKind::Ours); }
void mountRandomColdSquashfuse(benchmark::State& state) { mountRandomCold(state, MountKind::Squashfuse); }
void mountRandomColdKernel(benchmark::State& state) { mountRandomCold(state, MountKind::Kernel); }
void mountRandomHotOurs(benchmark::State& state) { mountRandomHot(state, MountKind::Ours); }
void mountRandomHotSquashfuse(benchmark::State& state) { mountRandomHot(state, MountKind::Squashfuse); }
void mountRandomHotKernel(benchmark::State& state) { mountRandomHot(state, MountKind::Kernel); }

// ---- plain file

void plainOurs(benchmark::State& state) { readAll(state, wide(data().plain)); }

void plainFread(benchmark::State& state)
{
    std::vector<std::uint8_t> buffer(readSize);
    for (auto _ : state) {
        std::FILE* file = std::fopen(data().plain.c_str(), "rb");
        std::setvbuf(file, nullptr, _IOFBF, 4096);
        while (std::fread(buffer.data(), 1, readSize, file) > 0) {
        }
        std::fclose(file);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpusSize));
}

// ---- many members

void openOurs(benchmark::State& state)
{
    const std::wstring path = wide(data().many);
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
        const int file = open(data().many.c_str(), O_RDONLY);
        while (read(file, buffer.data(), buffer.size()) > 0) {
        }
        close(file);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

const filedriver::ArchiveInfo& manyArchive()
{
    static const filedriver::ArchiveInfo archive(wide(data().many));
    return archive;
}

void lookupOurs(benchmark::State& state)
{
    const filedriver::ArchiveInfo& archive = manyArchive();
    for (auto _ : state)
        for (int i = 0; i < lookups; ++i)
            benchmark::DoNotOptimize(archive.hasMember(data().manyNames[static_cast<std::size_t>(i * 7 % manyMembers)]));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lookups));
}

void lookupLinear(benchmark::State& state)
{
    const filedriver::ArchiveInfo& archive = manyArchive();
    for (auto _ : state)
        for (int i = 0; i < lookups; ++i) {
            const std::wstring& name = data().manyNames[static_cast<std::size_t>(i * 7 % manyMembers)];
            const auto& entries = archive.members();
            benchmark::DoNotOptimize(
                std::find_if(entries.begin(), entries.end(), [&](const filedriver::FileEntry& e) { return e.name.compare(name) == 0; }));
        }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lookups));
}

// ---- packing 64 MiB: the library's writer on every core, mksquashfs on as many, compress2 on one

void packOurs(benchmark::State& state)
{
    const std::wstring target = wide(data().dir + "/packed.mca");
    std::vector<std::uint8_t> piece(1 << 20);
    for (auto _ : state) {
        // As mca pack does: the input file read in pieces while the blocks are compressed.
        filedriver::FileDriver from(wide(data().plain), filedriver::OpenReadBuffered);
        filedriver::ArchiveWriter writer(target, {{L"atlas.bin", static_cast<std::uint32_t>(corpusSize)}}, {});
        bool written = true;
        for (std::uint32_t got; written && (got = from.read(piece.data(), static_cast<std::uint32_t>(piece.size()))) > 0;)
            written = writer.append(piece.data(), got);
        if (!written || !writer.finish())
            state.SkipWithError("pack failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpusSize));
}

void packMksquashfs(benchmark::State& state)
{
    const std::string command = "mksquashfs '" + squashSource() + "' '" + data().dir
                                + "/atlas.sqfs' -comp gzip -Xcompression-level 6 -b 65536 -processors 2 -noappend"
                                  " -no-progress -quiet >/dev/null 2>&1";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("mksquashfs failed (is squashfs-tools installed?)");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpusSize));
}

void packCompress2(benchmark::State& state)
{
    std::vector<std::uint8_t> out(compressBound(blockSize));
    for (auto _ : state)
        for (std::size_t at = 0; at < corpusSize; at += blockSize) {
            uLongf length = static_cast<uLongf>(out.size());
            compress2(out.data(), &length, data().corpus.data() + at, blockSize, Z_DEFAULT_COMPRESSION);
            benchmark::DoNotOptimize(out.data());
        }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpusSize));
}

// ---- verifying: every block of the deflated archive decoded and checked

// What mca verify does: every block decoded on every core.
void verifyParallel(benchmark::State& state)
{
    const filedriver::ArchiveInfo archive(wide(data().deflated));
    for (auto _ : state)
        if (!archive.verify({}, 0).empty())
            state.SkipWithError("damaged block");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpusSize));
}

// What mca verify --threads 1 does: every block through a cursor and the cache.
void verifyOneThread(benchmark::State& state)
{
    const filedriver::ArchiveInfo archive(wide(data().deflated));
    for (auto _ : state)
        if (!archive.verify({}, 1).empty())
            state.SkipWithError("damaged block");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpusSize));
}

void verifyLibdeflate(benchmark::State& state)
{
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    std::vector<std::uint8_t> out(blockSize);
    for (auto _ : state)
        for (const ByteBuffer& block : data().storedBlocks) {
            std::size_t produced = 0;
            if (libdeflate_zlib_decompress(decompressor, block.data(), block.size(), out.data(), out.size(), &produced)
                != LIBDEFLATE_SUCCESS)
                state.SkipWithError("libdeflate failed");
            benchmark::DoNotOptimize(out.data());
        }
    libdeflate_free_decompressor(decompressor);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpusSize));
}

// ---- the table

using bench::Goal;

struct Figure {
    const char* name;
    const char* ours;
    const char* reference;
    const char* referenceName;
    double goal;
    Goal kind = Goal::Required;
};

const Figure figures[] = {
    {"sequential deflated member, 4 KiB reads", "seq_deflated/ours", "seq_deflated/raw_inflate", "raw zlib inflate", 2.0},
    {"sequential deflated member, 4 KiB reads", "seq_deflated/ours", "seq_deflated/libzip", "libzip", 2.0},
    {"sequential deflated member, 4 KiB reads", "seq_deflated/ours", "seq_deflated/physfs", "PhysicsFS", 2.0},
    {"sequential stored member, 4 KiB reads", "seq_stored/ours", "seq_stored/read", "read() page cache", 0.5},
    {"random 4 KiB reads, cold", "random_cold/ours", "random_cold/libzip", "libzip reopen+skip", 300},
    {"random 4 KiB reads, cold", "random_cold/ours", "random_cold/physfs", "PhysicsFS seek", 300},
    {"random 4 KiB reads, hot", "random_hot/ours", "random_hot/libzip_stored", "libzip stored member", 1.0},
    {"plain file, 4 KiB reads", "plain/ours", "plain/fread", "fread, 4 KiB buffer", 0.9},
    {"two members of one archive, two threads", "parallel/two_threads", "parallel/one_thread", "one thread", 1.7},
    {"name lookup, 100000 members", "lookup/ours", "lookup/linear", "linear scan", 100},
    {"archive open, 100000 members", "open/ours", "open/read_once", "reading the file once", 1.0 / 1.5},
    {"mount, sequential 128 KiB reads, cold", "mount_seq_cold/ours", "mount_seq_cold/squashfuse", "squashfuse", 2.0},
    {"mount, sequential 128 KiB reads, cold", "mount_seq_cold/ours", "mount_seq_cold/kernel", "kernel squashfs", 0, Goal::None},
    {"mount, random 4 KiB preads, cold", "mount_random_cold/ours", "mount_random_cold/squashfuse", "squashfuse", 2.0},
    {"mount, random 4 KiB preads, cold", "mount_random_cold/ours", "mount_random_cold/kernel", "kernel squashfs", 1.0, Goal::Moonshot},
    {"mount, random 4 KiB preads, hot", "mount_random_hot/ours", "mount_random_hot/squashfuse", "squashfuse", 0, Goal::None},
    {"mount, random 4 KiB preads, hot", "mount_random_hot/ours", "mount_random_hot/kernel", "kernel squashfs", 0, Goal::None},
    {"pack 64 MiB, 64 KiB blocks, default level", "pack/ours", "pack/mksquashfs", "mksquashfs gzip 6, 2 processors", 1.5},
    {"pack 64 MiB, 64 KiB blocks, default level", "pack/ours", "pack/compress2", "compress2, one thread", 3.0},
    {"verify, every block decoded", "verify/parallel", "verify/one_thread", "one thread", 1.7},
    {"verify, every block decoded", "verify/parallel", "verify/libdeflate", "libdeflate in memory, one thread", 1.5},
};

class Collector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // Each figure is the median of its repetitions: this machine's neighbours come and go.
            if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median")
                continue;
            // Speed in work per second: bytes, reads, lookups or opens.
            auto rate = run.counters.find("bytes_per_second");
            if (rate == run.counters.end())
                rate = run.counters.find("items_per_second");
            // "figure/who", without the options the library appends ("/min_time:...", "/real_time").
            std::string name = run.benchmark_name();
            const std::size_t options = name.find('/', name.find('/') + 1);
            if (options != std::string::npos)
                name.erase(options);
            if (rate != run.counters.end())
                speeds[name] = rate->second;
        }
    }
    std::map<std::string, double> speeds;
};

std::string speedText(const std::string& name, double speed)
{
    if (name.rfind("seq_", 0) == 0 || name.rfind("plain", 0) == 0 || name.rfind("parallel", 0) == 0
        || name.rfind("mount_seq", 0) == 0 || name.rfind("pack", 0) == 0 || name.rfind("verify", 0) == 0)
        return bench::megabytesPerSecond(speed);
    char text[64];
    if (name.rfind("open", 0) == 0)
        std::snprintf(text, sizeof text, "%.2f ms", 1e3 / speed);
    else
        std::snprintf(text, sizeof text, "%.0f /s", speed);
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    constexpr int repetitions = 3;
    const std::pair<const char*, void (*)(benchmark::State&)> all[] = {
        {"seq_deflated/ours", seqDeflatedOurs},          {"seq_deflated/raw_inflate", seqDeflatedRawInflate},
        {"seq_deflated/libzip", seqDeflatedLibzip},      {"seq_deflated/physfs", seqDeflatedPhysfs},
        {"seq_stored/ours", seqStoredOurs},              {"seq_stored/read", seqStoredRead},
        {"random_cold/ours", randomColdOurs},            {"random_cold/libzip", randomColdLibzip},
        {"random_cold/physfs", randomColdPhysfs},        {"random_hot/ours", randomHotOurs},
        {"random_hot/libzip_stored", randomHotLibzipStored}, {"plain/ours", plainOurs},
        {"plain/fread", plainFread},                     {"lookup/ours", lookupOurs},
        {"lookup/linear", lookupLinear},                 {"open/ours", openOurs},
        {"open/read_once", openReadOnce},                {"parallel/one_thread", parallelOneThread},
        {"parallel/two_threads", parallelTwoThreads},
        {"mount_seq_cold/ours", mountSeqOurs},           {"mount_seq_cold/squashfuse", mountSeqSquashfuse},
        {"mount_seq_cold/kernel", mountSeqKernel},       {"mount_random_cold/ours", mountRandomColdOurs},
        {"mount_random_cold/squashfuse", mountRandomColdSquashfuse}, {"mount_random_cold/kernel", mountRandomColdKernel},
        {"mount_random_hot/ours", mountRandomHotOurs},   {"mount_random_hot/squashfuse", mountRandomHotSquashfuse},
        {"mount_random_hot/kernel", mountRandomHotKernel},
        {"pack/ours", packOurs},                         {"pack/mksquashfs", packMksquashfs},
        {"pack/compress2", packCompress2},               {"verify/parallel", verifyParallel},
        {"verify/one_thread", verifyOneThread},          {"verify/libdeflate", verifyLibdeflate},
    };
    for (const auto& [name, function] : all)
        benchmark::RegisterBenchmark(name, function)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(1.0)
            ->Repetitions(repetitions)
            ->ReportAggregatesOnly(true);
    benchmark::Initialize(&argc, argv);
    data();
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);

    bench::printTableHeader();
    for (const Figure& figure : figures) {
        const auto ours = collector.speeds.find(figure.ours);
        const auto reference = collector.speeds.find(figure.reference);
        if (ours == collector.speeds.end() || reference == collector.speeds.end())
            continue;
        bench::printTableRow(figure.name, figure.referenceName, speedText(figure.ours, ours->second),
                             speedText(figure.reference, reference->second), ours->second / reference->second,
                             figure.goal, figure.kind);
    }
    std::string command = "rm -rf '" + data().dir + "'";
    return std::system(command.c_str()) == 0 ? 0 : 1;
}
