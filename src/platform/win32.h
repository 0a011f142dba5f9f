#pragma once

// The one door to the platform. The Windows build sees Windows itself; every
// other build sees the small POSIX layer that offers the same functions with
// the same signatures, constants and error codes.

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// In this order: windows.h first, the others rely on its declarations.
// clang-format off
#include <windows.h>
#include <wininet.h>
#include <shlobj.h>
#include <shellapi.h>
#include <objbase.h>
// clang-format on
// WinINet's code for a secure channel that failed; MinGW-w64's header lacks it.
#ifndef ERROR_INTERNET_DECODING_FAILED
#define ERROR_INTERNET_DECODING_FAILED 12175
#endif
#else
#include "platform/posix/win32_api.h"
#endif
