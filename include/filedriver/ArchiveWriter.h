#pragma once
// Writes an archive file that meets every rule of the format: the caller chooses the block size, the
// codec (stored or zlib), the zlib level and the properties; members are stored in the order given.
//
// zlib blocks are encoded on `threads` threads (ZlibEncoder: libdeflate where the build has it) while
// the caller goes on appending, and written in order: the file is the same for every thread count.
// Member bytes are streamed: at most 3 blocks per thread are in memory at a time, each with its
// encoded form (with one thread, the block being filled and its encoding).
//
//   ArchiveWriter writer(path, {{L"roads.dat", 1234}, {L"names.txt", 56}}, options);
//   writer.append(roadsBytes, 1234); writer.append(namesBytes, 56);
//   if (!writer.finish()) ...
//
// The constructor throws orva::exception for options the format cannot hold (a block size of 0, an
// unknown codec, a zlib level outside -1 to 9, more than 4 GiB - 1 of data, a stored archive of 2 GiB
// or more) and when the file cannot be created. append and finish answer false on a write failure
// (the system's last error says why, SystemError.h), when the compressed archive would reach 2 GiB
// (outgrewFormat) or when the bytes do not match the members' sizes (finish also while bytes are
// missing; appending them then lets it succeed). A failure removes the file at once, and so does a
// writer destroyed before it finished: no incomplete archive is left behind.
// Given a file instead of a path, the writer writes into it from its position 0 on and never closes
// or removes it: the caller owns it (a NewFile, say, to be committed after finish).

#include "filedriver/AFileCore.h"
#include "filedriver/FilePath.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace filedriver {

using ByteBuffer = std::vector<std::uint8_t>;

struct ArchiveWriterOptions {
    std::uint32_t blockSize = 65536;
    std::uint32_t compressionType = 1; // 0 stored, 1 zlib
    std::int32_t level = -1; // zlib's default
    std::map<std::wstring, std::wstring> properties;
    // Threads encoding zlib blocks; 0 for one per processor of the machine.
    unsigned threads = 0;
};

struct ArchiveMemberPlan {
    std::wstring name;
    std::uint32_t size;
};

class ArchiveWriter {
public:
    ArchiveWriter(const FilePath& path, const std::vector<ArchiveMemberPlan>& members,
                  const ArchiveWriterOptions& options);
    ArchiveWriter(AFileCore& file, const std::vector<ArchiveMemberPlan>& members, const ArchiveWriterOptions& options);
    ~ArchiveWriter();
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    // The next bytes of the data stream (the members one after another).
    bool append(const void* data, std::uint32_t length);
    // Writes the last block and the index.
    bool finish();
    // True once append or finish failed because the archive would have reached 2 GiB, the most the
    // format's offsets hold; no system call failed then.
    bool outgrewFormat() const;

private:
    class Writing;
    std::unique_ptr<Writing> writing;
};

// An archive of members held in memory.
bool writeArchive(const FilePath& path, const std::vector<std::pair<std::wstring, ByteBuffer>>& members,
                  const ArchiveWriterOptions& options);

} // namespace filedriver
