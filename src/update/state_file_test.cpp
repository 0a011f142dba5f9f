#include "update/state_file.h"

#include <gtest/gtest.h>

namespace holwerk {
namespace {

struct ValueCase {
    const char* label;
    std::string text;
    std::string key;
    std::string value;
};

TEST(StateFileTest, ReadsValuesByTheFileRules) {
    const ValueCase cases[] = {
        {"empty file", "", "last_check", ""},
        {"absent key", "newer_seen=2026-01-02\r\n", "last_check", ""},
        {"CR LF line", "last_check=2026-01-02\r\nnewer_seen=\r\n", "last_check", "2026-01-02"},
        {"empty value", "last_check=2026-01-02\r\nnewer_seen=\r\n", "newer_seen", ""},
        {"LF only", "a=1\nlast_check=2026-01-02\nb=2\n", "last_check", "2026-01-02"},
        {"blanks around", "newer_seen=  2026-01-02  \r\n", "newer_seen", "2026-01-02"},
        {"CR CR LF", "latest_version=2.3.0\r\r\n", "latest_version", "2.3.0"},
        {"last line without end", "x=1\r\ndownload_url=https://h/p", "download_url", "https://h/p"},
        {"other letter case", "Last_check=2026-01-02\r\n", "last_check", ""},
        {"first occurrence wins", "last_check=1\r\nlast_check=2\r\n", "last_check", "1"},
        {"inside an earlier line", "xlast_check=early\r\nlast_check=late\r\n", "last_check",
         "early"},
        {"tab stays", "newer_seen=\t2026-01-02\r\n", "newer_seen", "\t2026-01-02"},
        {"equals sign in value", "download_url=https://h/p?a=b&c=d\r\n", "download_url",
         "https://h/p?a=b&c=d"},
        {"only blanks", "newer_seen=   \r\n", "newer_seen", ""},
        {"no line end after equals", "newer_seen=", "newer_seen", ""},
        {"value ends at first LF", "download_url=https://a\rb\nc\r\n", "download_url",
         "https://a\rb"},
    };
    for (const ValueCase& c : cases) {
        EXPECT_EQ(GetStateValue(c.text, c.key), c.value) << c.label;
    }
}

TEST(StateFileTest, ReadsBackWhatItWrites) {
    UpdateState written;
    written.lastCheck = "2026-12-06";
    written.newerSeen = "2026-11-01";
    written.latestVersion = "2.3.0";
    written.downloadUrl = "https://h/x";
    UpdateState read;
    ReadUpdateState("extra=1\n" + FormatUpdateState(written), read);
    EXPECT_EQ(read.lastCheck, written.lastCheck);
    EXPECT_EQ(read.newerSeen, written.newerSeen);
    EXPECT_EQ(read.latestVersion, written.latestVersion);
    EXPECT_EQ(read.downloadUrl, written.downloadUrl);
}

}  // namespace
}  // namespace holwerk
