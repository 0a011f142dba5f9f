#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace holwerk {

/// True for the statuses the download follows: 301, 302, 303, 307, 308.
bool IsRedirectStatus(std::uint32_t status);

/// True for a success, 200 to 299: the only final status whose body is kept.
bool IsSuccessStatus(std::uint32_t status);

/// How a response marks the end of its body.
enum class BodyFraming {
    UntilClose,  // neither header: the body ends with the connection
    Length,      // a Content-Length that every line agrees on
    Chunked,     // Transfer-Encoding: chunked
    Invalid,     // anything else: the end of the body cannot be known
};

/// Judges every Content-Length and every Transfer-Encoding value of one
/// response (one entry per header line, as received). `length` is set for
/// BodyFraming::Length only.
BodyFraming ReadBodyFraming(const std::vector<std::string>& contentLengths,
                            const std::vector<std::string>& transferEncodings,
                            std::uint64_t& length);

/// The error a body of `received` bytes amounts to when the response
/// announced `announced` bytes: 0 while the body is sound, 12030 for a body
/// that ended short (`ended`), 12152 for one that grew past its length.
DWORD BodyLengthError(std::uint64_t announced, std::uint64_t received, bool ended);

}  // namespace holwerk
