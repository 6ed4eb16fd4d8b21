#pragma once
// The launcher's main flow, free of any GUI toolkit: it chooses where the engine works, makes sure that
// place exists, fills the parameter block and runs the engine once.
//   1. If the setting "Atlas" of "Wayscope 10" names an existing file (on disk or inside an archive),
//      the engine gets it in atlasPath.
//   2. Otherwise the engine gets an "import" directory in importPath: beside the executable if it can
//      be created there, else below a folder that the user picks, asked as often as creation fails.
// A path that does not fit the block is never cut: it is logged and counts as unusable.

#include "filedriver/FilePath.h"
#include "RegistrySettings.h"
#include "RunParameters.h"

#include <functional>
#include <string>

namespace launcher {

constexpr wchar_t productName[] = L"Wayscope 10";
constexpr wchar_t atlasValueName[] = L"Atlas";
constexpr wchar_t importDirectoryName[] = L"import";
constexpr char folderDialogCaption[] =
    "Select root path for user data\n(where will be created 'import' subdirectory)";
// The exit code when the user cancels the folder dialog; the engine is not called then.
constexpr int cancelledExitCode = -1;

struct LauncherHost {
    // The executable's directory as the toolkit gives it: '/' separators, no trailing separator.
    std::wstring applicationDir;
    // Shows the folder dialog (the caption still to be translated), starting in `startDir`; returns the
    // chosen directory, or an empty string when the user cancelled or the dialog could not be shown.
    std::function<std::wstring(const char* caption, const std::wstring& startDir)> pickFolder;
    // Why no dialog can be shown to anybody (a display-less platform); empty where one can. When it is
    // set, the flow logs one ERR line instead of asking and ends as if the dialog were cancelled.
    std::wstring noDialogReason;
    // The engine's entry point; called at most once, with the filled block.
    std::function<int(RunParameters* parameters)> runEngine;
};

// The text of that ERR line: the import directory that cannot be created, then the host's reason.
constexpr wchar_t noDialogLine[] =
    L"'%ls' cannot be created, so a folder would have been asked for, but no dialog can be shown: %ls\n";

// Returns the engine's result, or cancelledExitCode.
int runLauncher(RegistrySettings& settings, const LauncherHost& host);

// The import directory below `root`: a separator ensured, "import" appended, normalised.
filedriver::FilePath importCandidate(const std::wstring& root);

} // namespace launcher
