// Which descriptors a child process gets: ordinary files, as Windows handles are inherited, but never
// the temporary file, which the child would keep alive.
#include "filedriver/FilePlatform.h"

#include "support/HeldChild.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// What the descriptors of process `id` ("self" for this one) lead to.
std::vector<std::string> openFilesOf(const std::string& id)
{
    std::vector<std::string> targets;
    for (const auto& entry : fs::directory_iterator("/proc/" + id + "/fd")) {
        std::error_code gone;
        targets.push_back(fs::read_symlink(entry.path(), gone).string());
    }
    return targets;
}

std::size_t countOf(const std::vector<std::string>& targets, const std::string& file)
{
    return std::count(targets.begin(), targets.end(), file);
}

std::size_t temporaryFilesIn(const std::vector<std::string>& targets)
{
    return std::count_if(targets.begin(), targets.end(), [](const std::string& target) {
        return fs::path(target).filename().string().starts_with("orv") && target.ends_with(" (deleted)");
    });
}

TEST(FilePlatformInheritance, ChildrenGetOrdinaryFilesButNeverTheTemporaryFile)
{
    if (!fs::exists("/proc/self/fd"))
        GTEST_SKIP() << "no /proc here to see a child's descriptors";
    testsupport::TempDir tmp;
    tmp.writeFile(L"read", "r");
    const std::string read = (tmp.path() / "read").string(), created = (tmp.path() / "created").string();
    filedriver::FilePlatform reading(tmp.wide(L"read"), filedriver::OpenRead);
    filedriver::FilePlatform creating(tmp.wide(L"created"), filedriver::CreateReadWrite);
    filedriver::FilePlatform temporary(L"", filedriver::Temporary);
    ASSERT_EQ(temporaryFilesIn(openFilesOf("self")), 1u);

    testsupport::HeldChild child;
    const std::vector<std::string> inherited = openFilesOf(std::to_string(child.id()));
    EXPECT_EQ(countOf(inherited, read), 1u);
    EXPECT_EQ(countOf(inherited, created), 1u);
    EXPECT_EQ(temporaryFilesIn(inherited), 0u);
}

} // namespace
