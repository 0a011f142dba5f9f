// The installation ID is made of fresh version 4 GUIDs as braced upper-case
// text.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/win32.h"

namespace {

TEST(GuidContract, GuidsAreFreshVersionFourInBracedUpperCase) {
    GUID guid = {0x0123abcd, 0x4e5f, 0x46a7, {0x8b, 0x9c, 0xd0, 0xe1, 0xf2, 0x03, 0x14, 0x25}};
    WCHAR buffer[39] = {};
    ASSERT_EQ(StringFromGUID2(guid, buffer, 39), 39);
    EXPECT_EQ(std::string(buffer, buffer + 39),
              std::string("{0123ABCD-4E5F-46A7-8B9C-D0E1F2031425}", 39));
    std::set<std::string> seen;
    for (int i = 0; i < 8; ++i) {
        ASSERT_EQ(CoCreateGuid(&guid), S_OK);
        ASSERT_EQ(StringFromGUID2(guid, buffer, 39), 39);
        const std::string text(buffer, buffer + 38);
        EXPECT_TRUE(text[15] == '4' && std::string("89AB").find(text[20]) != std::string::npos)
            << text;
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 8u);
}

}  // namespace
