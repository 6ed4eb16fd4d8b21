#pragma once
// The library's path type and the rules of path text: components, separators, and where a path runs
// through an archive. Nothing here looks at the disk (FileSystem.h does) or into an archive
// (ArchiveLookup.h does).
//
// A FilePath is a wide string: paths compare as exact strings, letter case included, and nothing is
// normalised behind the caller's back. Both '\' and '/' separate components wherever a path is parsed;
// operations that write a separator write the platform's own ('\' on Windows, '/' on Linux).
// A path such as D:\maps\europe.mca\roads.dat runs through the archive D:\maps\europe.mca.
// None of these operations throws.

#include <string>

namespace filedriver {

// The two separators, the one that is written first.
extern const wchar_t Separators[3];

class FilePath : public std::wstring {
public:
    FilePath() = default;
    FilePath(const std::wstring& text) : std::wstring(text) {}
    FilePath(std::wstring&& text) : std::wstring(std::move(text)) {}
    FilePath(const wchar_t* text) : std::wstring(text) {}
    FilePath(const FilePath&) = default;
    FilePath(FilePath&&) = default;
    FilePath& operator=(const FilePath&) = default;
    FilePath& operator=(FilePath&&) = default;
    virtual ~FilePath() = default;

    bool operator==(const FilePath& other) const { return compare(other) == 0; }

    // Without the trailing run of characters that occur in `set`.
    FilePath trimmedRight(const FilePath& set) const;
    // The part after the last separator (all of it without one).
    FilePath fileName() const;
    // The same cut at its last '.': "b.tar.gz" gives "b.tar", ".profile" nothing.
    FilePath fileNameWithoutExtension() const;
    // Every separator turned into the written one; a URL as it is.
    FilePath normalised() const;
    // Trailing spaces dropped, then one separator ensured ('/' for a URL).
    FilePath withTrailingSeparator() const;
    // Trailing spaces dropped, then one trailing separator (if any) removed.
    FilePath withoutTrailingSeparator() const;
    // Up to and including the last separator; "." and a separator when there is none.
    FilePath directoryPart() const;

    // The earlier spellings: fileNameWithoutExtension() when `withoutExtension`, else fileName();
    // withTrailingSeparator() when `add`, else withoutTrailingSeparator().
    FilePath fileName(bool withoutExtension) const;
    FilePath withTrailingSeparator(bool add) const;
};

bool isSeparator(wchar_t c);

// True when the path runs through an archive file: the first ".mca" that ends a component (followed by
// a separator or the end of the text) is not the very end of the path. ".MCA" is looked for the same way
// only where ".mca" occurs nowhere in the text. So x.mca.d\file is a plain path, and
// maps.mca.old\europe.mca\roads.dat runs through maps.mca.old\europe.mca.
//
// A URL (isRemotePath) follows the same rules in its path, never in its host. Its query belongs to the
// archive file, and is written either straight after the archive's name, the member following it
// (https://host/eu/europe.mca?sig=x/roads.dat: the member is what follows the query's last '/', so a '/'
// inside a query is written %2F), or at the very end (https://host/eu/europe.mca/roads.dat?sig=x).
bool isArchivePath(const FilePath& path);
// The archive file that `path` runs through (up to and including that extension, with a URL's query),
// else empty.
FilePath archivePart(const FilePath& path);
// The member that a path through an archive names: its last component, without a URL's query.
FilePath memberName(const FilePath& path);

// True when the path names a file on a web server: it begins with "http://" or "https://", in any
// letter case. Such a path is never made absolute, and its '/' are never turned into '\'.
bool isRemotePath(const FilePath& path);
// The path as messages and logs show it: a URL without its credentials and query (the member, if any,
// kept); any other path as it is.
FilePath shownPath(const FilePath& path);

} // namespace filedriver

// Programs written when this header held the file-system questions and the archive lookup too find
// them here still.
#include "filedriver/ArchiveLookup.h"
#include "filedriver/FileSystem.h"
