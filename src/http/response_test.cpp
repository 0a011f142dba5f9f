#include "http/response.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

struct FramingCase {
    std::vector<std::string> lengths;
    std::vector<std::string> encodings;
    BodyFraming framing;
    std::uint64_t length;
};

TEST(ReadBodyFramingTest, TrustsOnlyFramingThatLeavesNoDoubt) {
    using enum BodyFraming;
    const FramingCase cases[] = {
        {{}, {}, UntilClose, 0},
        {{"20"}, {}, Length, 20},
        {{"0"}, {}, Length, 0},
        {{" \t007\t "}, {}, Length, 7},
        {{"20, 20", "20"}, {}, Length, 20},
        {{"18446744073709551615"}, {}, Length, 18446744073709551615u},
        {{"4294967306"}, {}, Length, 4294967306u},
        {{"18446744073709551616"}, {}, Invalid, 0},
        {{std::string(100, '9')}, {}, Invalid, 0},
        {{"2 0"}, {}, Invalid, 0},
        {{"0x14"}, {}, Invalid, 0},
        {{"1e3"}, {}, Invalid, 0},
        {{"05.0"}, {}, Invalid, 0},
        {{"+20"}, {}, Invalid, 0},
        {{"-1"}, {}, Invalid, 0},
        {{""}, {}, Invalid, 0},
        {{"10, 20"}, {}, Invalid, 0},
        {{"20,"}, {}, Invalid, 0},
        {{"10", "20"}, {}, Invalid, 0},
        {{}, {"chunked"}, Chunked, 0},
        {{"5"}, {" ChUnKeD\t"}, Chunked, 0},
        {{"2 0"}, {"chunked"}, Chunked, 0},
        {{}, {"identity"}, Invalid, 0},
        {{"20"}, {"gzip"}, Invalid, 0},
        {{}, {""}, Invalid, 0},
        {{}, {"gzip, chunked"}, Invalid, 0},
        {{}, {"chunked", "chunked"}, Invalid, 0},
        {{}, {"chunked,"}, Invalid, 0},
    };
    for (const FramingCase& expected : cases) {
        SCOPED_TRACE(::testing::PrintToString(expected.lengths) + " " +
                     ::testing::PrintToString(expected.encodings));
        std::uint64_t length = 0;
        EXPECT_EQ(ReadBodyFraming(expected.lengths, expected.encodings, length), expected.framing);
        if (expected.framing == Length) {
            EXPECT_EQ(length, expected.length);
        }
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
