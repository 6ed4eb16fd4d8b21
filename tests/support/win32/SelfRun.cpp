// Windows half: CreateProcessW of this module's own file, with an environment block of its own.
#include "support/SelfRun.h"

#include <windows.h>

#include <vector>

namespace testsupport {
namespace {

std::wstring wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// This process's environment with `added` set (replacing variables of the same name).
std::vector<wchar_t> environmentBlock(const SelfRun::Environment& added)
{
    std::vector<wchar_t> block;
    wchar_t* current = GetEnvironmentStringsW();
    for (const wchar_t* entry = current; *entry; entry += wcslen(entry) + 1) {
        const std::wstring text(entry);
        bool replaced = false;
        for (const auto& variable : added)
            replaced = replaced || _wcsnicmp(text.c_str(), (wide(variable.first) + L"=").c_str(),
                                       variable.first.size() + 1) == 0;
        if (!replaced)
            block.insert(block.end(), text.c_str(), text.c_str() + text.size() + 1);
    }
    FreeEnvironmentStringsW(current);
    for (const auto& [name, value] : added) {
        const std::wstring text = wide(name) + L"=" + wide(value);
        block.insert(block.end(), text.c_str(), text.c_str() + text.size() + 1);
    }
    block.push_back(L'\0');
    return block;
}

} // namespace

SelfRun::SelfRun(const std::string& gtestFilter, const Environment& environment)
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_filter=" + wide(gtestFilter);
    std::vector<wchar_t> block = environmentBlock(environment);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    started = CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                  block.data(), nullptr, &startup, &process) != 0;
    if (started) {
        CloseHandle(process.hThread);
        handle = reinterpret_cast<long long>(process.hProcess);
    }
}

SelfRun::~SelfRun()
{
    if (started && !finished)
        wait(0);
    if (started)
        CloseHandle(reinterpret_cast<HANDLE>(handle));
}

int SelfRun::wait(int timeoutSeconds)
{
    const HANDLE process = reinterpret_cast<HANDLE>(handle);
    finished = true;
    if (WaitForSingleObject(process, static_cast<DWORD>(timeoutSeconds) * 1000) != WAIT_OBJECT_0) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, INFINITE);
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return static_cast<int>(code);
}

} // namespace testsupport
