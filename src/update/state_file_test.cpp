#include "update/state_file.h"

#include <gtest/gtest.h>

namespace holwerk {
namespace {

TEST(StateFileTest, ReadsValuesByTheFileRules) {
    const struct {
        std::string text, key, value;
    } cases[] = {
        {"newer_seen=2026-01-02\r\n", "last_check", ""},
        {"a=1\nlast_check=2026-01-02\nb=2\n", "last_check", "2026-01-02"},
        {"newer_seen=  \t2026-01-02  \r\r\n", "newer_seen", "\t2026-01-02"},
        {"x=1\r\ndownload_url=https://h/p?a=b", "download_url", "https://h/p?a=b"},
        {"Last_check=1\r\nlast_check=2\r\nlast_check=3\r\n", "last_check", "2"},
        {"xlast_check=early\r\nlast_check=late\r\n", "last_check", "early"},
    };
    for (const auto& c : cases) EXPECT_EQ(GetStateValue(c.text, c.key), c.value) << c.text;
}

TEST(StateFileTest, WritesFourCrLfLinesAndReadsThemBack) {
    const UpdateState written{"2026-12-06", "", "2.3.0", "https://h/x"};
    const std::string text = FormatUpdateState(written);
    EXPECT_EQ(text,
              "last_check=2026-12-06\r\nnewer_seen=\r\nlatest_version=2.3.0\r\n"
              "download_url=https://h/x\r\n");
    UpdateState read;
    ReadUpdateState(text, read);
    EXPECT_EQ(read.lastCheck + read.newerSeen + read.latestVersion + read.downloadUrl,
              "2026-12-062.3.0https://h/x");
}

}  // namespace
}  // namespace holwerk
