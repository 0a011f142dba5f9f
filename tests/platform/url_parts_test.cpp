// What the download relies on from InternetCrackUrlA and InternetCombineUrlA:
// the same cases run against the POSIX layer and, under Wine, against
// WinINet itself.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "support/wine.h"

namespace {

// The component capacities the program gives the client; each buffer is one
// byte larger than its capacity, as in the program.
struct CrackResult {
    BOOL ok = FALSE;
    DWORD error = 0;
    std::string scheme, host, userName, password, path, extra;
    DWORD hostLength = 0, pathLength = 0;
    INTERNET_PORT port = 0;
};

CrackResult Crack(const std::string& url, DWORD hostCapacity = 2047, DWORD pathCapacity = 8191) {
    std::vector<char> scheme(16), host(hostCapacity + 1), user(1024), password(1024),
        path(pathCapacity + 1), extra(8192);
    URL_COMPONENTSA parts;
    std::memset(&parts, 0, sizeof(parts));
    parts.dwStructSize = sizeof(parts);
    parts.lpszScheme = scheme.data();
    parts.dwSchemeLength = 15;
    parts.lpszHostName = host.data();
    parts.dwHostNameLength = hostCapacity;
    parts.lpszUserName = user.data();
    parts.dwUserNameLength = 1023;
    parts.lpszPassword = password.data();
    parts.dwPasswordLength = 1023;
    parts.lpszUrlPath = path.data();
    parts.dwUrlPathLength = pathCapacity;
    parts.lpszExtraInfo = extra.data();
    parts.dwExtraInfoLength = 8191;
    CrackResult result;
    SetLastError(0);
    result.ok = InternetCrackUrlA(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts);
    result.error = GetLastError();
    if (!result.ok) return result;
    result.scheme.assign(scheme.data(), parts.dwSchemeLength);
    result.host.assign(host.data(), parts.dwHostNameLength);
    result.userName.assign(user.data(), parts.dwUserNameLength);
    result.password.assign(password.data(), parts.dwPasswordLength);
    result.path.assign(path.data(), parts.dwUrlPathLength);
    result.extra.assign(extra.data(), parts.dwExtraInfoLength);
    result.hostLength = parts.dwHostNameLength;
    result.pathLength = parts.dwUrlPathLength;
    result.port = parts.nPort;
    // Every component is zero-terminated right after its reported length.
    EXPECT_EQ(scheme[parts.dwSchemeLength], '\0');
    EXPECT_EQ(host[parts.dwHostNameLength], '\0');
    EXPECT_EQ(path[parts.dwUrlPathLength], '\0');
    EXPECT_EQ(extra[parts.dwExtraInfoLength], '\0');
    return result;
}

struct CrackCase {
    const char* url;
    const char* scheme;
    const char* host;
    INTERNET_PORT port;
    const char* userName;
    const char* password;
    const char* path;
    const char* extra;
};

const CrackCase CrackCases[] = {
    // Default ports by scheme, an empty path stays empty.
    {"https://example.com", "https", "example.com", 443, "", "", "", ""},
    {"http://example.com", "http", "example.com", 80, "", "", "", ""},
    {"http://example.com:8080/a/b?x=1#frag", "http", "example.com", 8080, "", "", "/a/b",
     "?x=1#frag"},
    {"http://example.com?x=1", "http", "example.com", 80, "", "", "", "?x=1"},
    {"http://example.com#frag", "http", "example.com", 80, "", "", "", "#frag"},
    {"http://host/x?a#b?c", "http", "host", 80, "", "", "/x", "?a#b?c"},
    // The scheme comes back as written and is recognised in any letter case.
    {"HTTPS://Example.COM/X", "HTTPS", "Example.COM", 443, "", "", "/X", ""},
    // Other schemes decompose too, so the program's own check sees them.
    {"abc://host/x", "abc", "host", 0, "", "", "/x", ""},
    // Credentials, alone or together.
    {"http://user@host/x", "http", "host", 80, "user", "", "/x", ""},
    {"http://:pw@host/x", "http", "host", 80, "", "pw", "/x", ""},
    {"http://user:pw@host:81/x", "http", "host", 81, "user", "pw", "/x", ""},
    // An explicit 0 or an empty port is reported as 0; the caller picks the default.
    {"http://host:0/x", "http", "host", 0, "", "", "/x", ""},
    {"http://host:/x", "http", "host", 0, "", "", "/x", ""},
    // Without "//" there is no host: the program refuses it as such.
    {"http:host/x", "http", "", 0, "", "", "host/x", ""},
    // Nothing is decoded.
    {"http://host/%41%20", "http", "host", 80, "", "", "/%41%20", ""},
    {"http://[::1]:8080/x", "http", "[::1]", 8080, "", "", "/x", ""},
};

TEST(UrlCrackContract, DecomposesIntoComponents) {
    for (const CrackCase& expected : CrackCases) {
        SCOPED_TRACE(expected.url);
        const CrackResult result = Crack(expected.url);
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.scheme, expected.scheme);
        EXPECT_EQ(result.host, expected.host);
        EXPECT_EQ(result.port, expected.port);
        EXPECT_EQ(result.userName, expected.userName);
        EXPECT_EQ(result.password, expected.password);
        EXPECT_EQ(result.path, expected.path);
        EXPECT_EQ(result.extra, expected.extra);
    }
}

