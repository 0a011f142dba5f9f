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

}  // namespace
}  // namespace holwerk
