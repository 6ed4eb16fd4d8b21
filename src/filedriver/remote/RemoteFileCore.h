#pragma once
// A plain file on a web server as an AFileCore, read only: what FileDriver opens for a URL that runs
// through no archive, bare in mode 1 or inside FileStream in mode 9. Positions are those of AFileCore;
// a file beyond 2 GiB shows its first 2 GiB.
//
// The constructor throws orva::exception: for a write mode "can't open file '<url>'" (kind Other), as a
// file that cannot be opened; for a file that cannot be read the remote failure's kind
// (remote/RemoteFailure.h), its message naming the URL without query or credentials. After that reads
// report failure as 0, never by throwing; readAt may run beside other readAt calls.

#include "filedriver/AFileCore.h"
#include "filedriver/FilePath.h"

#include <memory>

namespace filedriver {

namespace remote {
class RemoteFile;
}

class RemoteFileCore : public AFileCore {
public:
    RemoteFileCore(const FilePath& path, std::uint32_t mode);
    ~RemoteFileCore() override;

    std::int32_t seek(std::int32_t offset, std::int32_t origin) override;
    std::int32_t tell() override { return position; }
    std::int32_t size() override { return length; }
    std::uint32_t read(void* buffer, std::uint32_t count) override;
    std::uint32_t write(const void*, std::uint32_t) override { return 0; }
    const std::uint8_t* fetch(std::uint32_t count) override;
    void put(const void*, std::uint32_t) override {}
    std::uint32_t readAt(std::int64_t offset, void* buffer, std::uint32_t count) override;

private:
    std::unique_ptr<remote::RemoteFile> file;
    std::int32_t length = 0;
    std::int32_t position = 0;
    std::uint8_t scratch[16] = {};
};

} // namespace filedriver
