#pragma once

#include "platform/posix/win32_api.h"

namespace holwerk::posix {

// Every errno value and libcurl result that the POSIX layer reports is turned
// into the Windows or WinINet code here, in one place, so that a message such
// as "Windows-Fehler 12002" reads the same on every build.

/// The Win32 error code that Windows reports for the same file-system failure.
DWORD Win32ErrorFromErrno(int error);

/// The same code as the result of a registry function, which is an LSTATUS.
LSTATUS Win32StatusFromErrno(int error);

/// The WinINet error code for a libcurl result (a CURLcode, passed as int).
DWORD WinInetErrorFromCurl(int curlCode);

/// The WinINet error code for a refused server certificate, from OpenSSL's
/// verification result (an X509_V_ERR_* value, as libcurl reports it).
DWORD WinInetErrorFromCertificate(long verifyResult);

/// Sets the thread's last error from errno and returns FALSE, for one-line
/// failure paths in the file functions.
BOOL FailWithErrno(int error);

}  // namespace holwerk::posix
