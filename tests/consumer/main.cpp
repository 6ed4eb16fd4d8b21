// consumer <path> <reference>: reads <path> through the library (a plain file, or a member of an archive)
// and checks that its bytes are those of the plain file <reference>, read with the standard library.
// Prints "same <n> bytes" and exits 0, else says why and exits 1: for the library's failure its text,
// then "consumer: kind <kind>" as the program tells it from the failure's kind.
#include <filedriver/FileDriver.h>
#include <orva/exception.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

const char* kindName(orva::ErrorKind kind)
{
    switch (kind) {
    case orva::ErrorKind::NotFound: return "NotFound";
    case orva::ErrorKind::Damaged: return "Damaged";
    case orva::ErrorKind::Changed: return "Changed";
    case orva::ErrorKind::Unsupported: return "Unsupported";
    case orva::ErrorKind::System: return "System";
    case orva::ErrorKind::Other: return "Other";
    }
    return "unknown";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: consumer <path> <reference>\n");
        return 2;
    }
    std::ifstream referenceFile(argv[2], std::ios::binary);
    const std::vector<char> reference{std::istreambuf_iterator<char>(referenceFile), {}};
    if (!referenceFile.is_open() || referenceFile.bad()) {
        std::fprintf(stderr, "consumer: cannot read %s\n", argv[2]);
        return 1;
    }
    try {
        filedriver::FileDriver file(std::filesystem::path(argv[1]).wstring(), filedriver::OpenReadBuffered);
        if (file.size() != static_cast<std::int32_t>(reference.size())) {
            std::fprintf(stderr, "consumer: %s has %d bytes, %zu expected\n", argv[1], file.size(), reference.size());
            return 1;
        }
        // Odd-sized pieces, so that reads cross the stream's window and the archive's blocks.
        std::vector<char> bytes;
        std::vector<char> piece(1000);
        for (std::uint32_t got; (got = file.read(piece.data(), piece.size())) > 0;)
            bytes.insert(bytes.end(), piece.begin(), piece.begin() + got);
        if (bytes != reference) {
            std::fprintf(stderr, "consumer: %s differs from %s\n", argv[1], argv[2]);
            return 1;
        }
    } catch (const orva::exception& e) {
        // A copy, as a program that keeps the failure for later has it.
        const orva::exception kept = e;
        std::fprintf(stderr, "consumer: %s\nconsumer: kind %s\n", kept.what(), kindName(kept.kind()));
        return 1;
    }
    std::printf("same %zu bytes\n", reference.size());
    return 0;
}
