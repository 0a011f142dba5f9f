#include "http/response.h"

#include <gtest/gtest.h>

#include <string>

namespace holwerk {
namespace {

TEST(IsRedirectStatusTest, FollowsOnlyTheFiveRedirectStatuses) {
    for (std::uint32_t status = 0; status < 1000; ++status) {
        const bool followed =
            status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
        EXPECT_EQ(IsRedirectStatus(status), followed) << status;
    }
    EXPECT_FALSE(IsRedirectStatus(0xFFFFFFFFu));
}

struct LengthCase {
    const char* text;
    bool accepted;
    std::uint64_t length;
};

TEST(ParseContentLengthTest, ReadsOnlyPlainDigitsThatFit64Bits) {
    const LengthCase cases[] = {
        {"0", true, 0},
        {"10", true, 10},
        {"007", true, 7},
        {"4294967295", true, 4294967295u},
        {"4294967306", true, 4294967306u},
        {"18446744073709551615", true, 18446744073709551615u},
        {"18446744073709551616", false, 0},
        {"99999999999999999999", false, 0},
        {"", false, 0},
        {"-1", false, 0},
        {"+1", false, 0},
        {" 1", false, 0},
        {"1 ", false, 0},
        {"1,2", false, 0},
        {"0x10", false, 0},
        {"1e3", false, 0},
    };
    for (const LengthCase& expected : cases) {
        SCOPED_TRACE(expected.text);
        std::uint64_t length = 12345;
        EXPECT_EQ(ParseContentLength(expected.text, length), expected.accepted);
        EXPECT_EQ(length, expected.accepted ? expected.length : 12345u);
    }
}

struct BodyCase {
    std::uint64_t announced;
    std::uint64_t received;
    bool ended;
    DWORD error;
};

TEST(BodyLengthErrorTest, RefusesBodiesThatEndShortOrRunLong) {
    const BodyCase cases[] = {
        {10, 10, true, 0},
        {10, 4, false, 0},
        {10, 10, false, 0},
        {0, 0, true, 0},
        {10, 9, true, 12030},
        {10, 0, true, 12030},
        {4294967306u, 10, true, 12030},
        {10, 11, false, 12152},
        {0, 1, false, 12152},
    };
    for (const BodyCase& expected : cases) {
        SCOPED_TRACE(std::to_string(expected.announced) + "/" + std::to_string(expected.received));
        EXPECT_EQ(BodyLengthError(expected.announced, expected.received, expected.ended),
                  expected.error);
    }
}

}  // namespace
}  // namespace holwerk
