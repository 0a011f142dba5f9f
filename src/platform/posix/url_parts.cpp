// InternetCrackUrlA and InternetCombineUrlA: URL decomposition and resolution
// as WinINet does it for what the program uses.
//
// Differences from Windows:
// - Only flags 0 are known (no ICU_DECODE, ICU_ESCAPE, ICU_NO_ENCODE, ...);
//   other flags fail with ERROR_INVALID_PARAMETER.
// - Cracking: a port that is not all digits or above 65535 fails with
//   ERROR_INTERNET_INVALID_URL (Windows reads what it can and truncates to
//   16 bits, so 99999 would connect to 34463). The extra part always begins
//   at the first "?" or "#", whichever comes first. Every component needs a
//   buffer of its own: a null pointer (Windows then leaves the component out
//   or points into the URL) fails with ERROR_INVALID_PARAMETER. There is no
//   nScheme, and a default port is known for http and https only. A failure
//   leaves every component and length untouched.
// - Combining follows RFC 3986 strictly (a query-only reference keeps the
//   base path; an empty reference yields the base without its fragment) and
//   escapes the whole result, query and fragment included: control bytes,
//   blanks, DEL, bytes from 0x80 and "<>\^`{|} become %XX. Windows leaves
//   the query and fragment as they are, drops tabs and turns "\" into "/".

#include <cstring>
#include <string>
#include <string_view>

#include "platform/posix/url_parts.h"

#include "platform/posix/support.h"

namespace holwerk::posix {
namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

std::string Lowered(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = LowerAscii(c);
    return lower;
}

// Length of the scheme at the start of `url` (RFC 3986: a letter, then
// letters, digits, "+", "-", "."), or 0 when the text does not start with
// "scheme:".
std::size_t SchemeLength(std::string_view url) {
    if (url.empty() || !IsAsciiLetter(url[0])) return 0;
    std::size_t length = 1;
    while (length < url.size()) {
        const char c = url[length];
        if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '+' && c != '-' && c != '.') break;
        ++length;
    }
    return length < url.size() && url[length] == ':' ? length : 0;
}

// A URL taken apart along RFC 3986, as views into the original text.
struct UrlParts {
    std::string_view scheme;
    bool hasAuthority = false;
    std::string_view authority;
    std::string_view path;
    bool hasQuery = false;
    std::string_view query;  // without "?"
    bool hasFragment = false;
    std::string_view fragment;  // without "#"
};

// Splits a reference; a text without "scheme:" leaves the scheme empty.
UrlParts SplitReference(std::string_view text) {
    UrlParts parts;
    const std::size_t schemeLength = SchemeLength(text);
    if (schemeLength > 0) {
        parts.scheme = text.substr(0, schemeLength);
        text.remove_prefix(schemeLength + 1);
    }
    const std::size_t hash = text.find('#');
    if (hash != std::string_view::npos) {
        parts.hasFragment = true;
        parts.fragment = text.substr(hash + 1);
        text = text.substr(0, hash);
    }
    const std::size_t question = text.find('?');
    if (question != std::string_view::npos) {
        parts.hasQuery = true;
        parts.query = text.substr(question + 1);
        text = text.substr(0, question);
    }
    if (text.substr(0, 2) == "//") {
        text.remove_prefix(2);
        const std::size_t slash = text.find('/');
        parts.hasAuthority = true;
        parts.authority = text.substr(0, slash);
        text = slash == std::string_view::npos ? std::string_view() : text.substr(slash);
    }
    parts.path = text;
    return parts;
}

