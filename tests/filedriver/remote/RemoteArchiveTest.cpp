// URLs through the library's front doors (FileDriver, existsAware, ArchiveInfo, MemberReader) against the
// real nginx that http_server.sh runs around this program: plain remote files, members of remote
// archives, and the failure kinds they end in.
#include "filedriver/ArchiveInfo.h"
#include "filedriver/ArchiveLookup.h"
#include "filedriver/ArchiveWriter.h"
#include "filedriver/FileDriver.h"
#include "filedriver/MemberReader.h"
#include "orva/WideText.h"

#include "support/Caught.h"
#include "support/HttpTestServer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

using filedriver::FileDriver;
using filedriver::FilePath;
using testsupport::caught;
using testsupport::HttpTestServer;
using testsupport::patternBytes;

// Past the open's answer (its first 64 KiB and the 8 MiB that come on for a reader in order): a read
// there asks the server again.
constexpr std::size_t pastOpening = 8 * 1024 * 1024 + 64 * 1024;

void putVariable(const char* name, const std::string& value)
{
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

std::string readWhole(FileDriver& file)
{
    std::string bytes(static_cast<std::size_t>(std::max(file.size(), 0)), '\0');
    std::size_t done = 0;
    for (std::uint32_t got; done < bytes.size() && (got = file.read(bytes.data() + done, 5000)) > 0;)
        done += got;
    bytes.resize(done);
    return bytes;
}

class RemoteArchive : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = HttpTestServer::fromEnvironment();
        if (!server)
            GTEST_SKIP() << HttpTestServer::missingReason();
        // The library's readers take their settings from the environment, as a user's program does.
        putVariable("GLEANER_HTTP_CA_FILE", server->caFile().string());
        putVariable("GLEANER_HTTP_CACHE_MB", "0");
        putVariable("GLEANER_HTTP_RETRIES", "1");
        name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }

    // An archive of `members` made on disk, served as "/<name>.mca"; its bytes.
    std::string serveArchive(const std::vector<std::pair<std::wstring, std::string>>& members,
                             const std::string& served, std::uint32_t compression = 1)
    {
        std::vector<std::pair<std::wstring, filedriver::ByteBuffer>> buffers;
        for (const auto& [member, bytes] : members)
            buffers.emplace_back(member, filedriver::ByteBuffer(bytes.begin(), bytes.end()));
        filedriver::ArchiveWriterOptions options;
        options.blockSize = 16 * 1024;
        options.compressionType = compression;
        options.threads = 1;
        const auto local = server->scratch() / (served + ".mca");
        EXPECT_TRUE(filedriver::writeArchive(local.wstring(), buffers, options));
        std::ifstream in(local, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        server->putFile(served + ".mca", bytes.str());
        return bytes.str();
    }

    FilePath url(const std::string& path) const { return orva::fromUtf8(server->http(path)); }

    std::optional<HttpTestServer> server;
    std::string name;
};

TEST_F(RemoteArchive, PlainFilesAndMembersReadByteExactInBothReadModes)
{
    const std::string plain = patternBytes(300 * 1024, 3);
    const std::string roads = patternBytes(200 * 1024, 4);
    const std::string names = "Aachen\nBerlin\n";
    server->putFile(name + ".bin", plain);
    serveArchive({{L"roads.dat", roads}, {L"names.txt", names}}, name);

    for (const std::uint32_t mode : {filedriver::OpenRead, filedriver::OpenReadBuffered}) {
        SCOPED_TRACE(mode);
        FileDriver file(url("/" + name + ".bin"), mode);
        EXPECT_EQ(file.size(), static_cast<std::int32_t>(plain.size()));
        EXPECT_EQ(readWhole(file), plain);
        EXPECT_EQ(file.seek(-10, filedriver::SeekEnd), static_cast<std::int32_t>(plain.size() - 10));
        FileDriver member(url("/" + name + ".mca/roads.dat"), mode);
        EXPECT_EQ(readWhole(member), roads);
        FileDriver small(url("/" + name + ".mca/names.txt"), mode);
        EXPECT_EQ(readWhole(small), names);
    }

#ifndef _WIN32
    // Not under Wine: there, once a chain was built with the extra CA file, the TLS tests' case of an
    // unknown CA later in this process is let through (Wine seems to keep the root it found).
    FileDriver overTls(orva::fromUtf8(server->https("/" + name + ".mca/roads.dat")), filedriver::OpenReadBuffered);
    EXPECT_EQ(readWhole(overTls), roads);
#endif

    const filedriver::ArchiveInfo info(url("/" + name + ".mca"));
    EXPECT_EQ(info.memberCount(), 2u);
    filedriver::MemberReader reader(url("/" + name + ".mca/roads.dat"), 2);
    std::string viaReader(reader.size(), '\0');
    EXPECT_EQ(reader.read(viaReader.data(), reader.size()), roads.size());
    EXPECT_EQ(viaReader, roads);
}

