#include "dataGleaner/dataGleaner.h"

#include "filedriver/ArchiveWriter.h"
#include "orva/WideText.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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

// crc32 of "hello"
constexpr char helloLine[] = " (5 bytes, crc32 3610a686)\n";

TEST(RunGleaner, AnAtlasFileIsReadWholeThroughTheLibrary)
{
    testsupport::TempDir dir;
    dir.writeFile(L"atlas.dat", "hello");
    RunParameters block = launcherBlock();
    launcher::setPath(block.atlasPath, dir.wide(L"atlas.dat"));
    const Outcome outcome = run(block);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.out, "dataGleaner: atlas " + orva::toNative(dir.wide(L"atlas.dat")) + helloLine);
    EXPECT_EQ(outcome.err, "");
}

TEST(RunGleaner, AnAtlasInsideAnArchiveIsReadAsItsMember)
{
    testsupport::TempDir dir;
    const std::wstring archive = dir.wide(L"europe.mca");
    filedriver::ArchiveWriterOptions options;
    options.blockSize = 2;
    ASSERT_TRUE(filedriver::writeArchive(archive, {{L"other", {'x'}}, {L"roads.dat", {'h', 'e', 'l', 'l', 'o'}}},
                                         options));
    const std::wstring atlas = archive + filedriver::Separators[0] + L"roads.dat";
    RunParameters block = launcherBlock();
    launcher::setPath(block.atlasPath, atlas);
    EXPECT_EQ(run(block).out, "dataGleaner: atlas " + orva::toNative(atlas) + helloLine);
}

TEST(RunGleaner, AnAtlasBelowADirectoryNamedLikeAnArchiveIsAPlainFile)
{
    testsupport::TempDir dir;
    dir.writeFile(L"x.mca.d/roads.dat", "hello");
    RunParameters block = launcherBlock();
    launcher::setPath(block.atlasPath, dir.wide(L"x.mca.d/roads.dat"));
    EXPECT_EQ(run(block).out, "dataGleaner: atlas " + orva::toNative(dir.wide(L"x.mca.d/roads.dat")) + helloLine);
}

TEST(RunGleaner, AnAtlasThatCannotBeReadFailsWithOneAndTheLibrarysMessage)
{
    testsupport::TempDir dir;
    RunParameters block = launcherBlock();
    launcher::setPath(block.atlasPath, dir.wide(L"missing.dat"));
    const Outcome outcome = run(block);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_NE(outcome.err.find("dataGleaner: orvana exception: can't open file '"
                               + orva::toNative(dir.wide(L"missing.dat")) + "'\n"),
              std::string::npos)
        << outcome.err;
}

TEST(RunGleaner, AnAtlasPathOutsideAsciiComesOutInNativeText)
{
    testsupport::TempDir dir;
    const std::wstring name = L"stra\u00DFe.dat";
    std::ofstream(dir.path() / std::filesystem::path(orva::toUtf16(name)), std::ios::binary) << "hello";
    RunParameters block = launcherBlock();
    launcher::setPath(block.atlasPath, dir.wide() + filedriver::Separators[0] + name);
    EXPECT_EQ(run(block).out, "dataGleaner: atlas " + orva::toNative(dir.wide() + filedriver::Separators[0] + name)
                                  + helloLine);
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
