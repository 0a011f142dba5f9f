#include "cli/target_url.h"

#include <gtest/gtest.h>

namespace holwerk {
namespace {

TEST(NormalizeTargetUrlTest, CompletesOrKeepsUsableUrls) {
    struct Case {
        std::string typed;
        std::string expected;
    };
    const Case cases[] = {
        {"example.com", "https://example.com"},
        {"example.com:8080/pfad/datei.bin?a=1", "https://example.com:8080/pfad/datei.bin?a=1"},
        {"http://example.com/", "http://example.com/"},
        {"https://example.com/", "https://example.com/"},
        // The scheme keeps the letter case the user typed.
        {"HTTP://Example.com/A", "HTTP://Example.com/A"},
        {"Https://h", "Https://h"},
        {"hTtPs://h", "hTtPs://h"},
        {"   http://h/x   ", "http://h/x"},
        {" h ", "https://h"},
        // Without both slashes there is no scheme: it is part of the text and
        // left to the URL decomposition of the download.
        {"http:/x", "https://http:/x"},
        {"mailto:x", "https://mailto:x"},
        {"http//x", "https://http//x"},
        // Only the blank is trimmed or refused; a tab is kept.
        {"h\tx", "https://h\tx"},
        {"\th\t", "https://\th\t"},
        {"-file-", "https://-file-"},
        {"http://", "http://"},
        {"https://Grüße.example/ä", "https://Grüße.example/ä"},
    };
    for (const Case& c : cases) {
        std::string normalized = "old";
        std::string message;
        EXPECT_TRUE(NormalizeTargetUrl(c.typed, normalized, message)) << "[" << c.typed << "]";
        EXPECT_EQ(normalized, c.expected) << "[" << c.typed << "]";
        EXPECT_EQ(message, "") << "[" << c.typed << "]";
    }
}

// The order of the checks decides: missing before blanks, blanks before scheme.
TEST(NormalizeTargetUrlTest, RefusesWithTheFirstMatchingMessage) {
    struct Case {
        std::string typed;
        std::string message;
    };
    const std::string missing = "Die URL fehlt.";
    const std::string blank = "Die URL darf keine Leerzeichen enthalten.";
    const std::string scheme = "Unterstützt werden ausschließlich HTTP- und HTTPS-URLs.";
    const Case cases[] = {
        {"", missing},         {" ", missing},         {"          ", missing},
        {"http://a b", blank}, {"a b", blank},         {" ftp://a b ", blank},
        {"ftp://h/x", scheme}, {"FTP://h/x", scheme},  {"file:///etc/passwd", scheme},
        {"abc://x", scheme},   {"x/http://y", scheme}, {"://h", scheme},
        {"httpx://h", scheme},
    };
    for (const Case& c : cases) {
        std::string normalized;
        std::string message;
        EXPECT_FALSE(NormalizeTargetUrl(c.typed, normalized, message)) << "[" << c.typed << "]";
        EXPECT_EQ(message, c.message) << "[" << c.typed << "]";
    }
}

}  // namespace
}  // namespace holwerk
