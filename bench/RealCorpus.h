#pragma once
// Corpora of real files, taken from what every Debian machine has, each copied into a directory of its
// own as a user would gather files to pack: C headers, shared libraries, and documentation (text,
// translations, gzip'd manual pages, Python sources). The choice is the same on one machine from run to
// run (files in an order given by a hash of their paths), spread over each tree rather than its first
// directories, each content once (mksquashfs stores a repeated file once, which the archive format
// cannot: that is no difference of speed), no file over 8 MiB, about `size` bytes in all.
// Copies are named "<number>-<file name>" (letters, digits and ".-_+" only), so that no two clash.

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct RealCorpusKind {
    const char* name;
    // Directories searched; those missing here are passed over.
    std::vector<std::string> roots;
    // Only files whose name contains this (empty: all).
    const char* nameHolds;
};

// headers, libraries, documents.
const std::vector<RealCorpusKind>& realCorpusKinds();

// Copies the chosen files into `directory` (made, empty); their names in name order, and false (with
// no files) where this machine has too few bytes of the kind, under a quarter of `size`.
bool gatherRealCorpus(const RealCorpusKind& kind, std::uint64_t size, const std::string& directory,
                      std::vector<std::string>& names);

} // namespace bench
