#include "filedriver/FilePath.h"

namespace filedriver {
namespace {

constexpr wchar_t archiveExtension[] = L".mca";
constexpr wchar_t archiveExtensionUpper[] = L".MCA";
constexpr std::size_t archiveExtensionLength = 4;

// Where the first `extension` that ends a component ends, or npos: in x.mca.d it is part of a name.
std::size_t componentEndingExtensionEnd(const FilePath& path, const wchar_t* extension)
{
    for (std::size_t at = path.find(extension); at != FilePath::npos; at = path.find(extension, at + 1)) {
        const std::size_t end = at + archiveExtensionLength;
        if (end == path.size() || isSeparator(path[end]))
            return end;
    }
    return FilePath::npos;
}

// Where the archive extension ends, or npos. The upper-case spelling counts only where the lower-case
// one occurs nowhere, even inside a name.
std::size_t archiveExtensionEnd(const FilePath& path)
{
    if (path.find(archiveExtension) != FilePath::npos)
        return componentEndingExtensionEnd(path, archiveExtension);
    return componentEndingExtensionEnd(path, archiveExtensionUpper);
}

} // namespace

bool isSeparator(wchar_t c)
{
    return c == Separators[0] || c == Separators[1];
}

FilePath FilePath::trimmedRight(const FilePath& set) const
{
    const size_type last = find_last_not_of(set);
    return FilePath(last == npos ? std::wstring() : substr(0, last + 1));
}

FilePath FilePath::fileName() const
{
    const size_type separator = find_last_of(Separators);
    return FilePath(separator == npos ? std::wstring(*this) : substr(separator + 1));
}

FilePath FilePath::fileNameWithoutExtension() const
{
    FilePath name = fileName();
    const size_type dot = name.rfind(L'.');
    if (dot != npos)
        name.erase(dot);
    return name;
}

FilePath FilePath::fileName(bool withoutExtension) const
{
    return withoutExtension ? fileNameWithoutExtension() : fileName();
}

FilePath FilePath::normalised() const
{
    FilePath result(*this);
    for (wchar_t& c : result)
        if (isSeparator(c))
            c = Separators[0];
    return result;
}

FilePath FilePath::withTrailingSeparator() const
{
    FilePath result = trimmedRight(FilePath(L" "));
    if (result.empty() || !isSeparator(result.back()))
        result.push_back(Separators[0]);
    return result;
}

FilePath FilePath::withoutTrailingSeparator() const
{
    FilePath result = trimmedRight(FilePath(L" "));
    if (!result.empty() && isSeparator(result.back()))
        result.pop_back();
    return result;
}

FilePath FilePath::withTrailingSeparator(bool add) const
{
    return add ? withTrailingSeparator() : withoutTrailingSeparator();
}

FilePath FilePath::directoryPart() const
{
    const size_type separator = find_last_of(Separators);
    if (separator == npos)
        return FilePath(L".").withTrailingSeparator();
    return FilePath(substr(0, separator + 1));
}

bool isArchivePath(const FilePath& path)
{
    const std::size_t end = archiveExtensionEnd(path);
    return end != FilePath::npos && end != path.size();
}

FilePath archivePart(const FilePath& path)
{
    const std::size_t end = archiveExtensionEnd(path);
    return end == FilePath::npos ? FilePath() : FilePath(path.substr(0, end));
}

} // namespace filedriver
