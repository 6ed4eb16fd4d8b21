// Each kind of failure a reader of the library meets, from a real case, with what the kind carries.
#include "filedriver/ArchiveInfo.h"
#include "filedriver/ArchiveWriter.h"
#include "filedriver/FileDriver.h"
#include "filedriver/MemberReader.h"
#include "orva/WideText.h"
#include "support/Caught.h"
#include "support/SampleBytes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace filedriver;
using testsupport::caught;
using Members = std::vector<std::pair<std::wstring, ByteBuffer>>;

constexpr std::uint32_t blockSize = 4096;

std::wstring inside(const std::wstring& archive, const std::wstring& member)
{
    return archive + Separators[0] + member;
}

std::wstring makeArchive(const testsupport::TempDir& tmp, const std::wstring& name, const Members& members)
{
    ArchiveWriterOptions options;
    options.blockSize = blockSize;
    EXPECT_TRUE(writeArchive(tmp.wide(name), members, options));
    return tmp.wide(name);
}

void readWhole(const std::wstring& path, std::uint32_t mode)
{
    FileDriver file(path, mode);
    std::vector<char> piece(3000);
    while (file.read(piece.data(), static_cast<std::uint32_t>(piece.size())) > 0) {
    }
}

TEST(FailureKinds, AMissingFileArchiveOrMemberIsNotFound)
{
    testsupport::TempDir tmp;
    const std::wstring archive = makeArchive(tmp, L"a.mca", {{L"roads.dat", testsupport::sampleBytes(100, 1)}});
    struct Row {
        const char* what;
        std::wstring path;
        const char* text;
    } const rows[] = {
        {"plain file", tmp.wide(L"none.dat"), "can't open file"},
        {"a directory on the way", tmp.wide(L"no") + Separators[0] + L"x.dat", "can't open file"},
        {"archive", inside(tmp.wide(L"none.mca"), L"roads.dat"), "ArchiveManager: archive"},
        {"member", inside(archive, L"Roads.dat"), "ArchiveCursor: file"},
    };
    for (const Row& row : rows) {
        for (const std::uint32_t mode : {OpenRead, OpenReadBuffered}) {
            const testsupport::Caught failure = caught([&] { FileDriver file(row.path, mode); });
            EXPECT_EQ(failure.kind, orva::ErrorKind::NotFound) << row.what << ": " << failure.what;
            EXPECT_EQ(failure.systemError, 0) << row.what;
            EXPECT_EQ(failure.block, -1) << row.what;
            EXPECT_NE(failure.what.find(row.text), std::string::npos) << failure.what;
        }
    }
    EXPECT_EQ(caught([&] { ArchiveInfo info(tmp.wide(L"none.mca")); }).kind, orva::ErrorKind::NotFound);
    EXPECT_EQ(caught([&] { MemberReader reader(inside(archive, L"none"), 2); }).kind, orva::ErrorKind::NotFound);
}

TEST(FailureKinds, AFlippedByteInABlockIsDamagedAndNamesTheBlock)
{
    testsupport::TempDir tmp;
    const std::wstring archive =
        makeArchive(tmp, L"d.mca", {{L"head", testsupport::sampleBytes(100, 2)},
                                    {L"body", testsupport::sampleBytes(6 * blockSize, 3)}});
    const StoredExtent stored = ArchiveInfo(archive).storedBlock(3);
    std::string bytes = testsupport::readFile(tmp.path() / "d.mca");
    // The stream's checksum: the block still inflates, to bytes that are not its own.
    bytes[stored.offset + stored.size - 1] ^= 0x40;
    tmp.writeFile(L"d.mca", bytes);
    releaseArchive(archive);

    for (const std::uint32_t mode : {OpenRead, OpenReadBuffered}) {
        const testsupport::Caught failure = caught([&] { readWhole(inside(archive, L"body"), mode); });
        EXPECT_EQ(failure.kind, orva::ErrorKind::Damaged) << failure.what;
        EXPECT_EQ(failure.block, 3) << mode;
        EXPECT_EQ(failure.systemError, 0);
        EXPECT_EQ(failure.what.rfind("orvana exception: ArchiveCursor.read: integrity failed ", 0), 0u) << failure.what;
    }
    for (const unsigned threads : {1u, 2u}) {
        const testsupport::Caught failure = caught([&] {
            MemberReader reader(inside(archive, L"body"), threads);
            std::vector<char> piece(5000);
            while (reader.read(piece.data(), static_cast<std::uint32_t>(piece.size())) > 0) {
            }
        });
        EXPECT_EQ(failure.kind, orva::ErrorKind::Damaged) << threads << " threads";
        EXPECT_EQ(failure.block, 3) << threads << " threads";
    }
    // The member before it shares no damaged block.
    EXPECT_FALSE(caught([&] { readWhole(inside(archive, L"head"), OpenRead); }).thrown);
}

