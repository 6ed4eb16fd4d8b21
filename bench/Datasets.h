#pragma once
// The data the benchmark measures on, each as a directory of files packed by "mca pack" as a user packs
// them, beside a ZIP of the same files and a squashfs image of the same directory: the benchmark's own
// bytes ("made", one file of 64 MiB, Corpus.h) and corpora of real files of this machine (RealCorpus.h).

#include "Sequential.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace bench {

struct Dataset {
    std::string name;
    std::string directory; // everything made for this data set
    std::string source;    // the files
    std::vector<std::string> names; // in name order, as mca pack and mksquashfs store them
    std::vector<std::uint32_t> sizes;
    std::vector<std::uint64_t> starts; // of each file in `bytes`
    std::vector<std::uint8_t> bytes;   // every file, one after another
    std::string archive; // mca pack, 64 KiB blocks, the default level
    std::string zip;     // every file deflated at libzip's default level
    std::string image;   // mksquashfs, gzip level 6, 64 KiB blocks
    std::vector<ByteBuffer> storedBlocks; // the archive's blocks as stored
    // 2000 offsets of 4 KiB reads over all files; per file, the offsets the engine's pattern reads first
    // (one per 32 KiB, at least one).
    std::vector<std::uint64_t> randomOffsets;
    std::vector<std::vector<std::uint32_t>> engineOffsets;
    // compress2 at level 6 of the same 64 KiB blocks, once measured.
    std::uint64_t zlibBytes = 0;

    // The file holding byte `offset` of `bytes`.
    std::size_t fileAt(std::uint64_t offset) const;
};

constexpr std::uint32_t datasetBlockSize = 64u << 10;
constexpr int randomReads = 2000;

// Makes every data set below `workDirectory` with `mca`: "made" first, then each real corpus this
// machine has enough files for. Exits with a message when a tool fails.
std::vector<std::unique_ptr<Dataset>> makeDatasets(const std::string& workDirectory, const std::string& mca,
                                                   std::uint64_t size);

// Runs a shell command with its output discarded; whether it succeeded.
bool runQuietly(const std::string& command);
std::string quoted(const std::string& text);

} // namespace bench