// RFC 3986 section 5.2.4.
std::string RemoveDotSegments(std::string_view input) {
    std::string output;
    while (!input.empty()) {
        if (input.substr(0, 3) == "../") {
            input.remove_prefix(3);
        } else if (input.substr(0, 2) == "./") {
            input.remove_prefix(2);
        } else if (input.substr(0, 3) == "/./") {
            input.remove_prefix(2);
        } else if (input == "/.") {
            input = "/";
        } else if (input.substr(0, 4) == "/../" || input == "/..") {
            input = input.size() == 3 ? std::string_view("/") : input.substr(3);
            const std::size_t last = output.rfind('/');
            output.erase(last == std::string::npos ? 0 : last);
        } else if (input == "." || input == "..") {
            input = {};
        } else {
            const std::size_t next = input.find('/', input[0] == '/' ? 1 : 0);
            const std::size_t take = next == std::string_view::npos ? input.size() : next;
            output.append(input.substr(0, take));
            input.remove_prefix(take);
        }
    }
    return output;
}

// RFC 3986 section 5.2.2 (strict: a reference with a scheme is absolute).
std::string ResolveReference(const UrlParts& base, const UrlParts& reference) {
    std::string scheme, authority, path, query;
    bool hasAuthority = false, hasQuery = false;
    if (!reference.scheme.empty()) {
        scheme = Lowered(reference.scheme);
        hasAuthority = reference.hasAuthority;
        authority = reference.authority;
        path = RemoveDotSegments(reference.path);
        hasQuery = reference.hasQuery;
        query = reference.query;
    } else {
        scheme = Lowered(base.scheme);
        if (reference.hasAuthority) {
            hasAuthority = true;
            authority = reference.authority;
            path = RemoveDotSegments(reference.path);
            hasQuery = reference.hasQuery;
            query = reference.query;
        } else {
            hasAuthority = base.hasAuthority;
            authority = base.authority;
            if (reference.path.empty()) {
                path = base.path;
                hasQuery = reference.hasQuery || base.hasQuery;
                query = reference.hasQuery ? reference.query : base.query;
            } else {
                if (reference.path[0] == '/') {
                    path = RemoveDotSegments(reference.path);
                } else {
                    std::string merged;
                    if (base.hasAuthority && base.path.empty()) {
                        merged = "/";
                    } else {
                        const std::size_t slash = base.path.rfind('/');
                        if (slash != std::string_view::npos)
                            merged = base.path.substr(0, slash + 1);
                    }
                    merged.append(reference.path);
                    path = RemoveDotSegments(merged);
                }
                hasQuery = reference.hasQuery;
                query = reference.query;
            }
        }
    }
    std::string result = scheme + ":";
    if (hasAuthority) result += "//" + authority;
    result += path;
    if (hasQuery) result += "?" + query;
    if (reference.hasFragment) result += "#" + std::string(reference.fragment);
    return result;
}

bool IsUnsafeUrlByte(unsigned char c) {
    return c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}", c) != nullptr;
}

std::string EscapeUnsafeBytes(const std::string& url) {
    return PercentEscape(url, IsUnsafeUrlByte);
}

// The port a URL without one stands for; 0 (none) for other schemes.
INTERNET_PORT DefaultPort(std::string_view scheme) {
    const std::string lower = Lowered(scheme);
    if (lower == "http") return 80;
    if (lower == "https") return 443;
    return 0;
}

// One component to hand back: where the caller wants it and what it is.
struct ComponentTarget {
    LPSTR* text;
    DWORD* length;
    std::string_view value;
};

bool Fits(const ComponentTarget& target) {
    return static_cast<std::size_t>(*target.length) >= target.value.size() + 1;
}

void Store(const ComponentTarget& target) {
    // An absent component is an empty view without any data pointer.
    if (!target.value.empty()) std::memcpy(*target.text, target.value.data(), target.value.size());
    (*target.text)[target.value.size()] = '\0';
    *target.length = static_cast<DWORD>(target.value.size());
}

}  // namespace

