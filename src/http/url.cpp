#include "http/url.h"

#include <vector>

#include "common/ascii.h"
#include "common/windows_error.h"
#include "platform/win32.h"

namespace holwerk {

namespace {

// Capacities given to the client; every buffer is one byte larger.
constexpr DWORD SchemeCapacity = 15;
constexpr DWORD HostCapacity = 2047;
constexpr DWORD UserNameCapacity = 1023;
constexpr DWORD PasswordCapacity = 1023;
constexpr DWORD PathCapacity = 8191;
constexpr DWORD ExtraCapacity = 8191;
constexpr DWORD RedirectCapacity = 16383;

// The first `length` bytes of a component buffer, ending early at a zero byte.
std::string Component(const std::vector<char>& buffer, DWORD length) {
    std::string text(buffer.data(), length < buffer.size() ? length : buffer.size() - 1);
    const std::size_t zero = text.find('\0');
    if (zero != std::string::npos) text.erase(zero);
    return text;
}

// Percent-escapes blanks, control bytes and every byte from 0x80.
std::string EscapeUnsafeBytes(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsControlOrBlank(byte) || byte >= 0x80) {
            escaped += '%';
            escaped += UpperHexDigits[byte >> 4];
            escaped += UpperHexDigits[byte & 0x0F];
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string SchemeOf(const std::string& url) {
    const std::size_t colon = url.find(':');
    return colon == std::string::npos ? std::string() : ToAsciiLower(url.substr(0, colon));
}

}  // namespace

bool SplitHttpUrl(const std::string& url, std::string& host, std::string& requestTarget,
                  std::uint16_t& port, bool& isHttps, std::string& errorMessage) {
    std::vector<char> scheme(SchemeCapacity + 1), hostName(HostCapacity + 1),
        userName(UserNameCapacity + 1), password(PasswordCapacity + 1), path(PathCapacity + 1),
        extra(ExtraCapacity + 1);
    URL_COMPONENTSA parts{};
    parts.dwStructSize = sizeof(parts);
    parts.lpszScheme = scheme.data();
    parts.dwSchemeLength = SchemeCapacity;
    parts.lpszHostName = hostName.data();
    parts.dwHostNameLength = HostCapacity;
    parts.lpszUserName = userName.data();
    parts.dwUserNameLength = UserNameCapacity;
    parts.lpszPassword = password.data();
    parts.dwPasswordLength = PasswordCapacity;
    parts.lpszUrlPath = path.data();
    parts.dwUrlPathLength = PathCapacity;
    parts.lpszExtraInfo = extra.data();
    parts.dwExtraInfoLength = ExtraCapacity;
    if (!InternetCrackUrlA(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
        errorMessage = "Ungültige URL: " + WindowsErrorText(GetLastError());
        return false;
    }
    const std::string schemeText = ToAsciiLower(Component(scheme, parts.dwSchemeLength));
    const std::string hostText = Component(hostName, parts.dwHostNameLength);
    std::string pathText = Component(path, parts.dwUrlPathLength);
    std::string extraText = Component(extra, parts.dwExtraInfoLength);

    if (!Component(userName, parts.dwUserNameLength).empty() ||
        !Component(password, parts.dwPasswordLength).empty()) {
        errorMessage = "Benutzername und Kennwort in der URL werden nicht unterstützt.";
        return false;
    }
    if (hostText.empty()) {
        errorMessage = "Die URL enthält keinen Hostnamen.";
        return false;
    }
    // A host with a blank or a control byte would end up in the Host header
    // or a proxy's request line as it is.
    for (const char c : hostText) {
        if (IsControlOrBlank(static_cast<unsigned char>(c))) {
            errorMessage = "Ungültige URL: " + WindowsErrorText(ERROR_INTERNET_INVALID_URL);
            return false;
        }
    }
    bool https = false;
    if (schemeText == "https") {
        https = true;
    } else if (schemeText != "http") {
        errorMessage = "Unterstützt werden ausschließlich HTTP und HTTPS.";
        return false;
    }

    // The fragment is never sent. Some clients leave a "#" that comes
    // before a "?" in the path, so both parts are cut.
    const std::size_t pathHash = pathText.find('#');
    if (pathHash != std::string::npos) {
        pathText.erase(pathHash);
        extraText.clear();
    }
    const std::size_t extraHash = extraText.find('#');
    if (extraHash != std::string::npos) extraText.erase(extraHash);
    // One character, not insert(0, "/"): GCC 12 at -O3 reports a false
    // overlap in that one.
    if (pathText.empty() || pathText[0] != '/') pathText.insert(pathText.begin(), '/');

    host = hostText;
    // A request line must never carry a blank, a line break or another
    // control byte, whatever the URL came with; bytes from 0x80 are escaped
    // as well, so that every client sends the same UTF-8 octets.
    requestTarget = EscapeUnsafeBytes(pathText + extraText);
    port = parts.nPort != 0 ? parts.nPort : (https ? 443 : 80);
    isHttps = https;
    return true;
}

bool ResolveRedirectTarget(const std::string& baseUrl, const std::string& location,
                           std::string& targetUrl, std::string& errorMessage) {
    std::vector<char> buffer(RedirectCapacity + 1, '\0');
    DWORD length = RedirectCapacity;
    if (!InternetCombineUrlA(baseUrl.c_str(), location.c_str(), buffer.data(), &length, 0)) {
        errorMessage =
            "Weiterleitungsziel ist ungültig oder zu lang: " + WindowsErrorText(GetLastError());
        return false;
    }
    // Some clients leave the query and fragment as they came. The target is
    // printed in the report and is the base of the next redirect, so no
    // control byte from a server survives: neither C0 nor C1 (a terminal
    // takes 0x9B, or its UTF-8 form C2 9B, for the start of an escape
    // sequence). A URL is ASCII; anything beyond it must come escaped.
    targetUrl = EscapeUnsafeBytes(buffer.data());
    return true;
}

bool IsHttpsToHttpRedirect(const std::string& currentUrl, const std::string& nextUrl) {
    return SchemeOf(currentUrl) == "https" && SchemeOf(nextUrl) == "http";
}

}  // namespace holwerk
