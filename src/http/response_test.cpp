#include "http/response.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace holwerk {
namespace {

TEST(ReadBodyFramingTest, TrustsOnlyFramingThatLeavesNoDoubt) {
    using enum BodyFraming;
    const struct {
        std::vector<std::string> lengths;
        std::vector<std::string> encodings;
        BodyFraming framing;
        std::uint64_t length;
    } cases[] = {
        {{}, {}, UntilClose, 0},
        {{" \t007\t "}, {}, Length, 7},
        {{"20, 20", "20"}, {}, Length, 20},
        {{"18446744073709551615"}, {}, Length, 18446744073709551615u},
        {{"18446744073709551616"}, {}, Invalid, 0},
        {{"2 0"}, {}, Invalid, 0},
        {{"0x14"}, {}, Invalid, 0},
        {{"+20"}, {}, Invalid, 0},
        {{""}, {}, Invalid, 0},
        {{"20,"}, {}, Invalid, 0},
        {{"10", "20"}, {}, Invalid, 0},
        {{"2 0"}, {" ChUnKeD\t"}, Chunked, 0},
        {{"20"}, {"gzip"}, Invalid, 0},
        {{}, {"identity"}, Invalid, 0},
        {{}, {"gzip, chunked"}, Invalid, 0},
        {{}, {"chunked", "chunked"}, Invalid, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.lengths) + ::testing::PrintToString(c.encodings));
        std::uint64_t length = 0;
        EXPECT_EQ(ReadBodyFraming(c.lengths, c.encodings, length), c.framing);
        if (c.framing == Length) {
            EXPECT_EQ(length, c.length);
        }
    }
}

}  // namespace
}  // namespace holwerk