bool CrackUrl(std::string_view text, CrackedUrl& parts, DWORD& error) {
    const std::size_t schemeLength = SchemeLength(text);
    if (schemeLength == 0) {
        error = ERROR_INTERNET_UNRECOGNIZED_SCHEME;
        return false;
    }
    parts = {};
    parts.scheme = text.substr(0, schemeLength);
    std::string_view rest = text.substr(schemeLength + 1);

    // The extra part starts at the first "?" or "#", whichever comes first.
    const std::size_t extraStart = rest.find_first_of("?#");
    if (extraStart != std::string_view::npos) {
        parts.extra = rest.substr(extraStart);
        rest = rest.substr(0, extraStart);
    }

    parts.path = rest;
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        const std::size_t slash = rest.find('/');
        std::string_view authority = rest.substr(0, slash);
        parts.path = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
        const std::size_t at = authority.rfind('@');
        if (at != std::string_view::npos) {
            const std::string_view userInfo = authority.substr(0, at);
            const std::size_t colon = userInfo.find(':');
            parts.userName = userInfo.substr(0, colon);
            if (colon != std::string_view::npos) parts.password = userInfo.substr(colon + 1);
            authority.remove_prefix(at + 1);
        }
        // A bracketed IPv6 literal keeps its colons; the port follows "]".
        const std::size_t bracket = authority.rfind(']');
        const std::size_t colon =
            authority.find(':', bracket == std::string_view::npos ? 0 : bracket);
        parts.host = authority.substr(0, colon);
        parts.port = DefaultPort(parts.scheme);
        if (colon != std::string_view::npos) {
            const std::string_view digits = authority.substr(colon + 1);
            std::uint32_t value = 0;
            for (const char c : digits) {
                if (!IsAsciiDigit(c) ||
                    (value = value * 10 + static_cast<std::uint32_t>(c - '0')) > 65535) {
                    error = ERROR_INTERNET_INVALID_URL;
                    return false;
                }
            }
            parts.port = static_cast<INTERNET_PORT>(value);
        }
    }
    return true;
}

}  // namespace holwerk::posix

using namespace holwerk::posix;

BOOL InternetCrackUrlA(LPCSTR url, DWORD urlLength, DWORD flags, URL_COMPONENTSA* components) {
    if (url == nullptr || components == nullptr ||
        components->dwStructSize != sizeof(URL_COMPONENTSA) || flags != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    CrackedUrl parts;
    DWORD error = ERROR_SUCCESS;
    if (!CrackUrl(std::string_view(url, urlLength == 0 ? std::strlen(url) : urlLength), parts,
                  error)) {
        SetLastError(error);
        return FALSE;
    }
    const ComponentTarget targets[] = {
        {&components->lpszScheme, &components->dwSchemeLength, parts.scheme},
        {&components->lpszHostName, &components->dwHostNameLength, parts.host},
        {&components->lpszUserName, &components->dwUserNameLength, parts.userName},
        {&components->lpszPassword, &components->dwPasswordLength, parts.password},
        {&components->lpszUrlPath, &components->dwUrlPathLength, parts.path},
        {&components->lpszExtraInfo, &components->dwExtraInfoLength, parts.extra},
    };
    // Every buffer is checked before any is written, so a failure changes nothing.
    for (const ComponentTarget& target : targets) {
        if (*target.text == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (!Fits(target)) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
    }
    for (const ComponentTarget& target : targets) Store(target);
    components->nPort = parts.port;
    return TRUE;
}

BOOL InternetCombineUrlA(LPCSTR baseUrl, LPCSTR relativeUrl, LPSTR buffer, LPDWORD bufferLength,
                         DWORD flags) {
    if (baseUrl == nullptr || relativeUrl == nullptr || bufferLength == nullptr || flags != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const UrlParts base = SplitReference(baseUrl);
    if (base.scheme.empty()) {
        SetLastError(ERROR_INTERNET_INVALID_URL);
        return FALSE;
    }
    const std::string combined =
        EscapeUnsafeBytes(ResolveReference(base, SplitReference(relativeUrl)));
    const std::size_t needed = combined.size() + 1;
    if (buffer == nullptr || *bufferLength < needed) {
        *bufferLength = static_cast<DWORD>(needed);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(buffer, combined.c_str(), needed);
    *bufferLength = static_cast<DWORD>(combined.size());
    return TRUE;
}
