#include "filedriver/FilePath.h"

#include <algorithm>
#include <cwctype>
#include <string_view>

namespace filedriver {
namespace {

constexpr wchar_t archiveExtension[] = L".mca";
constexpr wchar_t archiveExtensionUpper[] = L".MCA";
constexpr std::size_t archiveExtensionLength = 4;

// Where the first `extension` that ends a component within [from, to) ends, or npos: in x.mca.d it is
// part of a name.
std::size_t componentEndingExtensionEnd(const FilePath& path, const wchar_t* extension, std::size_t from,
                                        std::size_t to)
{
    for (std::size_t at = path.find(extension, from); at != FilePath::npos && at + archiveExtensionLength <= to;
         at = path.find(extension, at + 1)) {
        const std::size_t end = at + archiveExtensionLength;
        if (end == to || isSeparator(path[end]))
            return end;
    }
    return FilePath::npos;
}

// Where the archive extension ends within [from, to), or npos. The upper-case spelling counts only where
// the lower-case one occurs nowhere there, even inside a name.
std::size_t archiveExtensionEnd(const FilePath& path, std::size_t from, std::size_t to)
{
    const std::size_t lower = path.find(archiveExtension, from);
    if (lower != FilePath::npos && lower < to)
        return componentEndingExtensionEnd(path, archiveExtension, from, to);
    return componentEndingExtensionEnd(path, archiveExtensionUpper, from, to);
}

bool startsWithIgnoringCase(const FilePath& text, std::wstring_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (static_cast<wchar_t>(std::towlower(text[i])) != prefix[i])
            return false;
    return true;
}

// The parts of a URL that the archive rules and messages care about.
struct UrlParts {
    std::size_t authorityStart = 0;
    std::size_t pathStart = 0;  // the path's first '/', or queryStart when there is none
    std::size_t queryStart = 0; // the first '?' or '#' after the host, or the end
};

UrlParts urlParts(const FilePath& url)
{
    UrlParts parts;
    parts.authorityStart = url.find(L"://") + 3;
    parts.pathStart = std::min(url.find_first_of(L"/?#", parts.authorityStart), url.size());
    parts.queryStart = url[parts.pathStart] == L'/' ? std::min(url.find_first_of(L"?#", parts.pathStart), url.size())
                                                    : parts.pathStart;
    return parts;
}

// Where a path's archive lies: [0, nameEnd) is the archive's name, [queryStart, queryEnd) the URL query
// that belongs to it. nameEnd is npos for a path through no archive.
struct ArchiveSpan {
    std::size_t nameEnd = FilePath::npos;
    std::size_t queryStart = 0;
    std::size_t queryEnd = 0;
};

ArchiveSpan archiveSpan(const FilePath& path)
{
    ArchiveSpan span;
    if (!isRemotePath(path)) {
        span.nameEnd = archiveExtensionEnd(path, 0, path.size());
        return span;
    }
    const UrlParts url = urlParts(path);
    span.nameEnd = archiveExtensionEnd(path, url.pathStart, url.queryStart);
    if (span.nameEnd == FilePath::npos || url.queryStart == path.size())
        return span;
    span.queryStart = url.queryStart;
    span.queryEnd = path.size();
    if (span.nameEnd == url.queryStart) {
        // The query straight after the archive's name: the member follows its last '/'.
        const std::size_t slash = path.rfind(L'/');
        if (slash > url.queryStart)
            span.queryEnd = slash;
    }
    return span;
}

// The path without the query that belongs to its archive (a plain URL: without its query).
FilePath withoutArchiveQuery(const FilePath& path, const ArchiveSpan& span)
{
    FilePath rest(path);
    return FilePath(rest.erase(span.queryStart, span.queryEnd - span.queryStart));
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
    if (isRemotePath(result))
        return result;
    for (wchar_t& c : result)
        if (isSeparator(c))
            c = Separators[0];
    return result;
}

FilePath FilePath::withTrailingSeparator() const
{
    FilePath result = trimmedRight(FilePath(L" "));
    if (result.empty() || !isSeparator(result.back()))
        result.push_back(isRemotePath(result) ? L'/' : Separators[0]);
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
    const ArchiveSpan span = archiveSpan(path);
    return span.nameEnd != FilePath::npos && path.size() - span.nameEnd > span.queryEnd - span.queryStart;
}

FilePath archivePart(const FilePath& path)
{
    const ArchiveSpan span = archiveSpan(path);
    if (span.nameEnd == FilePath::npos)
        return FilePath();
    return FilePath(path.substr(0, span.nameEnd) + path.substr(span.queryStart, span.queryEnd - span.queryStart));
}

FilePath memberName(const FilePath& path)
{
    if (!isRemotePath(path))
        return path.fileName();
    return withoutArchiveQuery(path, archiveSpan(path)).fileName();
}

bool isRemotePath(const FilePath& path)
{
    return startsWithIgnoringCase(path, L"http://") || startsWithIgnoringCase(path, L"https://");
}

FilePath shownPath(const FilePath& path)
{
    if (!isRemotePath(path))
        return path;
    ArchiveSpan span = archiveSpan(path);
    if (span.nameEnd == FilePath::npos) {
        span.queryStart = urlParts(path).queryStart;
        span.queryEnd = path.size();
    }
    FilePath shown = withoutArchiveQuery(path, span);
    const UrlParts url = urlParts(shown);
    const std::size_t at = shown.rfind(L'@', url.pathStart);
    if (at != FilePath::npos && at >= url.authorityStart)
        shown.erase(url.authorityStart, at + 1 - url.authorityStart);
    return shown;
}

} // namespace filedriver
