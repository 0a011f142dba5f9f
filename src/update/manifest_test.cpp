#include "update/manifest.h"

#include <gtest/gtest.h>

namespace holwerk {
namespace {

TEST(ManifestTest, ReadsStringMembersWithoutParsingJson) {
    const struct {
        std::string json, key, value;
    } cases[] = {
        {R"({"version":"2.3.0","download_url":"https://h/"})", "download_url", "https://h/"},
        {"{\"version\" \t:\r\n \"2.3.0\"}", "version", "2.3.0"},
        {R"({"version":3,"download_url":"x"})", "version", "download_url"},
        {R"({"version":"2.3\"x"})", "version", "2.3\\"},
        {R"({"version":"2.3.0)", "version", ""},
        {R"({"Version":"2.3.0"})", "version", ""},
        {R"({"a":{"version":"1.0.0"},"version":"2.3.0"})", "version", "1.0.0"},
    };
    for (const auto& c : cases) EXPECT_EQ(GetJsonStringValue(c.json, c.key), c.value) << c.json;
}

// The page is printed and stored line by line: only printable ASCII https.
TEST(ManifestTest, DownloadPageMustBePrintableAsciiHttps) {
    const struct {
        std::string address;
        bool usable;
    } cases[] = {
        {"HTTPS://h/p?a=%C3%A4", true}, {"http://h/p", false},      {"https://h/\xc3\xa4", false},
        {"https://h/\xc2\x9b", false},  {"https://h/\x9b", false},  {"https://h/p q", false},
        {"https://h/p\r\nx=", false},   {"https://h/p\x7f", false}, {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsUsableDownloadPageUrl(c.address), c.usable) << c.address;
}

}  // namespace
}  // namespace holwerk
