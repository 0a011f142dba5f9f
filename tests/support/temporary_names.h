#pragma once

#include <cstdio>
#include <string>

#include "platform/win32.h"

namespace holwerk {

/// Upper-case hexadecimal without leading zeros, as temporary names carry it.
inline std::string UpperHex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(value));
    return text;
}

/// The name this process gives a temporary file: path + infix (".part-" or
/// ".tmp-") + process ID + "-" + tick count + "-" + attempt.
inline std::string TemporaryName(const std::string& path, const std::string& infix, DWORD tick,
                                 int attempt) {
    return path + infix + UpperHex(GetCurrentProcessId()) + "-" + UpperHex(tick) + "-" +
           std::to_string(attempt);
}

}  // namespace holwerk
