// Fuzzes what the download does with URLs that come from the command line and
// from a server's Location header: cracking, combining, the split into host,
// port and request target, and the resolution of a redirect. The input is a
// base URL and a Location value separated by the first NUL byte; its first
// byte chooses small buffer capacities now and then. Every buffer is a heap
// block of exactly the capacity the call is told, so a write past it stops
// the run under AddressSanitizer.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_check.h"
#include "http/url.h"
#include "platform/win32.h"

namespace holwerk {
namespace {

bool IsCleanForRequestLine(const std::string& text) {
    for (const char raw : text) {
        const auto c = static_cast<unsigned char>(raw);
        if (c <= 0x20 || c == 0x7F) return false;
    }
    return true;
}

struct Component {
    std::unique_ptr<char[]> buffer;
    DWORD capacity;
};

Component MakeComponent(DWORD capacity) { return {std::make_unique<char[]>(capacity), capacity}; }

void CheckCrack(const std::string& url, std::uint8_t sizes) {
    // Now and then tiny buffers, so that the "does not fit" paths run too.
    const bool tiny = (sizes & 0x80) != 0;
    auto capacity = [&](DWORD normal, int shift) {
        return tiny ? static_cast<DWORD>(1 + ((sizes >> shift) & 0x7)) : normal;
    };
    Component scheme = MakeComponent(capacity(16, 0));
    Component host = MakeComponent(capacity(2048, 1));
    Component user = MakeComponent(capacity(1024, 2));
    Component password = MakeComponent(capacity(1024, 3));
    Component path = MakeComponent(capacity(8192, 4));
    Component extra = MakeComponent(capacity(8192, 5));
    URL_COMPONENTSA parts;
    std::memset(&parts, 0, sizeof parts);
    parts.dwStructSize = sizeof parts;
    parts.lpszScheme = scheme.buffer.get();
    parts.dwSchemeLength = scheme.capacity;
    parts.lpszHostName = host.buffer.get();
    parts.dwHostNameLength = host.capacity;
    parts.lpszUserName = user.buffer.get();
    parts.dwUserNameLength = user.capacity;
    parts.lpszPassword = password.buffer.get();
    parts.dwPasswordLength = password.capacity;
    parts.lpszUrlPath = path.buffer.get();
    parts.dwUrlPathLength = path.capacity;
    parts.lpszExtraInfo = extra.buffer.get();
    parts.dwExtraInfoLength = extra.capacity;
    if (!InternetCrackUrlA(url.data(), static_cast<DWORD>(url.size()), 0, &parts)) return;

    const std::pair<const Component*, DWORD> results[] = {
        {&scheme, parts.dwSchemeLength}, {&host, parts.dwHostNameLength},
        {&user, parts.dwUserNameLength}, {&password, parts.dwPasswordLength},
        {&path, parts.dwUrlPathLength},  {&extra, parts.dwExtraInfoLength},
    };
    for (const auto& [component, length] : results) {
        FuzzCheck(length < component->capacity, "a component fits its buffer with its terminator");
        FuzzCheck(component->buffer[length] == '\0', "a component is terminated");
        // Flags 0: nothing is decoded, so each component is a piece of the URL.
        FuzzCheck(url.find(std::string(component->buffer.get(), length)) != std::string::npos,
                  "a component is taken from the URL as it is");
    }
}

void CheckCombine(const std::string& base, const std::string& location, std::uint8_t sizes) {
    // The program's buffer, or a small one.
    const DWORD capacity = (sizes & 0x40) ? 1 + (sizes & 0x3F) : 16383;
    auto buffer = std::make_unique<char[]>(capacity);
    DWORD length = capacity;
    if (!InternetCombineUrlA(base.c_str(), location.c_str(), buffer.get(), &length, 0)) return;
    FuzzCheck(length < capacity, "the combined URL fits its buffer with its terminator");
    FuzzCheck(buffer[length] == '\0' && std::strlen(buffer.get()) == length,
              "the combined URL is terminated right after its length");
    FuzzCheck(IsCleanForRequestLine(std::string(buffer.get(), length)),
              "a combined URL holds no control byte, blank or DEL");
}

void CheckSplit(const std::string& url) {
    std::string host;
    std::string requestTarget;
    std::uint16_t port = 0;
    bool isHttps = false;
    std::string message;
    if (!SplitHttpUrl(url, host, requestTarget, port, isHttps, message)) {
        FuzzCheck(!message.empty(), "a refused URL has a message");
        return;
    }
    FuzzCheck(!host.empty(), "a split URL has a host");
    FuzzCheck(requestTarget.starts_with("/"), "the request target begins with /");
    FuzzCheck(requestTarget.find('#') == std::string::npos,
              "the request target never holds the fragment");
    FuzzCheck(port != 0, "a split URL has a port");
}

void CheckRedirect(const std::string& base, const std::string& location) {
    std::string target;
    std::string message;
    if (!ResolveRedirectTarget(base, location, target, message)) {
        FuzzCheck(message.starts_with("Weiterleitungsziel ist ungültig oder zu lang: "),
                  "a refused redirect has its message");
        return;
    }
    FuzzCheck(target.size() < 16384, "a redirect target fits the resolution buffer");
    // The downgrade check compares schemes, whatever the spelling of the text.
    auto schemeOf = [](const std::string& url) {
        std::string scheme = url.substr(0, url.find(':'));
        for (char& c : scheme) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        return url.find(':') == std::string::npos ? std::string() : scheme;
    };
    FuzzCheck(IsHttpsToHttpRedirect(base, target) ==
                  (schemeOf(base) == "https" && schemeOf(target) == "http"),
              "a downgrade is exactly https to http by scheme");
    std::string host;
    std::string requestTarget;
    std::uint16_t port = 0;
    bool isHttps = false;
    if (SplitHttpUrl(target, host, requestTarget, port, isHttps, message)) {
        // Whatever the server sent, nothing of it may break the request line.
        FuzzCheck(IsCleanForRequestLine(requestTarget),
                  "no control byte or blank reaches a request line");
        FuzzCheck(IsCleanForRequestLine(host), "no control byte or blank reaches the host");
    }
}

}  // namespace
}  // namespace holwerk

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t sizes = data[0];
    const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t nul = input.find('\0');
    const std::string base = input.substr(0, nul);
    const std::string location = nul == std::string::npos ? "" : input.substr(nul + 1);
    holwerk::CheckCrack(base, sizes);
    holwerk::CheckSplit(base);
    if (nul != std::string::npos) {
        holwerk::CheckCombine(base, location, sizes);
        holwerk::CheckRedirect(base, location);
    }
    return 0;
}
