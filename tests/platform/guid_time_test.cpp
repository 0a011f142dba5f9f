#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/win32.h"

namespace {

std::string GuidText(const GUID& guid, int capacity) {
    WCHAR buffer[64] = {};
    const int length = StringFromGUID2(guid, buffer, capacity);
    if (length == 0) return "";
    EXPECT_EQ(length, 39);
    std::string text;
    // The text is ASCII; each unit is one character.
    for (int i = 0; i < length - 1; ++i) text += static_cast<char>(buffer[i]);
    EXPECT_EQ(buffer[length - 1], 0);
    return text;
}

TEST(GuidContract, WritesBracedUpperCaseTextWithTerminatorCounted) {
    const GUID guid = {
        0x0123abcd, 0x4e5f, 0x46a7, {0x8b, 0x9c, 0xd0, 0xe1, 0xf2, 0x03, 0x14, 0x25}};
    EXPECT_EQ(GuidText(guid, 64), "{0123ABCD-4E5F-46A7-8B9C-D0E1F2031425}");
    EXPECT_EQ(GuidText(guid, 39), "{0123ABCD-4E5F-46A7-8B9C-D0E1F2031425}");
    // No room for the terminator: nothing.
    WCHAR buffer[64] = {};
    EXPECT_EQ(StringFromGUID2(guid, buffer, 38), 0);
}

TEST(GuidContract, MakesDistinctVersionFourGuids) {
    std::set<std::string> seen;
    for (int i = 0; i < 64; ++i) {
        GUID guid = {};
        ASSERT_EQ(CoCreateGuid(&guid), S_OK);
        const std::string text = GuidText(guid, 64);
        ASSERT_EQ(text.size(), 38u);
        EXPECT_EQ(text[15], '4') << text;
        EXPECT_NE(std::string("89AB").find(text[20]), std::string::npos) << text;
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 64u);
}

TEST(LocalTimeContract, GivesACalendarDate) {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    EXPECT_GE(now.wYear, 2024);
    EXPECT_GE(now.wMonth, 1);
    EXPECT_LE(now.wMonth, 12);
    EXPECT_GE(now.wDay, 1);
    EXPECT_LE(now.wDay, 31);
    EXPECT_LE(now.wHour, 23);
    EXPECT_LE(now.wMilliseconds, 999);
}

}  // namespace
