#include "http/response.h"

namespace holwerk {

bool IsRedirectStatus(std::uint32_t status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool ParseContentLength(const std::string& text, std::uint64_t& length) {
    if (text.empty()) return false;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    length = value;
    return true;
}

DWORD BodyLengthError(std::uint64_t announced, std::uint64_t received, bool ended) {
    if (received > announced) return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    if (ended && received < announced) return ERROR_INTERNET_CONNECTION_ABORTED;
    return ERROR_SUCCESS;
}

}  // namespace holwerk
