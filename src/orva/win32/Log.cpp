// Win32 half of the log: local time and the modal message box.
#include "orva/Log.h"

#include <windows.h>

namespace orva {

Log::LocalTime Log::localNow()
{
    SYSTEMTIME local;
    GetLocalTime(&local);
    return {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
}

bool Log::showBox(const wchar_t* caption, const wchar_t* text, bool askYesNo)
{
    return MessageBoxW(nullptr, text, caption, askYesNo ? MB_YESNO : MB_OK) == IDYES;
}

} // namespace orva
