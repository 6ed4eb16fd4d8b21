#include "filedriver/remote/DiskCache.h"

#include "orva/ByteOrder.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <system_error>
#include <vector>

namespace filedriver::remote {
namespace fs = std::filesystem;
namespace {

constexpr char magic[] = "GQPAGE1\n";
constexpr std::size_t magicLength = 8;
constexpr std::size_t fixedHeader = magicLength + 4 + 4 + 8 + 4;
constexpr char entrySuffix[] = ".page";
constexpr char temporarySuffix[] = ".tmp";
constexpr auto abandonedAfter = std::chrono::minutes(10);

// Bytes this process wrote since its last trim; starts full, so that the first store trims.
std::atomic<std::uint64_t> writtenSinceTrim{~std::uint64_t(0) >> 1};

std::string hex(std::uint64_t value)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

// FNV-1a, 64 bits: the directory's name only; the key inside each entry settles collisions.
std::uint64_t hashOf(const std::string& text)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : text)
        hash = (hash ^ c) * 0x100000001b3ull;
    return hash;
}

std::uint32_t crcOf(const char* bytes, std::size_t length)
{
    return static_cast<std::uint32_t>(
        crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes), static_cast<uInt>(length)));
}

void put32(std::string& out, std::uint32_t value)
{
    std::uint8_t bytes[4];
    orva::storeLittleEndian32(value, bytes);
    out.append(reinterpret_cast<const char*>(bytes), 4);
}

void put64(std::string& out, std::uint64_t value)
{
    put32(out, static_cast<std::uint32_t>(value));
    put32(out, static_cast<std::uint32_t>(value >> 32));
}

std::string randomName()
{
    thread_local std::mt19937_64 random(std::random_device{}() ^
                                        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    return hex(random());
}

struct TrimEntry {
    fs::path path;
    fs::file_time_type used;
    std::uint64_t size;
};

} // namespace

DiskCache::DiskCache(const fs::path& root, std::uint64_t capBytes, const std::string& key)
    : root(root), capBytes(capBytes), key(key), folder(root / hex(hashOf(key)))
{
}

std::unique_ptr<DiskCache> DiskCache::open(const fs::path& root, std::uint64_t capBytes, const std::string& key)
{
    if (capBytes == 0 || root.empty())
        return nullptr;
    std::unique_ptr<DiskCache> cache(new DiskCache(root, capBytes, key));
    std::error_code failed;
    fs::create_directories(cache->folder, failed);
    if (!fs::is_directory(cache->folder, failed))
        return nullptr;
    return cache;
}

fs::path DiskCache::entryPath(std::uint64_t page) const
{
    return folder / (hex(page) + entrySuffix);
}

std::string DiskCache::header(std::uint64_t page, const char* bytes, std::size_t length) const
{
    std::string text(magic, magicLength);
    put32(text, static_cast<std::uint32_t>(length));
    put32(text, crcOf(bytes, length));
    put64(text, page);
    put32(text, static_cast<std::uint32_t>(key.size()));
    return text + key;
}

bool DiskCache::load(std::uint64_t page, char* destination, std::size_t length)
{
    const fs::path path = entryPath(page);
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::string head(fixedHeader + key.size(), '\0');
    if (!in.read(head.data(), static_cast<std::streamsize>(head.size())) ||
        !in.read(destination, static_cast<std::streamsize>(length)) || in.peek() != std::ifstream::traits_type::eof())
        return false;
    if (head != header(page, destination, length))
        return false;
    in.close();
    std::error_code ignored;
    fs::last_write_time(path, fs::file_time_type::clock::now(), ignored);
    return true;
}

void DiskCache::store(std::uint64_t page, const char* bytes, std::size_t length)
{
    const fs::path path = entryPath(page);
    const fs::path temporary = folder / (hex(page) + "." + randomName() + temporarySuffix);
    std::error_code failed;
    // Another process's trim may have taken the folder away while it was empty.
    fs::create_directories(folder, failed);
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        const std::string head = header(page, bytes, length);
        out.write(head.data(), static_cast<std::streamsize>(head.size()));
        out.write(bytes, static_cast<std::streamsize>(length));
        out.close();
        if (!out) {
            fs::remove(temporary, failed);
            return;
        }
    }
    fs::rename(temporary, path, failed);
    if (failed)
        fs::remove(temporary, failed);
    const std::uint64_t written = writtenSinceTrim.fetch_add(length + fixedHeader) + length + fixedHeader;
    if (written >= capBytes / 16) {
        writtenSinceTrim = 0;
        trim(root, capBytes);
    }
}

void DiskCache::trim(const fs::path& root, std::uint64_t capBytes)
{
    std::error_code failed;
    std::vector<TrimEntry> entries;
    std::vector<fs::path> folders;
    std::uint64_t total = 0;
    const auto now = fs::file_time_type::clock::now();
    for (fs::directory_iterator dir(root, failed), end; !failed && dir != end; dir.increment(failed)) {
        if (!dir->is_directory(failed))
            continue;
        folders.push_back(dir->path());
        for (fs::directory_iterator file(dir->path(), failed); !failed && file != end; file.increment(failed)) {
            const fs::path& path = file->path();
            const auto used = fs::last_write_time(path, failed);
            const auto size = fs::file_size(path, failed);
            if (failed) {
                failed.clear();
                continue;
            }
            if (path.extension() == temporarySuffix) {
                if (now - used > abandonedAfter)
                    fs::remove(path, failed);
            } else if (path.extension() == entrySuffix) {
                entries.push_back({path, used, size});
                total += size;
            }
        }
        failed.clear();
    }
    std::sort(entries.begin(), entries.end(), [](const TrimEntry& a, const TrimEntry& b) { return a.used < b.used; });
    for (const TrimEntry& entry : entries) {
        if (total <= capBytes)
            break;
        fs::remove(entry.path, failed);
        total -= entry.size;
    }
    for (const fs::path& folder : folders)
        if (fs::is_empty(folder, failed))
            fs::remove(folder, failed);
}

} // namespace filedriver::remote
