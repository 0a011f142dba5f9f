#include "common/windows_error.h"

#include <gtest/gtest.h>

namespace holwerk {
namespace {

TEST(WindowsErrorTextTest, WritesCodeAsUnsignedDecimal) {
    EXPECT_EQ(WindowsErrorText(5), "Windows-Fehler 5");
    EXPECT_EQ(WindowsErrorText(0), "Windows-Fehler 0");
    EXPECT_EQ(WindowsErrorText(12002), "Windows-Fehler 12002");
    EXPECT_EQ(WindowsErrorText(0x80004005u), "Windows-Fehler 2147500037");
    EXPECT_EQ(WindowsErrorText(0xFFFFFFFFu), "Windows-Fehler 4294967295");
}

}  // namespace
}  // namespace holwerk
