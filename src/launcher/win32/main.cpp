// GleanerQt's entry point on Windows where the build has no Qt: a host made of the Windows calls that
// Qt's application object and folder dialog make there. The flow itself is in Launcher.cpp.
//   - the executable's directory from GetModuleFileNameW, in Qt's form;
//   - the shell's folder picker (IFileOpenDialog), COM apartment-threaded, no owner window, starting in
//     the executable's directory every time;
//   - wWinMain turns the command line into argc/argv and calls main, as Qt's start-up code does.
#include "dataGleaner.h"
#include "Launcher.h"
#include "ToolkitPath.h"
#include "orva/Log.h"
#include "orva/WideText.h"

#include <windows.h>

#include <shellapi.h>
#include <shobjidl.h>

#include <string>
#include <vector>

namespace {

// Releases a COM interface pointer when it goes.
template <typename T> class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr()
    {
        if (pointer)
            pointer->Release();
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T* get() const { return pointer; }
    T* operator->() const { return pointer; }
    T** out() { return &pointer; }

private:
    T* pointer = nullptr;
};

// COM for this thread, apartment-threaded as a GUI thread's is, for the life of main.
class ComApartment {
public:
    ComApartment() : initialised(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment()
    {
        if (initialised)
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool initialised;
};

constexpr wchar_t dialogFailedLine[] = L"The folder dialog could not be shown: %ls failed with 0x%08lx\n";

std::wstring executablePath()
{
    // Paths may be longer than MAX_PATH; a full buffer means the name was cut.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

// Empty when the user cancelled or the dialog could not be shown; the latter is logged.
std::wstring pickFolder(const char* caption, const std::wstring& startDir)
{
    const auto failed = [](const wchar_t* call, HRESULT result) {
        orva::errorLog.error(false, dialogFailedLine, call, static_cast<unsigned long>(result));
        return std::wstring();
    };
    ComPtr<IFileOpenDialog> dialog;
    HRESULT result = CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                      reinterpret_cast<void**>(dialog.out()));
    if (FAILED(result))
        return failed(L"CoCreateInstance(FileOpenDialog)", result);
    FILEOPENDIALOGOPTIONS options = 0;
    if (FAILED(result = dialog->GetOptions(&options)))
        return failed(L"IFileOpenDialog::GetOptions", result);
    if (FAILED(result = dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM)))
        return failed(L"IFileOpenDialog::SetOptions", result);
    const std::wstring title = orva::fromUtf8(caption);
    if (FAILED(result = dialog->SetTitle(title.c_str())))
        return failed(L"IFileOpenDialog::SetTitle", result);
    // SetFolder, not SetDefaultFolder: the shell's memory of the last folder must not win. A start
    // folder that has gone leaves the dialog where the shell puts it.
    const std::wstring nativeStart = filedriver::FilePath(startDir).normalised();
    ComPtr<IShellItem> start;
    if (SUCCEEDED(SHCreateItemFromParsingName(nativeStart.c_str(), nullptr, IID_IShellItem,
                                              reinterpret_cast<void**>(start.out()))))
        dialog->SetFolder(start.get());
    result = dialog->Show(nullptr);
    if (result == HRESULT_FROM_WIN32(ERROR_CANCELLED))
        return {};
    if (FAILED(result))
        return failed(L"IFileOpenDialog::Show", result);
    ComPtr<IShellItem> chosen;
    if (FAILED(result = dialog->GetResult(chosen.out())))
        return failed(L"IFileOpenDialog::GetResult", result);
    PWSTR name = nullptr;
    if (FAILED(result = chosen->GetDisplayName(SIGDN_FILESYSPATH, &name)))
        return failed(L"IShellItem::GetDisplayName", result);
    const std::wstring folder = launcher::toolkitPath(name);
    CoTaskMemFree(name);
    return folder;
}

} // namespace

int main(int, char*[])
{
    const ComApartment com;
    launcher::LauncherHost host;
    host.applicationDir = launcher::toolkitDirectoryOf(executablePath());
    host.pickFolder = pickFolder;
    host.runEngine = runGleaner;
    return launcher::runLauncher(launcher::settings, host);
}

// The GUI subsystem's entry: argv in the ANSI code page, as the toolkit hands it to main.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    int argc = 0;
    wchar_t** wideArgv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> arguments;
    for (int i = 0; wideArgv && i < argc; ++i)
        arguments.push_back(orva::toNative(wideArgv[i]));
    if (wideArgv)
        LocalFree(wideArgv);
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    return main(static_cast<int>(arguments.size()), argv.data());
}
