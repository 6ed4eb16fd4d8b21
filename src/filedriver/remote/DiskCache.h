#pragma once
// Bytes fetched from servers, kept on disk between runs: one directory per file version, one entry per
// 64 KiB page of it.
//
//   <root>/<16 hex digits>/<16 hex digits>.page
//
// The directory's name is a hash of the key (the URL without credentials and query, the validator,
// the size); an entry's name is its page number. An entry holds a header ("GQPAGE1\n", the length, the
// CRC-32 of the bytes, the page number, the key) and then the bytes; one whose header, key, length or
// CRC does not match is never served. Entries are written under a temporary name ("*.tmp") and renamed
// into place, so that several processes may use the cache at once and a crash leaves at worst a
// temporary file, which a later trim removes.
//
// The cache holds at most its cap in bytes (give or take a sixteenth while this process writes): past
// it, the entries used longest ago (modification time, set again on every hit) are removed first. Every
// failure of the disk is silent: the page is then fetched from the server.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace filedriver::remote {

class DiskCache {
public:
    // nullptr when the cache is off (cap 0 or no directory) or its directory cannot be made.
    static std::unique_ptr<DiskCache> open(const std::filesystem::path& root, std::uint64_t capBytes,
        const std::string& key);

    // True and `length` bytes in `destination` when the page is cached whole.
    bool load(std::uint64_t page, char* destination, std::size_t length);
    void store(std::uint64_t page, const char* bytes, std::size_t length);

    const std::filesystem::path& directory() const { return folder; }

    // Removes the entries used longest ago until at most `capBytes` remain, and temporary files left
    // for more than ten minutes; empty directories too.
    static void trim(const std::filesystem::path& root, std::uint64_t capBytes);

private:
    DiskCache(const std::filesystem::path& root, std::uint64_t capBytes, const std::string& key);
    std::filesystem::path entryPath(std::uint64_t page) const;
    std::string header(std::uint64_t page, const char* bytes, std::size_t length) const;

    const std::filesystem::path root;
    const std::uint64_t capBytes;
    const std::string key;
    const std::filesystem::path folder;
};

} // namespace filedriver::remote
