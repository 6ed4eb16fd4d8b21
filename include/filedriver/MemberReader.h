#pragma once
// One archive member read once from start to end, its blocks decoded ahead on a pool of threads: for
// copying a whole member out (extracting, printing). Reading members through FileDriver is unchanged.
// Every read answers, or fails, as a FileDriver's read of the member would, only sooner.
//
// The constructor throws orva::exception as FileDriver's does for the member (the archive cannot be
// loaded, no member of the name), and when the threads cannot be started. Not for several threads.

#include "filedriver/FilePath.h"

#include <cstdint>
#include <memory>

namespace filedriver {

class ParallelMemberReader;

class MemberReader {
public:
    // `memberPath` runs through an archive (isArchivePath); `threads` 0 for one per processor.
    MemberReader(const FilePath& memberPath, unsigned threads);
    ~MemberReader();
    MemberReader(const MemberReader&) = delete;
    MemberReader& operator=(const MemberReader&) = delete;

    std::uint32_t size() const;
    // Where the next read starts; after a read that threw, the start of the damaged block's bytes.
    std::uint32_t tell() const;
    // The next bytes, up to `length`; 0 at the end. Throws the orva::exception of a damaged block when
    // the read reaches it ("ArchiveCursor.read: integrity failed <n>"), and again on every later read.
    std::uint32_t read(void* buffer, std::uint32_t length);

private:
    std::unique_ptr<ParallelMemberReader> reader;
};

} // namespace filedriver