TEST(UrlCrackContract, ExtraPartStartsAtHashBeforeQuestionMark) {
    if (RunningUnderWine()) {
        GTEST_SKIP() << "Wine looks for \"?\" first and leaves \"#f\" in the path";
    }
    const CrackResult result = Crack("http://example.com/a#f?x");
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.path, "/a");
    EXPECT_EQ(result.extra, "#f?x");
}

TEST(UrlCrackContract, TextWithoutSchemeFails) {
    const CrackResult result = Crack("example.com/x");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, ERROR_INTERNET_UNRECOGNIZED_SCHEME);
}

// A component's capacity holds its text and the zero byte.
TEST(UrlCrackContract, OverlongHostOrPathFails) {
    CrackResult result = Crack("http://" + std::string(2047, 'h') + "/x");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, ERROR_INSUFFICIENT_BUFFER);
    result = Crack("http://" + std::string(2046, 'h') + "/x");
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.hostLength, 2046u);

    result = Crack("http://h/" + std::string(8190, 'p'));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, ERROR_INSUFFICIENT_BUFFER);
    result = Crack("http://h/" + std::string(8189, 'p'));
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.pathLength, 8190u);
}

TEST(UrlCrackContract, PortAbove65535Fails) {
    if (RunningUnderWine()) GTEST_SKIP() << "Wine truncates the port to 16 bits (99999 -> 34463)";
    const CrackResult result = Crack("http://host:99999/x");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, ERROR_INTERNET_INVALID_URL);
}

struct CombineResult {
    BOOL ok = FALSE;
    DWORD error = 0;
    DWORD length = 0;
    std::string url;
};

CombineResult Combine(const std::string& base, const std::string& relative,
                      DWORD capacity = 16383) {
    std::vector<char> buffer(capacity + 1);
    CombineResult result;
    result.length = capacity;
    SetLastError(0);
    result.ok =
        InternetCombineUrlA(base.c_str(), relative.c_str(), buffer.data(), &result.length, 0);
    result.error = GetLastError();
    result.url = buffer.data();
    return result;
}

struct CombineCase {
    const char* base;
    const char* relative;
    const char* combined;
};

