#include "update/manifest.h"

#include <gtest/gtest.h>

namespace holwerk {
namespace {

const std::string Id = "0f1e2d3c-4b5a-4697-8877-665544332211";

TEST(ManifestTest, JoinsTheIdAsQueryParameterBeforeAnyFragment) {
    const struct {
        const char* base;
        std::string request;
    } cases[] = {
        {"https://h/m.json", "https://h/m.json?installation_id=" + Id},
        {"https://h/m.json?x=1", "https://h/m.json?x=1&installation_id=" + Id},
        {"https://h/m.json#top", "https://h/m.json?installation_id=" + Id + "#top"},
        {"https://h/m.json?x=1#a#b", "https://h/m.json?x=1&installation_id=" + Id + "#a#b"},
        {"https://h/m.json#a?b", "https://h/m.json?installation_id=" + Id + "#a?b"},
    };
    for (const auto& c : cases) EXPECT_EQ(BuildManifestRequestUrl(c.base, Id), c.request);
}

TEST(ManifestTest, ReadsStringMembersWithoutParsingJson) {
    const struct {
        const char* label;
        std::string json;
        std::string key;
        std::string value;
    } cases[] = {
        {"plain", R"({"version":"2.3.0","download_url":"https://h/"})", "version", "2.3.0"},
        {"second member", R"({"version":"2.3.0","download_url":"https://h/"})", "download_url",
         "https://h/"},
        {"blanks around colon", "{\"version\" \t:\r\n \"2.3.0\"}", "version", "2.3.0"},
        {"missing key", R"({"name":"x"})", "version", ""},
        {"number takes next string", R"({"version":3,"download_url":"https://h/"})", "version",
         "download_url"},
        {"escaped quote cuts", R"({"version":"2.3\"x"})", "version", "2.3\\"},
        {"slash escape stays", R"({"download_url":"https:\/\/h\/"})", "download_url",
         "https:\\/\\/h\\/"},
        {"empty value", R"({"version":""})", "version", ""},
        {"no colon", R"({"version" "2.3.0"})", "version", ""},
        {"no opening quote", R"({"version":2})", "version", ""},
        {"no closing quote", R"({"version":"2.3.0)", "version", ""},
        {"key case matters", R"({"Version":"2.3.0"})", "version", ""},
        {"first occurrence, nested", R"({"a":{"version":"1.0.0"},"version":"2.3.0"})", "version",
         "1.0.0"},
        {"key as a value", R"({"name":"version","x":"y"})", "version", "y"},
    };
    for (const auto& c : cases) EXPECT_EQ(GetJsonStringValue(c.json, c.key), c.value) << c.label;
}

TEST(ManifestTest, RecognisesHttpsAddressesInAnyLetterCase) {
    const struct {
        const char* address;
        bool https;
    } cases[] = {
        {"https://h/", true},   {"HTTPS://H/", true}, {"HtTpS://h", true}, {"https://", true},
        {"http://h/", false},   {"https:/h/", false}, {"https", false},    {"", false},
        {" https://h/", false}, {"ftp://h/", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsHttpsUrl(c.address), c.https) << c.address;
}

TEST(ManifestTest, DownloadPageWithControlBytesBlanksOrNonAsciiIsUnusable) {
    const struct {
        std::string address;
        bool usable;
    } cases[] = {
        {"https://h/p", true},
        {"HTTPS://h/p?a=b", true},
        {"https://h/%C3%A4", true},
        {"https://h/\xc3\xa4", false},
        {"https://h/\xc2\x9b"
         "2J",
         false},
        {"https://h/\x9b"
         "2J",
         false},
        {"http://h/p", false},
        {"https://h/p q", false},
        {"https://h/p\r\nnewer_seen=", false},
        {"https://h/p\x1b[2J", false},
        {"https://h/p\t", false},
        {"https://h/p\x7f", false},
        {std::string("https://h/p\0x", 13), false},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsUsableDownloadPageUrl(c.address), c.usable) << c.address;
    }
}

}  // namespace
}  // namespace holwerk
