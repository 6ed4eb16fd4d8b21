#include "filedriver/OrvaArchive.h"

#include "filedriver/ArchiveManager.h"
#include "filedriver/ArchiveWriter.h"
#include "orva/Log.h"
#include "orva/WideText.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace {

using filedriver::ArchiveHeader;
using filedriver::ByteBuffer;
using filedriver::OrvaArchive;

void write(const std::wstring& path, const std::vector<std::pair<std::wstring, ByteBuffer>>& members,
           const std::map<std::wstring, std::wstring>& properties = {})
{
    filedriver::ArchiveWriterOptions options;
    options.blockSize = 4096;
    options.properties = properties;
    ASSERT_TRUE(filedriver::writeArchive(path, members, options));
}

// The test's own std::filesystem calls take paths as UTF-8: on Linux its wide conversions follow the C locale.
std::filesystem::path onDisk(const std::wstring& path)
{
    const std::string utf8 = orva::toUtf8(path);
    return std::u8string(utf8.begin(), utf8.end());
}

void patch(const std::wstring& path, std::uint32_t offset, const std::string& bytes)
{
    std::fstream stream(onDisk(path), std::ios::in | std::ios::out | std::ios::binary);
    stream.seekp(offset);
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

ArchiveHeader headerOf(const std::wstring& path)
{
    std::uint8_t bytes[filedriver::archiveHeaderSize] = {};
    std::ifstream(onDisk(path), std::ios::binary).read(reinterpret_cast<char*>(bytes), sizeof bytes);
    ArchiveHeader header{};
    filedriver::decodeArchiveHeader(bytes, header);
    return header;
}

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    const std::size_t at = text.find(from);
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(OrvaArchiveLoad, MalformedArchivesAreRefusedWithTheirReason)
{
    struct Row {
        const char* what;
        std::function<void(ArchiveHeader&)> edit;
        std::function<std::uint32_t(const ArchiveHeader&)> keep; // bytes kept of the edited file; none: all
        std::string message;                                      // {P}: the archive path, {L}: the file length
        int site;
        orva::ErrorKind kind = orva::ErrorKind::Damaged;
    };
    constexpr orva::ErrorKind unsupported = orva::ErrorKind::Unsupported;
    const std::string counts = "{P} : counts do not fit a file of {L} bytes ";
    const std::string integrity = "integrity check failed in ArchiveHeader";
    const Row rows[] = {
        {"short header", nullptr, [](auto&) { return 59; }, "{P} : failed to load ArchiveHeader", 344},
        {"magic before the rest", [](auto& h) { h.magic = 0x42000002; h.version = 2; h.compressionType = 7; },
         nullptr, "{P} : magic check failed .. not in OrvaArchive format?", 346, unsupported},
        {"version", [](auto& h) { h.version = 2; }, nullptr, "{P} : version not supported", 348, unsupported},
        {"codec", [](auto& h) { h.compressionType = 2; }, nullptr, "{P} : compression type not supported", 350, unsupported},
        {"sizes offset", [](auto& h) { h.fileSizesOffset = 64; }, nullptr, "{P} : bad length of file", 352},
        // Counts whose products wrap in 32 bits must still be caught, before anything is allocated.
        {"files", [](auto& h) { h.fileCount = 0x2AAAAAAB; }, nullptr,
         counts + "(fileCount 715827883, propertyCount 1, blockCount 2)", 354},
        {"properties", [](auto& h) { h.propertyCount = 0x40000001; }, nullptr,
         counts + "(fileCount 2, propertyCount 1073741825, blockCount 2)", 354},
        {"blocks", [](auto& h) { h.blockCount = 0x40000001; }, nullptr,
         counts + "(fileCount 2, propertyCount 1, blockCount 1073741825)", 354},
        {"all huge", [](auto& h) { h.fileCount = h.blockCount = h.dataLength = 0xFFFFFFFF; h.blockSize = 1; }, nullptr,
         counts + "(fileCount 4294967295, propertyCount 1, blockCount 4294967295)", 354},
        {"block size 0", [](auto& h) { h.blockSize = 0; }, nullptr, "{P} : blockSize is 0", 356},
        {"one block too many", [](auto& h) { h.blockCount = 3; }, nullptr,
         "{P} : blockCount 3 does not match dataLength 5010 in blocks of 4096 bytes", 358},
        {"blocks larger", [](auto& h) { h.blockSize = 5010; }, nullptr,
         "{P} : blockCount 2 does not match dataLength 5010 in blocks of 5010 bytes", 358},
        {"names offset", [](auto& h) { h.fileNamesOffset += 2; }, nullptr, integrity + " 2", 273},
        {"data length", [](auto& h) { h.dataLength += 1; }, nullptr,
         integrity + ": dataLength 5011 is not the 5010 bytes of the files", 275},
        {"names cut short", nullptr, [](auto& h) { return h.fileNamesOffset + 3; }, integrity + " 3", 279},
        {"property skipped", [](auto& h) { h.propertyCount = 0; }, nullptr, integrity + " 4", 292},
        {"stored sizes cut short", nullptr, [](auto& h) { return h.blockSizesOffset + 4; }, integrity + " 6", 298},
        {"blocks offset", [](auto& h) { h.blocksOffset += 4; }, nullptr, integrity + " 7", 312},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        testsupport::TempDir tmp;
        // A non-ASCII name: the path reaches the message as native text.
        const std::wstring path = tmp.wide() + filedriver::Separators[0] + L"K\u00e4rten.mca";
        write(path, {{L"a.dat", ByteBuffer(5000, 'a')}, {L"b.txt", ByteBuffer(10, 'b')}}, {{L"k", L"v"}});
        ArchiveHeader header = headerOf(path);
        if (row.edit) {
            row.edit(header);
            std::uint8_t bytes[filedriver::archiveHeaderSize];
            filedriver::encodeArchiveHeader(header, bytes);
            patch(path, 0, std::string(bytes, bytes + sizeof bytes));
        }
        if (row.keep)
            std::filesystem::resize_file(onDisk(path), row.keep(header));
        const std::string length = std::to_string(std::filesystem::file_size(onDisk(path)));

        const std::filesystem::path logPath = tmp.path() / "log.txt";
        std::FILE* const saved = orva::errorLog.file;
        orva::errorLog.file = std::fopen(logPath.string().c_str(), "wb");
        try {
            OrvaArchive archive(path, &filedriver::archiveManager);
            ADD_FAILURE() << "loaded";
        } catch (const orva::exception& caught) {
            EXPECT_EQ(caught.what(), "orvana exception: "
                                         + replaced(replaced(row.message, "{P}", orva::toNative(path)), "{L}", length));
            EXPECT_EQ(caught.kind(), row.kind);
            EXPECT_EQ(caught.block(), -1);
        }
        std::fclose(orva::errorLog.file);
        orva::errorLog.file = saved;
        EXPECT_NE(testsupport::readFile(logPath).find("Exception thrown: .\\src\\filedriver\\OrvaArchive.cpp("
                                                      + std::to_string(row.site) + ")\n"),
                  std::string::npos);
        // Nothing keeps the file open (Windows refuses to remove an open file).
        EXPECT_TRUE(std::filesystem::remove(onDisk(path)));
    }
}

TEST(OrvaArchiveLoad, EmptyArchiveHasNoMembers)
{
    testsupport::TempDir tmp;
    const std::wstring path = tmp.wide(L"empty.mca");
    write(path, {});
    ASSERT_EQ(std::filesystem::file_size(tmp.path() / "empty.mca"), 60u);
    OrvaArchive archive(path, &filedriver::archiveManager);
    EXPECT_TRUE(archive.blocks().stored().empty());
    EXPECT_FALSE(archive.hasMember(L""));
    EXPECT_FALSE(archive.hasMember(L"x"));
}

TEST(OrvaArchiveLoad, MembersMatchByExactNameAndTheLaterPropertyWins)
{
    testsupport::TempDir tmp;
    const std::wstring path = tmp.wide(L"names.mca");
    write(path, {{L"Roads.dat", ByteBuffer(3)}, {L"", {}}, {L"dup", ByteBuffer(1)}, {L"dup", ByteBuffer(2)}},
          {{L"k1", L"first"}, {L"k2", L"second"}});
    // "k1\0" "first\0", then the second key's '2' becomes '1'.
    patch(path, headerOf(path).propertiesOffset + 20, "1");
    OrvaArchive archive(path, &filedriver::archiveManager);
    const std::pair<const wchar_t*, bool> rows[] = {{L"Roads.dat", true}, {L"roads.dat", false}, {L"ROADS.DAT", false},
                                                    {L"Roads", false},    {L"Roads.dat ", false}, {L"", true},
                                                    {L"dup", true},       {L"du", false}};
    for (const auto& [name, found] : rows)
        EXPECT_EQ(archive.hasMember(name), found) << orva::toUtf8(name);
    EXPECT_EQ(archive.propertyTable(), (std::map<std::wstring, std::wstring>{{L"k1", L"second"}}));
}

TEST(OrvaArchiveLoad, NamesMatchAsTheyDecodeBeyondTheBasicPlaneAndWithUnpairedSurrogates)
{
    testsupport::TempDir tmp;
    const std::wstring path = tmp.wide(L"planes.mca");
    const std::wstring astral = orva::fromUtf8("\xF0\x9F\x97\xBA map");
    const std::wstring lone = std::wstring(1, wchar_t(0xD800)) + L"x";
    const std::vector<std::wstring> names = {astral, lone, L"A", L"member-000001.dat", L"member-000002.dat"};
    std::vector<std::pair<std::wstring, ByteBuffer>> members;
    for (const std::wstring& name : names)
        members.push_back({name, ByteBuffer(1)});
    write(path, members);
    OrvaArchive archive(path, &filedriver::archiveManager);

    std::vector<std::pair<std::wstring, bool>> rows = {
        {astral, true}, {lone, true}, {L"A", true}, {L"member-000002.dat", true}, {L"member-000003.dat", false},
        {astral.substr(0, astral.size() - 1), false}, {std::wstring(1, wchar_t(0xD800)), false}};
    if constexpr (sizeof(wchar_t) == 4) {
        // Wide values no stored name decodes to: a pair spelt as two characters, and beyond U+10FFFF
        // (whose low 16 bits are 'A').
        rows.push_back({std::wstring{wchar_t(0xD83D), wchar_t(0xDDFA)} + L" map", false});
        rows.push_back({std::wstring(1, wchar_t(0x110041)), false});
    }
    for (const auto& [name, found] : rows)
        EXPECT_EQ(archive.hasMember(name), found) << orva::toUtf8(name);

    ASSERT_EQ(archive.members().size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(archive.members()[i].name, names[i]) << i;
}

} // namespace
