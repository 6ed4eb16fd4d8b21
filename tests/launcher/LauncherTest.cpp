#include "launcher/Launcher.h"

#include "filedriver/ArchiveWriter.h"
#include "launcher/SettingsStore.h"
#include "orva/Log.h"
#include "orva/WideText.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::wstring sep(1, filedriver::Separators[0]);

// The executable's directory as Qt reports it: '/' separators, no trailing one.
std::wstring qtForm(const fs::path& directory)
{
    return directory.generic_wstring();
}

// The block the engine must see, built independently of the launcher's own helpers.
RunParameters expectedBlock(const std::wstring& atlas, const std::wstring& import)
{
    RunParameters block;
    std::memset(&block, 0, sizeof block);
    block.word1 = 1;
    const std::u16string atlasUnits = orva::toUtf16(atlas);
    const std::u16string importUnits = orva::toUtf16(import);
    std::memcpy(block.atlasPath, atlasUnits.data(), atlasUnits.size() * sizeof(char16_t));
    std::memcpy(block.importPath, importUnits.data(), importUnits.size() * sizeof(char16_t));
    return block;
}

void expectSameBytes(const RunParameters& actual, const RunParameters& expected)
{
    const auto* a = reinterpret_cast<const unsigned char*>(&actual);
    const auto* e = reinterpret_cast<const unsigned char*>(&expected);
    for (std::size_t i = 0; i < sizeof(RunParameters); ++i)
        if (a[i] != e[i]) {
            ADD_FAILURE() << "block differs first at byte " << i << ": " << int(a[i]) << " instead of " << int(e[i]);
            return;
        }
}

// One run of the flow with a scripted folder dialog and an engine that records its block.
class Launch {
public:
    explicit Launch(std::vector<std::wstring> answers = {}) : answers(std::move(answers)) {}

    int run(const std::wstring& applicationDir)
    {
        launcher::LauncherHost host;
        host.applicationDir = applicationDir;
        host.noDialogReason = noDialogReason;
        host.pickFolder = [this](const char* caption, const std::wstring& startDir) {
            captions.emplace_back(caption);
            startDirs.push_back(startDir);
            if (dialogs() > answers.size()) {
                ADD_FAILURE() << "a dialog nobody expected";
                return std::wstring();
            }
            return answers[dialogs() - 1];
        };
        host.runEngine = [this](RunParameters* parameters) {
            ++engineCalls;
            std::memcpy(&block, parameters, sizeof block);
            return engineResult;
        };
        return launcher::runLauncher(launcher::settings, host);
    }

    std::size_t dialogs() const { return startDirs.size(); }

    std::vector<std::wstring> answers;
    std::wstring noDialogReason;
    std::vector<std::string> captions;
    std::vector<std::wstring> startDirs;
    int engineCalls = 0;
    int engineResult = 0;
    RunParameters block{};
};

// Where the error log goes for the length of a test, to read what was logged.
class CapturedLog {
public:
    CapturedLog() : saved(orva::errorLog.file)
    {
        orva::errorLog.file = std::fopen((dir.path() / "log.txt").string().c_str(), "wb");
    }
    ~CapturedLog() { restore(); }
    std::string text()
    {
        restore();
        return testsupport::readFile(dir.path() / "log.txt");
    }

private:
    void restore()
    {
        if (orva::errorLog.file != saved) {
            std::fclose(orva::errorLog.file);
            orva::errorLog.file = saved;
        }
    }
    testsupport::TempDir dir;
    std::FILE* saved;
};

class LauncherFlow : public testing::Test {
protected:
    void setAtlas(const std::wstring& value) { store.setString(launcher::productName, L"Atlas", value); }

    SettingsStore store;
    testsupport::TempDir dir;
    std::wstring appDir = qtForm(dir.path() / "app");
    std::wstring besideExecutable = dir.wide(L"app") + sep + L"import";

    void SetUp() override { fs::create_directories(dir.path() / "app"); }
};

// ---- the import directory

TEST_F(LauncherFlow, WithoutAtlasTheImportDirectoryIsCreatedBesideTheExecutable)
{
    Launch launch;
    EXPECT_EQ(launch.run(appDir), 0);
    EXPECT_EQ(launch.dialogs(), 0u);
    EXPECT_EQ(launch.engineCalls, 1);
    EXPECT_TRUE(fs::is_directory(dir.path() / "app" / "import"));
    expectSameBytes(launch.block, expectedBlock(L"", besideExecutable));
}

