#include "Datasets.h"

#include "Corpus.h"
#include "RealCorpus.h"

#include "filedriver/ArchiveInfo.h"
#include "orva/WideText.h"

#include <sys/stat.h>
#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace bench {
namespace {

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "benchmark: %s\n", what.c_str());
    std::exit(1);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void readFiles(Dataset& d)
{
    for (const std::string& name : d.names) {
        const std::string bytes = readFile(d.source + "/" + name);
        d.starts.push_back(d.bytes.size());
        d.sizes.push_back(static_cast<std::uint32_t>(bytes.size()));
        d.bytes.insert(d.bytes.end(), bytes.begin(), bytes.end());
    }
}

void makeZip(Dataset& d)
{
    int error = 0;
    zip_t* archive = zip_open(d.zip.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        fail("cannot make " + d.zip);
    for (std::size_t i = 0; i < d.names.size(); ++i) {
        zip_source_t* source = zip_source_buffer(archive, d.bytes.data() + d.starts[i], d.sizes[i], 0);
        zip_file_add(archive, d.names[i].c_str(), source, ZIP_FL_OVERWRITE);
    }
    if (zip_close(archive) != 0)
        fail("cannot write " + d.zip);
}

void keepStoredBlocks(Dataset& d)
{
    const filedriver::ArchiveInfo index(orva::fromNative(d.archive));
    const std::string file = readFile(d.archive);
    for (std::uint32_t k = 0; k < index.blockCount(); ++k) {
        const filedriver::StoredExtent block = index.storedBlock(k);
        const auto start = file.begin() + static_cast<std::ptrdiff_t>(block.offset);
        d.storedBlocks.emplace_back(start, start + block.size);
    }
}

void chooseOffsets(Dataset& d)
{
    std::uint64_t seed = 12345;
    const auto next = [&seed] {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return seed >> 20;
    };
    for (int i = 0; i < randomReads; ++i)
        d.randomOffsets.push_back(next() % (d.bytes.size() - readSize));
    for (const std::uint32_t size : d.sizes) {
        std::vector<std::uint32_t> offsets(std::max<std::size_t>(1, size / (32u << 10)));
        for (std::uint32_t& offset : offsets)
            offset = static_cast<std::uint32_t>(next() % size);
        d.engineOffsets.push_back(std::move(offsets));
    }
}

// The archive, the ZIP and the image of the files in `d.source`.
void packDataset(Dataset& d, const std::string& mca)
{
    readFiles(d);
    d.archive = d.directory + "/packed.mca";
    d.zip = d.directory + "/packed.zip";
    d.image = d.directory + "/packed.squashfs";
    if (!runQuietly(quoted(mca) + " pack --block-size 65536 " + quoted(d.archive) + " " + quoted(d.source)))
        fail("mca pack failed on " + d.source);
    if (!runQuietly("mksquashfs " + quoted(d.source) + " " + quoted(d.image)
                    + " -comp gzip -Xcompression-level 6 -b 65536 -noappend -no-progress -quiet"))
        d.image.clear();
    makeZip(d);
    keepStoredBlocks(d);
    chooseOffsets(d);
}

} // namespace

std::size_t Dataset::fileAt(std::uint64_t offset) const
{
    return static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), offset) - starts.begin()) - 1;
}

std::string quoted(const std::string& text)
{
    std::string result = "'";
    for (const char c : text)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

bool runQuietly(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::vector<std::unique_ptr<Dataset>> makeDatasets(const std::string& workDirectory, const std::string& mca,
                                                   std::uint64_t size)
{
    std::vector<std::unique_ptr<Dataset>> made;
    const auto start = [&](const std::string& name) {
        auto d = std::make_unique<Dataset>();
        d->name = name;
        d->directory = workDirectory + "/" + name;
        d->source = d->directory + "/files";
        mkdir(d->directory.c_str(), 0755);
        mkdir(d->source.c_str(), 0755);
        return d;
    };
    {
        std::unique_ptr<Dataset> d = start("made");
        const std::vector<std::uint8_t> corpus = makeCorpus(size);
        std::ofstream(d->source + "/atlas.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(corpus.data()), static_cast<std::streamsize>(corpus.size()));
        d->names = {"atlas.bin"};
        packDataset(*d, mca);
        made.push_back(std::move(d));
    }
    for (const RealCorpusKind& kind : realCorpusKinds()) {
        std::unique_ptr<Dataset> d = start(kind.name);
        if (!gatherRealCorpus(kind, size, d->source, d->names)) {
            std::fprintf(stderr, "benchmark: too few %s on this machine: left out\n", kind.name);
            continue;
        }
        packDataset(*d, mca);
        made.push_back(std::move(d));
    }
    return made;
}

} // namespace bench
