#pragma once

#include <cstdint>
#include <string>

#include "platform/win32.h"

namespace holwerk {

/// True for the statuses the download follows: 301, 302, 303, 307, 308.
bool IsRedirectStatus(std::uint32_t status);

/// Reads a Content-Length value: only decimal digits, fitting 64 bits.
bool ParseContentLength(const std::string& text, std::uint64_t& length);

/// The error a body of `received` bytes amounts to when the response
/// announced `announced` bytes: 0 while the body is sound, 12030 for a body
/// that ended short (`ended`), 12152 for one that grew past its length.
DWORD BodyLengthError(std::uint64_t announced, std::uint64_t received, bool ended);

}  // namespace holwerk
