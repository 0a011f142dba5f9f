#pragma once

#include <cstddef>
#include <string>

#include "platform/posix/win32_api.h"

namespace holwerk::posix {

/// UTF-8 of `length` UTF-16 units. An unpaired surrogate becomes U+FFFD, as
/// WideCharToMultiByte does, or fails the conversion when `strict` is set, so
/// that a file name is never turned into another one.
bool EncodeUtf8(const WCHAR* text, std::size_t length, bool strict, std::string& encoded);

}  // namespace holwerk::posix