TEST(FailureKinds, AnArchiveRewrittenOnDiskWithOtherTablesIsChanged)
{
    testsupport::TempDir tmp;
    const std::wstring archive = makeArchive(tmp, L"c.mca", {{L"roads.dat", testsupport::sampleBytes(5000, 4)}});
    readWhole(inside(archive, L"roads.dat"), OpenRead);
    makeArchive(tmp, L"c.mca", {{L"roads.dat", testsupport::sampleBytes(7000, 4)}});
    const testsupport::Caught failure = caught([&] { readWhole(inside(archive, L"roads.dat"), OpenRead); });
    EXPECT_EQ(failure.kind, orva::ErrorKind::Changed);
    EXPECT_EQ(failure.what, "orvana exception: " + orva::toNative(archive) + " : file changed since its index was loaded");
    EXPECT_EQ(failure.block, -1);
    EXPECT_EQ(failure.systemError, 0);
    EXPECT_TRUE(releaseArchive(archive));
}

TEST(FailureKinds, AFileOfAnotherFormatIsUnsupported)
{
    testsupport::TempDir tmp;
    tmp.writeFile(L"notes.mca", "These are notes, written by hand, and no archive at all.\n" + std::string(100, '.'));
    const testsupport::Caught failure = caught([&] { FileDriver file(inside(tmp.wide(L"notes.mca"), L"x"), OpenRead); });
    EXPECT_EQ(failure.kind, orva::ErrorKind::Unsupported) << failure.what;
    EXPECT_NE(failure.what.find("not in OrvaArchive format?"), std::string::npos) << failure.what;
}

// Linux: EISDIR; Windows: ERROR_ACCESS_DENIED. The platform halves check the numbers of their cases.
TEST(FailureKinds, ADirectoryOpenedAsAFileIsASystemFailureWithTheSystemsNumber)
{
    testsupport::TempDir tmp;
    std::filesystem::create_directory(tmp.path() / "dir");
    for (const std::uint32_t mode : {OpenRead, OpenReadWrite, OpenReadBuffered}) {
        const testsupport::Caught failure = caught([&] { FileDriver file(tmp.wide(L"dir"), mode); });
        EXPECT_EQ(failure.kind, orva::ErrorKind::System) << failure.what;
        EXPECT_NE(failure.systemError, 0) << mode;
    }
}

TEST(FailureKinds, RefusedRequestsOfTheCallerAreOther)
{
    testsupport::TempDir tmp;
    tmp.writeFile(L"plain.dat", "x");
    EXPECT_EQ(caught([&] { FileDriver file(tmp.wide(L"plain.dat"), 2); }).kind, orva::ErrorKind::Other);
    ArchiveWriterOptions noBlocks;
    noBlocks.blockSize = 0;
    EXPECT_EQ(caught([&] { ArchiveWriter writer(tmp.wide(L"w.mca"), {}, noBlocks); }).kind, orva::ErrorKind::Other);
}

} // namespace
