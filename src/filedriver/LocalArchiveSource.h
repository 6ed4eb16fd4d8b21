#pragma once
// An archive file on disk as an ArchiveSource: positional reads of one handle (several threads at once),
// the system's read-ahead as the hint, and the file's stamp (FileSystem.h) as its version, taken only
// where the file at the path stayed the same while it was opened, so that it is the opened file's.
//
// The constructor throws FilePlatform's orva::exception when the file cannot be opened.

#include "filedriver/ArchiveSource.h"
#include "filedriver/FilePlatform.h"

#include <memory>

namespace filedriver {

class LocalArchiveSource : public ArchiveSource {
public:
    explicit LocalArchiveSource(const FilePath& path);

    std::uint64_t size() const override { return length; }
    std::uint32_t readAt(std::uint64_t offset, void* buffer, std::uint32_t length) override;
    void willNeed(std::uint64_t offset, std::uint64_t length) override;
    std::string version() const override { return stamp; }

private:
    std::unique_ptr<FilePlatform> file;
    std::uint64_t length = 0;
    std::string stamp;
};

} // namespace filedriver
