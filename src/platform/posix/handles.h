#pragma once

#include "platform/posix/win32_api.h"

namespace holwerk::posix {

// A file or console HANDLE of the POSIX layer is its descriptor plus one, so
// that descriptor 0 is not the null handle and -1 stays INVALID_HANDLE_VALUE.

inline HANDLE HandleFromDescriptor(int descriptor) {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(descriptor) + 1);
}

/// The descriptor behind a handle, or -1 for null and INVALID_HANDLE_VALUE.
inline int DescriptorFromHandle(HANDLE handle) {
    const auto value = reinterpret_cast<std::intptr_t>(handle);
    return value <= 0 ? -1 : static_cast<int>(value - 1);
}

}  // namespace holwerk::posix
