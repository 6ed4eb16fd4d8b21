// Win32 half of the system's reasons: GetLastError through FormatMessageW, without the closing
// period and line break the system adds.
#include "filedriver/SystemError.h"
#include "filedriver/SystemFailure.h"

#include "orva/WideText.h"

#include <windows.h>

namespace filedriver {

std::string lastSystemError()
{
    return systemErrorText(static_cast<int>(GetLastError()));
}

std::string systemErrorText(int systemError)
{
    const auto code = static_cast<DWORD>(systemError);
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = text ? text : L"error " + std::to_wstring(code);
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L'.'))
        message.pop_back();
    return orva::toNative(message);
}

int lastSystemErrorNumber()
{
    return static_cast<int>(GetLastError());
}

bool meansNotThere(int systemError)
{
    return systemError == ERROR_FILE_NOT_FOUND || systemError == ERROR_PATH_NOT_FOUND;
}

} // namespace filedriver
