// Win32 half: the test program itself, started with CreateProcessW and bInheritHandles TRUE; an
// environment variable makes it wait instead of running its tests.
#include "support/HeldChild.h"

#include <windows.h>

#include <stdexcept>
#include <string>

namespace testsupport {
namespace {

constexpr wchar_t heldVariable[] = L"GLEANER_HELD_CHILD";
constexpr DWORD heldMilliseconds = 60000;

// Runs in every program that holds this helper, before its tests: the held child stops here.
[[maybe_unused]] const bool heldHere = [] {
    if (GetEnvironmentVariableW(heldVariable, nullptr, 0) == 0)
        return false;
    Sleep(heldMilliseconds);
    ExitProcess(0);
}();

} // namespace

HeldChild::HeldChild()
{
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length == MAX_PATH)
        throw std::runtime_error("cannot name the test program");
    std::wstring commandLine = L"\"" + std::wstring(self) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    SetEnvironmentVariableW(heldVariable, L"1");
    const BOOL created = CreateProcessW(self, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                        &startup, &started);
    SetEnvironmentVariableW(heldVariable, nullptr);
    if (!created)
        throw std::runtime_error("cannot start a child process");
    CloseHandle(started.hThread);
    process = reinterpret_cast<std::intptr_t>(started.hProcess);
    processId = started.dwProcessId;
}

HeldChild::~HeldChild()
{
    const HANDLE child = reinterpret_cast<HANDLE>(process);
    TerminateProcess(child, 0);
    WaitForSingleObject(child, heldMilliseconds);
    CloseHandle(child);
}

} // namespace testsupport
