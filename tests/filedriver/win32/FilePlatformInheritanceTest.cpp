// Which handles a child process gets, seen in what the child's copy keeps: an ordinary file stays open
// (and so cannot be deleted) after this process closed it; the temporary file does not outlive its one
// handle.
#include "filedriver/FilePlatform.h"

#include "support/HeldChild.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Points GetTempPathW at `directory` for the test.
class TemporaryDirectory {
public:
    explicit TemporaryDirectory(const fs::path& directory)
    {
        for (const wchar_t* name : {L"TMP", L"TEMP"}) {
            wchar_t value[MAX_PATH];
            const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
            saved.emplace_back(name, length > 0 && length < MAX_PATH ? std::optional<std::wstring>(value) : std::nullopt);
            SetEnvironmentVariableW(name, directory.wstring().c_str());
        }
    }
    ~TemporaryDirectory()
    {
        for (const auto& [name, value] : saved)
            SetEnvironmentVariableW(name.c_str(), value ? value->c_str() : nullptr);
    }

private:
    std::vector<std::pair<std::wstring, std::optional<std::wstring>>> saved;
};

TEST(FilePlatformInheritance, ChildrenGetOrdinaryFilesButNeverTheTemporaryFile)
{
    testsupport::TempDir tmp;
    TemporaryDirectory inside(tmp.path());
    tmp.writeFile(L"read", "r");
    std::optional<testsupport::HeldChild> child;
    {
        filedriver::FilePlatform reading(tmp.wide(L"read"), filedriver::OpenRead);
        filedriver::FilePlatform creating(tmp.wide(L"created"), filedriver::CreateReadWrite);
        filedriver::FilePlatform temporary(L"", filedriver::Temporary);
        ASSERT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 3);
        child.emplace();
    }
    // Ours are closed; only the child's copies remain, opened without delete sharing.
    for (const wchar_t* name : {L"read", L"created"}) {
        EXPECT_FALSE(DeleteFileW(tmp.wide(name).c_str())) << name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << name;
    }
    std::set<std::wstring> names;
    for (const auto& entry : fs::directory_iterator(tmp.path()))
        names.insert(entry.path().filename().wstring());
    EXPECT_EQ(names, (std::set<std::wstring>{L"created", L"read"}));

    child.reset();
    EXPECT_TRUE(DeleteFileW(tmp.wide(L"read").c_str()));
}

} // namespace