TEST_F(LauncherFlow, MissingParentsOfTheImportDirectoryAreCreated)
{
    Launch launch;
    EXPECT_EQ(launch.run(qtForm(dir.path() / "deep" / "er" / "app")), 0);
    EXPECT_TRUE(fs::is_directory(dir.path() / "deep" / "er" / "app" / "import"));
}

TEST_F(LauncherFlow, AnExistingImportDirectoryCountsAsCreated)
{
    fs::create_directories(dir.path() / "app" / "import");
    Launch launch;
    EXPECT_EQ(launch.run(appDir), 0);
    EXPECT_EQ(launch.dialogs(), 0u);
    expectSameBytes(launch.block, expectedBlock(L"", besideExecutable));
}

TEST_F(LauncherFlow, AnImportThatIsAFileBringsTheDialogStartingBesideTheExecutable)
{
    dir.writeFile(L"app/import", "not a directory");
    fs::create_directories(dir.path() / "chosen");
    Launch launch({qtForm(dir.path() / "chosen")});
    EXPECT_EQ(launch.run(appDir), 0);
    ASSERT_EQ(launch.dialogs(), 1u);
    EXPECT_EQ(launch.captions[0], "Select root path for user data\n(where will be created 'import' subdirectory)");
    EXPECT_EQ(launch.startDirs[0], appDir);
    expectSameBytes(launch.block, expectedBlock(L"", dir.wide(L"chosen") + sep + L"import"));
}

TEST_F(LauncherFlow, TheDialogComesAgainUntilCreationSucceedsAlwaysStartingBesideTheExecutable)
{
    dir.writeFile(L"app/import", "");
    dir.writeFile(L"blocked/import", "");
    fs::create_directories(dir.path() / "good");
    Launch launch({qtForm(dir.path() / "blocked"), qtForm(dir.path() / "good") + L"/"});
    EXPECT_EQ(launch.run(appDir), 0);
    ASSERT_EQ(launch.dialogs(), 2u);
    EXPECT_EQ(launch.startDirs[1], appDir);
    // The chosen folder's trailing separator is not doubled.
    expectSameBytes(launch.block, expectedBlock(L"", dir.wide(L"good") + sep + L"import"));
}

TEST_F(LauncherFlow, CancellingTheFirstDialogEndsWithoutTheEngine)
{
    dir.writeFile(L"app/import", "");
    Launch launch({L""});
    EXPECT_EQ(launch.run(appDir), -1);
    EXPECT_EQ(launch.engineCalls, 0);
}

TEST_F(LauncherFlow, CancellingALaterDialogEndsWithoutTheEngine)
{
    dir.writeFile(L"app/import", "");
    dir.writeFile(L"blocked/import", "");
    Launch launch({qtForm(dir.path() / "blocked"), L""});
    EXPECT_EQ(launch.run(appDir), -1);
    EXPECT_EQ(launch.dialogs(), 2u);
    EXPECT_EQ(launch.engineCalls, 0);
}

// ---- where no dialog can be shown

TEST_F(LauncherFlow, WithoutADialogAFailedImportEndsAsCancelledWithOneLine)
{
    dir.writeFile(L"app/import", "");
    CapturedLog log;
    Launch launch;
    launch.noDialogReason = L"no screen here";
    EXPECT_EQ(launch.run(appDir), -1);
    EXPECT_EQ(launch.dialogs(), 0u);
    EXPECT_EQ(launch.engineCalls, 0);
    const std::string text = log.text();
    const std::string expected = "'" + orva::toNative(besideExecutable)
                                 + "' cannot be created, so a folder would have been asked for, but no dialog "
                                   "can be shown: no screen here\n";
    ASSERT_EQ(text.rfind("ERR ", 0), 0u) << text;
    // "ERR yyyy/mm/dd hh:mm:ss " and the text, one line.
    EXPECT_EQ(text.substr(24), expected);
}

