#pragma once

#include "platform/win32.h"

/// True when the test runs under Wine rather than on Windows or natively.
/// Cases where Wine itself departs from Windows are skipped there only.
inline bool RunningUnderWine() {
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}
