#pragma once
// A fresh directory in the system's temporary directory, removed with everything in it at the end of
// the test.

#include <filesystem>
#include <string>

namespace testsupport {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return root; }
    // `relative` below the directory, written with the platform's own separator.
    std::wstring wide(const std::wstring& relative = std::wstring()) const;
    // Writes `bytes` to the file `relative`, creating missing parents.
    void writeFile(const std::wstring& relative, const std::string& bytes) const;

private:
    std::filesystem::path root;
};

std::string readFile(const std::filesystem::path& path);

} // namespace testsupport
