// The path operations on any text, checked for what they promise.
#include "filedriver/FilePath.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

using filedriver::FilePath;

void check(bool holds)
{
    if (!holds)
        std::abort();
}

bool startsWith(const std::wstring& text, const std::wstring& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::wstring text;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        text.push_back(static_cast<wchar_t>(data[i] | data[i + 1] << 8));
    const FilePath path(text);

    const FilePath archive = filedriver::archivePart(path);
    check(startsWith(path, archive));
    check(!filedriver::isArchivePath(path) || (!archive.empty() && archive.size() < path.size()));
    // The archive is a whole component that ends in the extension.
    check(archive.empty() || archive.size() == path.size() || filedriver::isSeparator(path[archive.size()]));
    check(archive.empty() || archive.ends_with(L".mca") || archive.ends_with(L".MCA"));

    const FilePath name = path.fileName();
    check(path.size() >= name.size() && path.compare(path.size() - name.size(), name.size(), name) == 0);
    check(name.find_first_of(filedriver::Separators) == std::wstring::npos);
    check(startsWith(name, path.fileNameWithoutExtension()));

    const FilePath directory = path.directoryPart();
    check(startsWith(path, directory) || directory == FilePath(L".").withTrailingSeparator());
    check(filedriver::isSeparator(directory.back()));

    const FilePath normalised = path.normalised();
    check(normalised.size() == path.size() && normalised.find(filedriver::Separators[1]) == std::wstring::npos);
    const FilePath added = path.withTrailingSeparator();
    check(!added.empty() && filedriver::isSeparator(added.back()));
    const FilePath removed = path.withoutTrailingSeparator();
    check(removed.size() <= path.size() && startsWith(path, removed));
    check(path.trimmedRight(FilePath(L" ")).size() <= path.size());
    return 0;
}
