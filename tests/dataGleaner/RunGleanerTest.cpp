#include "dataGleaner/dataGleaner.h"

#include "orva/WideText.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

struct Outcome {
    int result;
    std::string out;
    std::string err;
};

Outcome run(RunParameters& block)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int result = runGleaner(&block);
    Outcome outcome{result, testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
    return outcome;
}

RunParameters launcherBlock()
{
    RunParameters block{};
    block.word1 = 1;
    return block;
}

TEST(RunGleaner, AnAtlasBlockPrintsTheAtlasLine)
{
    RunParameters block = launcherBlock();
    launcher::setPath(block.atlasPath, L"D:\\maps\\europe.mca\\roads.dat");
    const Outcome outcome = run(block);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.out, "dataGleaner: atlas D:\\maps\\europe.mca\\roads.dat\n");
    EXPECT_EQ(outcome.err, "");
}

TEST(RunGleaner, AnAtlasPathOutsideAsciiComesOutInNativeText)
{
    const std::wstring path = L"/karten/stra\u00DFe.dat";
    RunParameters block = launcherBlock();
    launcher::setPath(block.atlasPath, path);
    EXPECT_EQ(run(block).out, "dataGleaner: atlas " + orva::toNative(path) + "\n");
}

TEST(RunGleaner, AnImportBlockCountsOnlyTheRegularFilesDirectlyInside)
{
    testsupport::TempDir dir;
    dir.writeFile(L"import/a.txt", "a");
    dir.writeFile(L"import/b.txt", "");
    dir.writeFile(L"import/c", "c");
    dir.writeFile(L"import/sub/deeper.txt", "not counted");
    RunParameters block = launcherBlock();
    launcher::setPath(block.importPath, dir.wide(L"import"));
    const Outcome outcome = run(block);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.out, "dataGleaner: import " + orva::toNative(dir.wide(L"import")) + " (3 files)\n");
}

TEST(RunGleaner, AMissingImportDirectoryFailsWithOne)
{
    testsupport::TempDir dir;
    RunParameters block = launcherBlock();
    launcher::setPath(block.importPath, dir.wide(L"missing"));
    const Outcome outcome = run(block);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err.rfind("dataGleaner: ", 0), 0u) << outcome.err;
}

struct BrokenBlock {
    const char* why;
    void (*breakIt)(RunParameters&);
};

const BrokenBlock brokenBlocks[] = {
    {"neither path", [](RunParameters&) {}},
    {"both paths",
     [](RunParameters& b) {
         launcher::setPath(b.atlasPath, L"a");
         launcher::setPath(b.importPath, L"b");
     }},
    {"word1 not 1", [](RunParameters& b) { launcher::setPath(b.atlasPath, L"a"), b.word1 = 2; }},
    {"word2 not 0", [](RunParameters& b) { launcher::setPath(b.atlasPath, L"a"), b.word2 = 1; }},
    {"word3 not 0", [](RunParameters& b) { launcher::setPath(b.atlasPath, L"a"), b.word3 = -1; }},
    {"reservedPath set",
     [](RunParameters& b) {
         launcher::setPath(b.atlasPath, L"a");
         launcher::setPath(b.reservedPath, L"r");
     }},
    {"unterminated path",
     [](RunParameters& b) {
         for (char16_t& unit : b.atlasPath)
             unit = u'x';
     }},
};

TEST(RunGleaner, ABlockThatBreaksTheContractIsRefusedWithTwo)
{
    for (const BrokenBlock& broken : brokenBlocks) {
        RunParameters block = launcherBlock();
        broken.breakIt(block);
        const Outcome outcome = run(block);
        EXPECT_EQ(outcome.result, 2) << broken.why;
        EXPECT_EQ(outcome.out, "") << broken.why;
        EXPECT_EQ(outcome.err.rfind("dataGleaner: ", 0), 0u) << broken.why << ": " << outcome.err;
    }
}

} // namespace
