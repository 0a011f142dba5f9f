#pragma once

#include <cstdio>
#include <string>

#include "platform/win32.h"

namespace holwerk {

/// The name this process gives a temporary file: path + infix (".part-" or
/// ".tmp-") + process ID + "-" + tick count + "-" + attempt, in upper-case
/// hexadecimal without leading zeros.
inline std::string TemporaryName(const std::string& path, const std::string& infix, DWORD tick,
                                 int attempt) {
    char numbers[32];
    std::snprintf(numbers, sizeof numbers, "%X-%X-", static_cast<unsigned>(GetCurrentProcessId()),
                  static_cast<unsigned>(tick));
    return path + infix + numbers + std::to_string(attempt);
}

}  // namespace holwerk
