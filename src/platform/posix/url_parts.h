#pragma once

// The URL cracking of InternetCrackUrlA, also for the WinINet functions of
// this folder that take a URL.

#include <string_view>

#include "platform/posix/win32_api.h"

namespace holwerk::posix {

/// A URL's components as InternetCrackUrlA reports them, as views into the
/// URL; the extra part begins at the first "?" or "#".
struct CrackedUrl {
    std::string_view scheme;
    std::string_view userName;
    std::string_view password;
    std::string_view host;  // an IPv6 literal keeps its brackets
    std::string_view path;
    std::string_view extra;
    INTERNET_PORT port = 0;  // the scheme's when none is given; 0: none
};

/// Takes `url` apart; false with ERROR_INTERNET_UNRECOGNIZED_SCHEME or
/// ERROR_INTERNET_INVALID_URL.
bool CrackUrl(std::string_view url, CrackedUrl& parts, DWORD& error);

}  // namespace holwerk::posix
