#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace holwerk {

/// UTF-16 units of every path buffer, terminator included: paths of up to
/// 32767 units, the platform's long-path limit.
inline constexpr std::int64_t PathBufferUnits = 32768;

/// UTF-8 of NUL-terminated UTF-16; "" for null, empty or unconvertible text.
/// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const WCHAR* text);

/// Strict conversion into the caller's buffer of `capacity` units including
/// the terminator; false for ill-formed UTF-8 or text that does not fit.
bool Utf8ToUtf16(const std::string& text, WCHAR* buffer, std::int64_t capacity);

/// Utf8ToUtf16 of a path into `wide`, sized to the path and bounded by
/// PathBufferUnits; false for ill-formed UTF-8 or a path that does not fit.
bool Utf8ToUtf16Path(const std::string& path, std::vector<WCHAR>& wide);

}  // namespace holwerk
