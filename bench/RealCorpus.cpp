#include "RealCorpus.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <utility>

namespace bench {
namespace {

namespace fs = std::filesystem;

constexpr std::uintmax_t largestFile = 8u << 20;

// FNV-1a: the same order on every run.
std::uint64_t hashOf(const std::string& bytes)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : bytes)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return hash;
}

std::string safeName(const std::string& name)
{
    std::string safe;
    for (const char c : name.substr(0, 100))
        safe += std::isalnum(static_cast<unsigned char>(c)) || std::string(".-_+").find(c) != std::string::npos ? c : '_';
    return safe;
}

std::string contents(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Regular files (not links) of a size worth taking, keyed by a hash of their path.
std::vector<std::pair<std::uint64_t, fs::path>> candidates(const RealCorpusKind& kind)
{
    std::vector<std::pair<std::uint64_t, fs::path>> found;
    for (const std::string& root : kind.roots) {
        std::error_code error;
        fs::recursive_directory_iterator walk(root, fs::directory_options::skip_permission_denied, error);
        for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
            const fs::directory_entry& entry = *walk;
            std::error_code ignored;
            if (entry.is_symlink(ignored) || !entry.is_regular_file(ignored))
                continue;
            const std::uintmax_t size = entry.file_size(ignored);
            const std::string name = entry.path().filename().string();
            if (size == 0 || size > largestFile || name.find(kind.nameHolds) == std::string::npos)
                continue;
            found.emplace_back(hashOf(entry.path().string()), entry.path());
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace

const std::vector<RealCorpusKind>& realCorpusKinds()
{
    static const std::vector<RealCorpusKind> kinds = {
        {"headers", {"/usr/include"}, ""},
        {"libraries", {"/usr/lib", "/lib"}, ".so"},
        {"documents", {"/usr/share/doc", "/usr/share/man", "/usr/share/locale", "/usr/lib/python3"}, ""},
    };
    return kinds;
}

bool gatherRealCorpus(const RealCorpusKind& kind, std::uint64_t size, const std::string& directory,
                      std::vector<std::string>& names)
{
    std::set<std::pair<std::size_t, std::uint64_t>> seen;
    std::uint64_t taken = 0;
    for (const auto& [key, path] : candidates(kind)) {
        if (taken >= size)
            break;
        const std::string bytes = contents(path);
        if (bytes.empty() || !seen.insert({bytes.size(), hashOf(bytes)}).second)
            continue;
        char number[16];
        std::snprintf(number, sizeof number, "%05zu-", names.size());
        names.push_back(number + safeName(path.filename().string()));
        std::ofstream(directory + "/" + names.back(), std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        taken += bytes.size();
    }
    if (taken < size / 4) {
        for (const std::string& name : names)
            fs::remove(directory + "/" + name);
        names.clear();
        return false;
    }
    std::sort(names.begin(), names.end());
    return true;
}

} // namespace bench
