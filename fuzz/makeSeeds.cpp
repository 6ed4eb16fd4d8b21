// Writes the fuzzers' seed corpora: archives made with the library's writer over several layouts, and
// small inputs for the stream, settings, path and HTTP answer fuzzers.
//   makeSeeds <directory>   (one folder per fuzzer below it)
#include "filedriver/ArchiveWriter.h"
#include "orva/WideText.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

void writeSeed(const std::filesystem::path& folder, const std::string& name, const std::string& bytes)
{
    std::filesystem::create_directories(folder);
    std::ofstream(folder / name, std::ios::binary) << bytes;
}

filedriver::ByteBuffer pattern(std::size_t size, unsigned seed)
{
    filedriver::ByteBuffer bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 131 + seed) % 251 < 200 ? 'a' + (i + seed) % 7 : i * seed);
    return bytes;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: makeSeeds <directory>\n");
        return 2;
    }
    const std::filesystem::path root = argv[1];
    const std::filesystem::path archives = root / "archive";
    std::filesystem::create_directories(archives);
    struct Layout {
        std::uint32_t blockSize, type;
        std::vector<std::size_t> sizes;
    };
    const Layout layouts[] = {{64, 1, {100, 0, 300}}, {16, 0, {5, 40}}, {4096, 1, {5000}}, {7, 1, {1, 2, 3, 30}},
                              {1, 0, {3}}, {65536, 1, {}}};
    int n = 0;
    for (const Layout& layout : layouts) {
        std::vector<std::pair<std::wstring, filedriver::ByteBuffer>> members;
        for (std::size_t i = 0; i < layout.sizes.size(); ++i)
            members.push_back({L"m" + std::to_wstring(i) + (i == 1 ? L"\u00e9.txt" : L".dat"),
                               pattern(layout.sizes[i], static_cast<unsigned>(i + 3))});
        filedriver::ArchiveWriterOptions options;
        options.blockSize = layout.blockSize;
        options.compressionType = layout.type;
        options.properties = {{L"k", L"v"}};
        const std::filesystem::path file = archives / ("seed" + std::to_string(n++) + ".mca");
        if (!filedriver::writeArchive(orva::fromNative(file.string()), members, options))
            return 1;
    }
    for (int i = 0; i < 4; ++i) {
        const filedriver::ByteBuffer bytes = pattern(40 + 60 * i, static_cast<unsigned>(i));
        writeSeed(root / "stream", "seed" + std::to_string(i), std::string(bytes.begin(), bytes.end()));
    }
    writeSeed(root / "settings", "seed0", "Atlas\n# comment\nAtlas=/maps/europe.mca/roads.dat\r\n");
    writeSeed(root / "settings", "seed1", "name\n;x\n\nNAME=a=b\nname=second\n");
    const std::u16string paths[] = {u"D:\\maps\\europe.mca\\roads.dat", u"C:/a//b.tar.gz", u"x.MCA\\y.mca", u"  \\"};
    for (int i = 0; i < 4; ++i) {
        std::string bytes;
        for (const char16_t unit : paths[i])
            bytes += static_cast<char>(unit & 0xFF), bytes += static_cast<char>(unit >> 8);
        writeSeed(root / "path", "seed" + std::to_string(i), bytes);
    }
    // Answers as servers send them to the remote reader, and a netrc file.
    const std::string answers[] = {
        "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-65535/1048576\r\nETag: \"5e1f-100000\"\r\n"
        "Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\nContent-Length: 65536\r\n\r\n",
        "HTTP/1.1 503 Service Unavailable\r\nRetry-After: Sun, 06 Nov 1994 08:49:40 GMT\r\n\r\n",
        "HTTP/1.1 302 Found\r\nLocation: ../other/file.mca?sig=2\r\n\r\nHTTP/1.1 416 Range Not Satisfiable\r\n"
        "Content-Range: bytes */0\r\n\r\n",
        "machine origin.example login \"a b\" password p\nmacdef x\ny\n\ndefault login d password e\n"};
    for (int i = 0; i < 4; ++i)
        writeSeed(root / "httpAnswer", "seed" + std::to_string(i), answers[i]);
    return 0;
}