TEST_F(RemoteArchive, ExistsAwareAnswersForUrls)
{
    server->putFile(name + ".bin", "x");
    serveArchive({{L"roads.dat", "abc"}}, name);
    EXPECT_TRUE(filedriver::fileExistsAware(url("/" + name + ".bin")));
    EXPECT_FALSE(filedriver::fileExistsAware(url("/" + name + "-missing.bin")));
    EXPECT_TRUE(filedriver::fileExistsAware(url("/" + name + ".mca/roads.dat")));
    EXPECT_FALSE(filedriver::fileExistsAware(url("/" + name + ".mca/rivers.dat")));
    EXPECT_FALSE(filedriver::fileExistsAware(url("/" + name + "-missing.mca/roads.dat")));
    EXPECT_FALSE(filedriver::directoryExistsAware(url("/" + name + ".bin")));
    // Upper-case scheme: still a URL.
    EXPECT_TRUE(filedriver::fileExistsAware(orva::fromUtf8("HTTP" + server->http("/" + name + ".bin").substr(4))));
}

TEST_F(RemoteArchive, WriteModesAreRefusedAsAFileThatCannotBeOpened)
{
    server->putFile(name + ".bin", "x");
    serveArchive({{L"roads.dat", "abc"}}, name);
    for (const std::uint32_t mode : {filedriver::OpenReadWrite, filedriver::CreateWrite, filedriver::CreateReadWrite,
                                     filedriver::CreateWriteBuffered, filedriver::Temporary}) {
        SCOPED_TRACE(mode);
        const auto plain = caught([&] { FileDriver file(url("/" + name + ".bin?tok=s3cret"), mode); });
        EXPECT_TRUE(plain.thrown);
        EXPECT_EQ(plain.what, "orvana exception: can't open file '" + server->http("/" + name + ".bin") + "'");
        const auto member = caught([&] { FileDriver file(url("/" + name + ".mca/roads.dat"), mode); });
        EXPECT_TRUE(member.thrown);
        EXPECT_NE(member.what.find("unsupported file opening mode"), std::string::npos) << member.what;
    }
}

