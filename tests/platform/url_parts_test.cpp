// What the download relies on from InternetCrackUrlA and InternetCombineUrlA,
// with the capacities the program gives them.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "support/wine.h"

namespace {

// The parts as "scheme|host|port|user|password|path|extra", or the error code.
std::string Crack(const std::string& url) {
    URL_COMPONENTSA parts{};
    parts.dwStructSize = sizeof(parts);
    LPSTR* texts[6] = {&parts.lpszScheme,   &parts.lpszHostName, &parts.lpszUserName,
                       &parts.lpszPassword, &parts.lpszUrlPath,  &parts.lpszExtraInfo};
    DWORD* lengths[6] = {&parts.dwSchemeLength,   &parts.dwHostNameLength,
                         &parts.dwUserNameLength, &parts.dwPasswordLength,
                         &parts.dwUrlPathLength,  &parts.dwExtraInfoLength};
    const DWORD capacities[6] = {15, 2047, 1023, 1023, 8191, 8191};  // the program's
    std::vector<char> buffers[6];
    for (int i = 0; i < 6; ++i) {
        buffers[i].resize(capacities[i] + 1);
        *texts[i] = buffers[i].data();
        *lengths[i] = capacities[i];
    }
    SetLastError(0);
    if (!InternetCrackUrlA(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
        return std::string("error ").append(std::to_string(GetLastError()));
    }
    // Appended piece by piece: GCC 12 reports a false overlap in "|" + text.
    std::string result;
    for (int i = 0; i < 6; ++i) {
        // Every part is zero-terminated right after its reported length.
        EXPECT_EQ(buffers[i][*lengths[i]], '\0') << url << " part " << i;
        result.append(buffers[i].data(), *lengths[i]).append(i < 5 ? "|" : "");
        if (i == 1) result.append(std::to_string(parts.nPort)).append("|");
    }
    return result;
}

TEST(UrlCrackContract, DecomposesWhatTheProgramChecks) {
    const std::string longHost(2046, 'h'), longPath(8189, 'p');
    const struct {
        std::string url;
        std::string parts;
        bool underWine;  // false where Wine departs from Windows
    } cases[] = {
        // Default ports by scheme, the scheme as written, an empty path empty.
        {"HTTPS://Example.COM", "HTTPS|Example.COM|443||||", true},
        {"http://example.com:8080/a/b?x=1#frag", "http|example.com|8080|||/a/b|?x=1#frag", true},
        // Other schemes decompose too, so the program's own check sees them.
        {"abc://host/x", "abc|host|0|||/x|", true},
        {"http://user:pw@host:0/x", "http|host|0|user|pw|/x|", true},
        // Without "//" there is no host.
        {"http:host/x", "http||0|||host/x|", true},
        // A part's capacity holds its text and the zero byte.
        {"http://" + longHost + "/x", "http|" + longHost + "|80|||/x|", true},
        {"http://h" + longHost + "/x", "error 122", true},
        {"http://h/" + longPath, "http|h|80|||/" + longPath + "|", true},
        {"http://h/p" + longPath, "error 122", true},
        {"example.com/x", "error 12006", true},
        // Wine looks for "?" first, and truncates the port to 16 bits.
        {"http://example.com/a#f?x", "http|example.com|80|||/a|#f?x", false},
        {"http://host:99999/x", "error 12005", false},
    };
    for (const auto& c : cases) {
        if (!c.underWine && RunningUnderWine()) continue;
        EXPECT_EQ(Crack(c.url), c.parts) << c.url;
    }
}

// The result and its reported length with the program's redirect capacity.
std::string Combine(const std::string& base, const std::string& relative, DWORD capacity = 16383) {
    std::vector<char> buffer(capacity + 1);
    DWORD length = capacity;
    SetLastError(0);
    if (!InternetCombineUrlA(base.c_str(), relative.c_str(), buffer.data(), &length, 0)) {
        // Wine leaves the last error unchanged here.
        const DWORD error = RunningUnderWine() ? 122 : GetLastError();
        return std::string("error ") + std::to_string(error) + " needs " + std::to_string(length);
    }
    EXPECT_EQ(length, std::strlen(buffer.data()));
    return buffer.data();
}

TEST(UrlCombineContract, ResolvesReferencesAndEscapesUnsafeBytes) {
    const std::string fits(16382 - 9, 'p');
    const struct {
        std::string base;
        std::string relative;
        std::string combined;
        bool underWine;
    } cases[] = {
        // Absolute references stand for themselves, the scheme lower-cased;
        // without slashes the scheme stays plain http for the downgrade check.
        {"https://h/a/b", "HTTP://Host/x", "http://Host/x", true},
        {"https://h/a/b", "ftp://host/x", "ftp://host/x", true},
        {"https://h/a/b", "//other/p", "https://other/p", true},
        {"http://h:8080/a/b", "/x", "http://h:8080/x", true},
        // Dot segments are removed, never above the root.
        {"http://h/a/b/c", "./d/../e", "http://h/a/b/e", true},
        {"http://h/a/b/c", "../../../../d", "http://h/d", true},
        {"http://h/a/b?q", "#f", "http://h/a/b?q#f", true},
        // Blanks, line breaks and other unsafe bytes never survive.
        {"http://h/a/b", "/a\r\nX: y", "http://h/a%0D%0AX:%20y", true},
        {"http://h/a/b", "/a\"<>^`{|}\xc3\xa4%41%zz",
         "http://h/a%22%3C%3E%5E%60%7B%7C%7D%C3%A4%41%zz", true},
        // Wine drops the last segment for a query and crashes on results of
        // more than about 2080 bytes.
        {"http://h/a/b?q", "?y=1", "http://h/a/b?y=1", false},
        {"http://h/x", fits, "http://h/" + fits, false},
        {"http://h/x", fits + "p", "error 122 needs 16384", false},
    };
    for (const auto& c : cases) {
        if (!c.underWine && RunningUnderWine()) continue;
        EXPECT_EQ(Combine(c.base, c.relative), c.combined) << c.base << " + " << c.relative;
    }
    EXPECT_EQ(Combine("https://h/a/b", "http:host/x").substr(0, 5), "http:");
    // The capacity holds the result and its zero byte.
    EXPECT_EQ(Combine("http://h/a/b", "/x", 10), "error 122 needs 11");
    EXPECT_EQ(Combine("http://h/a/b", "/x", 11), "http://h/x");
}

}  // namespace
