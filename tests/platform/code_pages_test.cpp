#include <gtest/gtest.h>

#include "platform/win32.h"

namespace {

TEST(CodePagesContract, StrictDecodingRefusesLoneContinuationByte) {
    WCHAR buffer[8] = {};
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\x80", 2, buffer, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
}

}  // namespace