TEST_F(RemoteArchive, FailuresArriveWithTheirKinds)
{
    std::string text;
    while (text.size() < 200 * 1024)
        text += "Aachen Berlin Chemnitz Dresden " + std::to_string(text.size()) + "\n";
    const std::string archive = serveArchive({{L"roads.dat", text}}, name);

    const auto member = caught([&] { FileDriver file(url("/" + name + ".mca/rivers.dat"), filedriver::OpenRead); });
    EXPECT_EQ(member.kind, orva::ErrorKind::NotFound) << member.what;
    const auto archiveMissing =
        caught([&] { FileDriver file(url("/" + name + "-gone.mca/roads.dat"), filedriver::OpenRead); });
    EXPECT_EQ(archiveMissing.kind, orva::ErrorKind::NotFound) << archiveMissing.what;
    const auto plainMissing = caught([&] { FileDriver file(url("/" + name + "-gone.bin"), filedriver::OpenRead); });
    EXPECT_EQ(plainMissing.kind, orva::ErrorKind::NotFound) << plainMissing.what;
    const auto unreachable = caught([&] { FileDriver file(FilePath(L"http://127.0.0.1:1/x.bin"), filedriver::OpenRead); });
    EXPECT_EQ(unreachable.kind, orva::ErrorKind::System) << unreachable.what;
    EXPECT_EQ(unreachable.systemError, 0);

    // A stored block overwritten on the server is damaged, with its number.
    const filedriver::ArchiveInfo info(url("/" + name + ".mca"));
    const auto extent = info.storedBlock(3);
    std::string flipped = archive;
    flipped.replace(static_cast<std::size_t>(extent.offset), extent.size, extent.size, '\xff');
    server->putFile(name + "-damaged.mca", flipped);
    const auto damaged = caught([&] {
        FileDriver file(url("/" + name + "-damaged.mca/roads.dat"), filedriver::OpenRead);
        readWhole(file);
    });
    EXPECT_EQ(damaged.kind, orva::ErrorKind::Damaged) << damaged.what;
    EXPECT_EQ(damaged.block, 3);
}

TEST_F(RemoteArchive, AnArchiveChangedOnTheServerFailsAsOneChangedOnDisk)
{
    const std::string roads = patternBytes(400 * 1024, 6);
    const std::string pad = patternBytes(pastOpening, 5);
    serveArchive({{L"pad.bin", pad}, {L"roads.dat", roads}}, name, 0);
    // Past the open's answer, so that reading it asks the server again.
    FileDriver file(url("/" + name + ".mca?tok=s3cret/roads.dat"), filedriver::OpenRead);
    serveArchive({{L"pad.bin", pad}, {L"roads.dat", patternBytes(400 * 1024, 7)}}, name, 0);
    std::string bytes(300 * 1024, '\0');
    const auto changed = caught([&] { file.read(bytes.data(), static_cast<std::uint32_t>(bytes.size())); });
    EXPECT_EQ(changed.kind, orva::ErrorKind::Changed) << changed.what;
    EXPECT_EQ(changed.what,
              "orvana exception: " + server->http("/" + name + ".mca") + " : file changed since its index was loaded");
}

TEST_F(RemoteArchive, APlainFileChangedOnTheServerReadsNothingMore)
{
    server->putFile(name + ".bin", patternBytes(pastOpening + 300 * 1024, 10));
    FileDriver file(url("/" + name + ".bin"), filedriver::OpenRead);
    server->putFile(name + ".bin", patternBytes(pastOpening + 300 * 1024, 11));
    std::string bytes(100 * 1024, '\0');
    const std::int32_t at = pastOpening + 200 * 1024;
    EXPECT_EQ(file.seek(at, filedriver::SeekBegin), at);
    EXPECT_EQ(file.read(bytes.data(), static_cast<std::uint32_t>(bytes.size())), 0u);
    EXPECT_EQ(file.tell(), at);
}

TEST_F(RemoteArchive, OpeningAnArchiveCostsOneRequestWhenItsIndexLiesInTheFirst64KiB)
{
    serveArchive({{L"roads.dat", patternBytes(300 * 1024, 8)}, {L"names.txt", "n"}}, name);
    const filedriver::ArchiveInfo info(url("/" + name + ".mca"));
    EXPECT_EQ(server->requestsFor("/" + name + ".mca", 1).size(), 1u);
}

TEST_F(RemoteArchive, AMembersFirstBytesCostOneRequestAfterTheOpenUnlessItsAnswerBringsThem)
{
    // roads.dat's blocks lie past the first 64 KiB, near enough for the open's answer to bring them,
    // then past all that answer asks for.
    for (const std::size_t padding : {std::size_t{200 * 1024}, pastOpening}) {
        SCOPED_TRACE(padding);
        const std::string served = name + std::to_string(padding);
        serveArchive({{L"pad.bin", patternBytes(padding, 12)}, {L"roads.dat", patternBytes(300 * 1024, 13)}}, served, 0);
        FileDriver member(url("/" + served + ".mca/roads.dat"), filedriver::OpenRead);
        std::string bytes(4096, '\0');
        EXPECT_EQ(member.read(bytes.data(), 4096), 4096u);
        EXPECT_EQ(bytes, patternBytes(300 * 1024, 13).substr(0, 4096));
        EXPECT_EQ(server->requestsFor("/" + served + ".mca", padding < pastOpening ? 1 : 2).size(), padding < pastOpening ? 1u : 2u);
    }
}

