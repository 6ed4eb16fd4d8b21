#include "launcher/RunParameters.h"

#include <gtest/gtest.h>

namespace {

TEST(RunParametersPaths, AFullBufferTakesAtMost383UnitsAndATerminator)
{
    RunParameters block{};
    EXPECT_TRUE(launcher::setPath(block.atlasPath, std::wstring(383, L'a')));
    EXPECT_EQ(block.atlasPath[382], u'a');
    EXPECT_EQ(block.atlasPath[383], u'\0');
    EXPECT_EQ(launcher::pathOf(block.atlasPath), std::wstring(383, L'a'));
}

TEST(RunParametersPaths, APathThatDoesNotFitIsRefusedAndNeverCut)
{
    RunParameters block{};
    launcher::setPath(block.importPath, L"previous");
    EXPECT_FALSE(launcher::fitsPathBuffer(std::wstring(384, L'a')));
    EXPECT_FALSE(launcher::setPath(block.importPath, std::wstring(384, L'a')));
    EXPECT_EQ(block.importPath[0], u'\0');
}

TEST(RunParametersPaths, CharactersOutsideTheBasicPlaneTakeTwoUnits)
{
    const std::wstring smiley = L"\U0001F600";
    RunParameters block{};
    // 381 + 2 units fit; 382 + 2 do not.
    EXPECT_TRUE(launcher::setPath(block.atlasPath, std::wstring(381, L'a') + smiley));
    EXPECT_EQ(block.atlasPath[381], u'\xD83D');
    EXPECT_EQ(block.atlasPath[382], u'\xDE00');
    EXPECT_EQ(launcher::pathOf(block.atlasPath), std::wstring(381, L'a') + smiley);
    EXPECT_FALSE(launcher::setPath(block.atlasPath, std::wstring(382, L'a') + smiley));
}

} // namespace