TEST_F(LauncherFlow, WithoutADialogTheOtherOutcomesAreUnchanged)
{
    dir.writeFile(L"maps/atlas.dat", "data");
    for (const bool withAtlas : {false, true}) {
        SCOPED_TRACE(withAtlas);
        setAtlas(withAtlas ? dir.wide(L"maps/atlas.dat") : L"");
        CapturedLog log;
        Launch launch;
        launch.noDialogReason = L"no screen here";
        EXPECT_EQ(launch.run(appDir), 0);
        EXPECT_EQ(launch.engineCalls, 1);
        EXPECT_EQ(log.text(), "");
        expectSameBytes(launch.block, withAtlas ? expectedBlock(dir.wide(L"maps/atlas.dat"), L"")
                                                : expectedBlock(L"", besideExecutable));
    }
}

TEST_F(LauncherFlow, AChosenRootGivesImportRightBelowIt)
{
    const fs::path root = dir.path().root_path();
    const fs::path import = root / "import";
    std::error_code error;
    const bool existed = fs::exists(import, error);
    if (existed && !fs::is_directory(import))
        GTEST_SKIP() << "the root holds a file named import";
    dir.writeFile(L"app/import", "");
    Launch launch({qtForm(root), L""});
    const int result = launch.run(appDir);
    if (!existed)
        fs::remove(import, error);
    if (result == -1)
        GTEST_SKIP() << "the root is not writable here";
    std::wstring rootText = root.wstring();
    for (wchar_t& c : rootText)
        if (c == L'/' || c == L'\\')
            c = filedriver::Separators[0];
    expectSameBytes(launch.block, expectedBlock(L"", rootText + L"import"));
}

TEST_F(LauncherFlow, AnImportPathTooLongForTheEngineCountsAsFailedCreation)
{
    CapturedLog log;
    const std::wstring longDir = qtForm(dir.path() / std::wstring(390, L'x'));
    fs::create_directories(dir.path() / "short");
    Launch launch({qtForm(dir.path() / "short")});
    EXPECT_EQ(launch.run(longDir), 0);
    EXPECT_EQ(launch.dialogs(), 1u);
    std::error_code error;
    EXPECT_FALSE(fs::exists(dir.path() / std::wstring(390, L'x'), error));
    expectSameBytes(launch.block, expectedBlock(L"", dir.wide(L"short") + sep + L"import"));
    EXPECT_NE(log.text().find("ERR "), std::string::npos);
}

TEST_F(LauncherFlow, PathsOutsideAsciiReachTheEngineAsUtf16)
{
    const std::wstring name = L"Stra\u00DFe \u65E5\u672C";
    // From UTF-16, which the library converts without asking the C locale.
    const fs::path app = dir.path() / fs::path(orva::toUtf16(name));
    Launch launch;
    EXPECT_EQ(launch.run(qtForm(dir.path()) + L"/" + name), 0);
    EXPECT_TRUE(fs::is_directory(app / "import"));
    expectSameBytes(launch.block, expectedBlock(L"", dir.wide() + sep + name + sep + L"import"));
}

TEST_F(LauncherFlow, TheEngineResultIsTheExitCode)
{
    Launch launch;
    launch.engineResult = 42;
    EXPECT_EQ(launch.run(appDir), 42);
}

// ---- the atlas

TEST_F(LauncherFlow, AnExistingAtlasFileGoesToTheEngineExactlyAsRead)
{
    dir.writeFile(L"maps/atlas.dat", "data");
    // Mixed separators stay as they were read.
    const std::wstring atlas = dir.wide(L"maps") + L"/atlas.dat";
    setAtlas(atlas);
    Launch launch;
    EXPECT_EQ(launch.run(appDir), 0);
    EXPECT_EQ(launch.dialogs(), 0u);
    EXPECT_FALSE(fs::exists(dir.path() / "app" / "import"));
    expectSameBytes(launch.block, expectedBlock(atlas, L""));
}

TEST_F(LauncherFlow, AnArchiveFileItselfIsAnOrdinaryAtlasFile)
{
    dir.writeFile(L"maps/europe.mca", "whatever");
    setAtlas(dir.wide(L"maps/europe.mca"));
    Launch launch;
    EXPECT_EQ(launch.run(appDir), 0);
    expectSameBytes(launch.block, expectedBlock(dir.wide(L"maps/europe.mca"), L""));
}

