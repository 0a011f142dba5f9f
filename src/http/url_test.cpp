#include "http/url.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace holwerk {
namespace {

// An empty host means the URL is refused with that message.
TEST(SplitHttpUrlTest, SplitsOrRefusesWithTheFirstFailingCheck) {
    const std::string credentials =
        "Benutzername und Kennwort in der URL werden nicht unterstützt.";
    const struct {
        std::string url, host, target;
        std::uint16_t port;
        bool isHttps;
        std::string message;
    } cases[] = {
        {"https://example.com", "example.com", "/", 443, true, ""},
        {"http://example.com:8080/a/b?x=1#frag", "example.com", "/a/b?x=1", 8080, false, ""},
        // A "#" before the "?" still starts the fragment, which is never sent.
        {"http://host/a#f?x=1", "host", "/a", 80, false, ""},
        {"HTTPS://Example.COM:0/X", "Example.COM", "/X", 443, true, ""},
        // Nothing is decoded; blanks, control and non-ASCII bytes are escaped
        // so that no request line can be broken up.
        {"http://host/%41 \t\x7f?\xc3\xb6 x", "host", "/%41%20%09%7F?%C3%B6%20x", 80, false, ""},
        {"ftp://user@/x", "", "", 0, false, credentials},
        {"http:host/x", "", "", 0, false, "Die URL enthält keinen Hostnamen."},
        {"httpx://host/x", "", "", 0, false, "Unterstützt werden ausschließlich HTTP und HTTPS."},
        {"http://host\r\nX: 1/x", "", "", 0, false, "Ungültige URL: Windows-Fehler 12005"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        std::string host, target, message;
        std::uint16_t port = 0;
        bool isHttps = false;
        EXPECT_EQ(SplitHttpUrl(c.url, host, target, port, isHttps, message), c.message.empty());
        EXPECT_EQ(message, c.message);
        if (!c.message.empty()) continue;
        EXPECT_EQ(std::tie(host, target, port, isHttps),
                  std::tie(c.host, c.target, c.port, c.isHttps));
    }
}

}  // namespace
}  // namespace holwerk