TEST_F(RemoteArchive, AnIndexPastTheFirst64KiBComesWithTheOpeningAnswerAndReadingAfterItNoReadAhead)
{
    // Some thousands of names make an index of more than 64 KiB; roads.dat lies past the open's answer.
    std::vector<std::pair<std::wstring, std::string>> members;
    for (int i = 0; i < 3000; ++i)
        members.push_back({L"a-long-directory-name/member-" + std::to_wstring(i) + L".txt", std::to_string(i)});
    members.push_back({L"pad.bin", patternBytes(pastOpening, 16)});
    members.push_back({L"roads.dat", patternBytes(400 * 1024, 14)});
    serveArchive(members, name, 0);
    // nginx logs a request when its answer ends: the open's ends with the archive, or at a read elsewhere.
    { const filedriver::ArchiveInfo info(url("/" + name + ".mca")); }
    filedriver::releaseArchive(url("/" + name + ".mca"));
    EXPECT_EQ(server->requestsFor("/" + name + ".mca", 1).size(), 1u);
    FileDriver member(url("/" + name + ".mca/roads.dat"), filedriver::OpenRead);
    std::string bytes(4096, '\0');
    ASSERT_EQ(member.seek(200 * 1024, filedriver::SeekBegin), 200 * 1024);
    EXPECT_EQ(member.read(bytes.data(), 4096), 4096u);
    EXPECT_EQ(bytes, patternBytes(400 * 1024, 14).substr(200 * 1024, 4096));
    EXPECT_EQ(server->requestsFor("/" + name + ".mca", 3).size(), 3u);
}

TEST_F(RemoteArchive, AMemberReadInOrderIsReadAheadInFewRequests)
{
    const std::string roads = patternBytes(6 * 1024 * 1024, 15);
    serveArchive({{L"roads.dat", roads}}, name, 0);
    FileDriver member(url("/" + name + ".mca/roads.dat"), filedriver::OpenReadBuffered);
    EXPECT_EQ(readWhole(member), roads);
    // 384 blocks of 16 KiB: a request for each would be a reader that waits for every block.
    const auto logged = server->requestsFor("/" + name + ".mca");
    EXPECT_LE(logged.size(), 16u);
}

TEST_F(RemoteArchive, TheQueryGoesToTheArchiveInEitherPlaceAndIsShownNowhere)
{
    const std::string roads = patternBytes(70 * 1024, 9);
    serveArchive({{L"roads.dat", roads}}, name);
    for (const std::string& path : {"/signed/" + name + ".mca?sig=s3cret/roads.dat",
                                    "/signed/" + name + ".mca/roads.dat?sig=s3cret"}) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(filedriver::fileExistsAware(url(path)));
        FileDriver member(url(path), filedriver::OpenReadBuffered);
        EXPECT_EQ(readWhole(member), roads);
    }
    for (const auto& request : server->requestsFor("/signed/" + name + ".mca"))
        EXPECT_EQ(request.query, "sig=s3cret");
    const auto refused = caught([&] { FileDriver file(url("/signed/" + name + ".mca?sig=wrong/roads.dat"), 1); });
    EXPECT_TRUE(refused.thrown);
    EXPECT_EQ(refused.what.find("wrong"), std::string::npos) << refused.what;
    const auto missing = caught([&] { FileDriver file(url("/signed/" + name + ".mca?sig=s3cret/rivers.dat"), 1); });
    EXPECT_EQ(missing.kind, orva::ErrorKind::NotFound);
    EXPECT_EQ(missing.what.find("s3cret"), std::string::npos) << missing.what;
}

} // namespace
