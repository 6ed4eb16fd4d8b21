#pragma once
// An archive file on a web server as an ArchiveSource: a RemoteFile opened on the archive part's URL
// (its query included). The version is the file's validator; every read is conditional on it, so a file
// replaced on the server is never read with the index of the one before.
//
// The constructor throws orva::exception of the remote failure's kind (remote/RemoteFailure.h). readAt
// throws too where the bytes cannot be had: a file changed on the server as an archive changed on disk
// (OrvaArchive::failChanged, kind Changed), every other failure with its own kind, so that a lost
// connection is not taken for a damaged block. willNeed fetches the span ahead (RemoteFile::willNeed),
// and the remote file reads ahead by itself for a reader going in order.

#include "filedriver/ArchiveSource.h"

#include <atomic>
#include <memory>

namespace filedriver {

namespace remote {
class RemoteFile;
}

class RemoteArchiveSource : public ArchiveSource {
public:
    explicit RemoteArchiveSource(const FilePath& path);
    ~RemoteArchiveSource() override;

    std::uint64_t size() const override;
    std::uint32_t readAt(std::uint64_t offset, void* buffer, std::uint32_t length) override;
    void willNeed(std::uint64_t offset, std::uint64_t length) override;
    std::string version() const override;
    bool changed() const override { return foundChanged; }
    void readingIndex(bool reading) override;
    bool keepAfterLoad() const override { return true; }

private:
    const FilePath path;
    std::unique_ptr<remote::RemoteFile> file;
    std::atomic<bool> foundChanged{false};
};

} // namespace filedriver