TEST_F(LauncherFlow, AnAtlasInsideAnArchiveGoesToTheEngineWhenTheMemberExists)
{
    fs::create_directories(dir.path() / "maps");
    ASSERT_TRUE(filedriver::writeArchive(dir.wide(L"maps/europe.mca"), {{L"roads.dat", {1, 2, 3}}}, {}));
    // Directories between the archive and the member name are not looked at.
    const std::wstring atlas = dir.wide(L"maps/europe.mca") + sep + L"any" + sep + L"roads.dat";
    setAtlas(atlas);
    Launch launch;
    EXPECT_EQ(launch.run(appDir), 0);
    expectSameBytes(launch.block, expectedBlock(atlas, L""));
}

TEST_F(LauncherFlow, ArchiveNamesInsideDirectoryNamesAreNoArchives)
{
    dir.writeFile(L"x.mca.d/roads.dat", "data");
    fs::create_directories(dir.path() / "maps.mca.old");
    ASSERT_TRUE(filedriver::writeArchive(dir.wide(L"maps.mca.old/europe.mca"), {{L"roads.dat", {1}}}, {}));
    for (const std::wstring& atlas : {dir.wide(L"x.mca.d/roads.dat"), dir.wide(L"maps.mca.old/europe.mca") + sep + L"roads.dat"}) {
        setAtlas(atlas);
        Launch launch;
        EXPECT_EQ(launch.run(appDir), 0);
        expectSameBytes(launch.block, expectedBlock(atlas, L""));
    }
}

TEST_F(LauncherFlow, AnAtlasThatIsNoExistingFileGivesTheImportDirectory)
{
    fs::create_directories(dir.path() / "maps");
    ASSERT_TRUE(filedriver::writeArchive(dir.wide(L"maps/europe.mca"), {{L"roads.dat", {1}}}, {}));
    dir.writeFile(L"maps/damaged.mca", "not an archive at all, but long enough to hold a header of sixty bytes");
    const std::wstring unusable[] = {
        dir.wide(L"maps"),                               // a directory
        dir.wide(L"maps/missing.dat"),                   // no such file
        dir.wide(L"maps/none.mca") + sep + L"roads.dat", // through an archive that is not there
        dir.wide(L"maps/europe.mca") + sep + L"Roads.dat",   // letter case counts
        dir.wide(L"maps/europe.mca") + sep + L"rivers.dat",  // no such member
        dir.wide(L"maps/damaged.mca") + sep + L"roads.dat",  // not an archive
    };
    for (const std::wstring& atlas : unusable) {
        setAtlas(atlas);
        Launch launch;
        EXPECT_EQ(launch.run(appDir), 0);
        expectSameBytes(launch.block, expectedBlock(L"", besideExecutable));
    }
}

TEST_F(LauncherFlow, AnAtlasTooLongForTheEngineIsNotUsed)
{
    // One unit too many and far too many are read and refused with a log line; beyond the settings
    // store's 4095 characters the value reads as unset.
    const std::pair<std::size_t, bool> rows[] = {{384, true}, {4000, true}, {10000, false}};
    for (const auto& [length, logged] : rows) {
        SCOPED_TRACE(length);
        CapturedLog log;
        const std::wstring base = dir.wide(L"") + sep;
        setAtlas(base + std::wstring(length - orva::toUtf16(base).size(), L'a'));
        Launch launch;
        EXPECT_EQ(launch.run(appDir), 0);
        expectSameBytes(launch.block, expectedBlock(L"", besideExecutable));
        const std::string text = log.text();
        EXPECT_EQ(text.rfind("ERR ", 0) == 0 && text.find("Atlas") != std::string::npos, logged) << text;
    }
}

TEST_F(LauncherFlow, AnAtlasOf383UnitsStillFits)
{
    const std::wstring base = dir.wide(L"") + sep;
    const std::size_t missing = 383 - orva::toUtf16(base).size();
    // Components of at most 200 characters, as file systems allow.
    const std::wstring relative = std::wstring(200, L'd') + sep + std::wstring(missing - 201, L'f');
    std::error_code error;
    fs::create_directories(fs::path(base + std::wstring(200, L'd')), error);
    dir.writeFile(relative, "x");
    if (!fs::exists(fs::path(base + relative), error))
        GTEST_SKIP() << "this file system takes no path of 383 characters";
    setAtlas(base + relative);
    Launch launch;
    EXPECT_EQ(launch.run(appDir), 0);
    expectSameBytes(launch.block, expectedBlock(base + relative, L""));
}

} // namespace
