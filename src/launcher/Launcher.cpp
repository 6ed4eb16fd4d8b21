#include "Launcher.h"

#include "filedriver/ArchiveLookup.h"
#include "filedriver/FileSystem.h"
#include "orva/Log.h"

namespace launcher {
namespace {

constexpr wchar_t pathTooLongLine[] = L"%ls path does not fit the engine's %u characters and is not used: '%ls'\n";

bool fitsOrIsLogged(const wchar_t* what, const std::wstring& path)
{
    if (fitsPathBuffer(path))
        return true;
    orva::errorLog.error(false, pathTooLongLine, what, static_cast<unsigned>(runParametersPathUnits - 1),
                         path.c_str());
    return false;
}

bool isUsableAtlas(const std::wstring& atlas)
{
    return fitsOrIsLogged(L"Atlas", atlas) && filedriver::fileExistsAware(atlas);
}

bool makeImportDirectory(const filedriver::FilePath& candidate)
{
    return fitsOrIsLogged(L"Import", candidate) && filedriver::createDirectories(candidate);
}

} // namespace

filedriver::FilePath importCandidate(const std::wstring& root)
{
    return filedriver::FilePath(filedriver::FilePath(root).withTrailingSeparator() + importDirectoryName)
        .normalised();
}

int runLauncher(RegistrySettings& settings, const LauncherHost& host)
{
    // Zeroed whole, so the engine never sees stale bytes behind a terminator.
    RunParameters parameters{};
    parameters.word1 = 1;
    parameters.word2 = 0;
    parameters.word3 = 0;

    settings.productName = productName;
    const std::wstring atlas = settings.readValue(atlasValueName);
    if (isUsableAtlas(atlas)) {
        setPath(parameters.atlasPath, atlas);
    } else {
        filedriver::FilePath candidate = importCandidate(host.applicationDir);
        while (!makeImportDirectory(candidate)) {
            if (!host.noDialogReason.empty()) {
                orva::errorLog.error(false, noDialogLine, candidate.c_str(), host.noDialogReason.c_str());
                return cancelledExitCode;
            }
            const std::wstring chosen = host.pickFolder(folderDialogCaption, host.applicationDir);
            if (chosen.empty())
                return cancelledExitCode;
            candidate = importCandidate(chosen);
        }
        setPath(parameters.importPath, candidate);
    }
    return host.runEngine(&parameters);
}

} // namespace launcher