const CombineCase CombineCases[] = {
    // Absolute references stand for themselves; the scheme is lower-cased.
    {"http://h/a/b", "https://x/y", "https://x/y"},
    {"https://h/a/b", "HTTP://Host/x", "http://Host/x"},
    {"https://h/a/b", "ftp://host/x", "ftp://host/x"},
    // Scheme-relative, path-absolute and path-relative references.
    {"https://h/a/b", "//other/p", "https://other/p"},
    {"http://h/a/b", "/next", "http://h/next"},
    {"http://h:8080/a/b", "/x", "http://h:8080/x"},
    {"http://h/a/b", "c", "http://h/a/c"},
    {"http://h", "x", "http://h/x"},
    // Dot segments are removed, never above the root.
    {"http://h/a/b/c", "../d", "http://h/a/d"},
    {"http://h/a/b/c", "./d/../e", "http://h/a/b/e"},
    {"http://h/a/b/c", "../../../../d", "http://h/d"},
    {"http://h/a/b", "/x/./y/../z", "http://h/x/z"},
    // Fragment-only keeps path and query.
    {"http://h/a/b?q", "#f", "http://h/a/b?q#f"},
    // Blanks, line breaks and other unsafe bytes never survive in the path.
    {"http://h/a/b", "/a b", "http://h/a%20b"},
    {"http://h/a/b", "/a\r\nX: y", "http://h/a%0D%0AX:%20y"},
    {"http://h/a/b", "/a\"<>^`{|}z", "http://h/a%22%3C%3E%5E%60%7B%7C%7Dz"},
    {"http://h/a/b", "/\xc3\xa4", "http://h/%C3%A4"},
    {"http://h/a/b", "/%41%zz", "http://h/%41%zz"},
};

TEST(UrlCombineContract, ResolvesReferencesAgainstBase) {
    for (const CombineCase& expected : CombineCases) {
        SCOPED_TRACE(std::string(expected.base) + " + " + expected.relative);
        const CombineResult result = Combine(expected.base, expected.relative);
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.url, expected.combined);
        EXPECT_EQ(result.length, std::strlen(expected.combined));
    }
}

TEST(UrlCombineContract, SchemeWithoutSlashesStaysPlainHttp) {
    // The downgrade check reads the scheme, so this must not become https.
    const CombineResult result = Combine("https://h/a/b", "http:host/x");
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.url.substr(0, 5), "http:");
}

TEST(UrlCombineContract, QueryOnlyReferenceKeepsBasePath) {
    if (RunningUnderWine()) GTEST_SKIP() << "Wine drops the last path segment (RFC 1808 style)";
    const CombineResult result = Combine("http://h/a/b?q", "?y=1");
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.url, "http://h/a/b?y=1");
}

TEST(UrlCombineContract, EscapesUnsafeBytesInQuery) {
    if (RunningUnderWine()) GTEST_SKIP() << "Wine leaves the query unescaped";
    const CombineResult result = Combine("http://h/a/b", "/q?a b\r\nc");
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.url, "http://h/q?a%20b%0D%0Ac");
}

TEST(UrlCombineContract, ResultLongerThanCapacityFails) {
    // "http://h/x" has 10 bytes and needs 11 with its terminator.
    CombineResult result = Combine("http://h/a/b", "/x", 10);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.length, 11u);
    if (!RunningUnderWine()) {
        // Wine leaves the last error unchanged here.
        EXPECT_EQ(result.error, ERROR_INSUFFICIENT_BUFFER);
    }
    result = Combine("http://h/a/b", "/x", 11);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.url, "http://h/x");
    EXPECT_EQ(result.length, 10u);
}

TEST(UrlCombineContract, LongestRedirectTargetFitsExactly) {
    if (RunningUnderWine()) {
        GTEST_SKIP() << "Wine's combining crashes on results of more than about 2080 bytes";
    }
    // The program's capacity is 16383: a result of 16382 bytes fits, 16383 does not.
    const std::string base = "http://h/";
    const std::string fits(16382 - base.size(), 'p');
    CombineResult result = Combine(base + "x", fits);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.length, 16382u);
    result = Combine(base + "x", fits + "p");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.length, 16384u);
}

}  // namespace
