#include "update/lenient_integer.h"

#include <gtest/gtest.h>

namespace holwerk {
namespace {

TEST(LenientIntegerTest, ReadsSignAndDigitsAfterBlanksAndClampsTo32Bits) {
    const struct {
        const char* text;
        std::int64_t value;
    } cases[] = {
        {"2026", 2026},
        {"  12", 12},
        {"-5", -5},
        {"+7x", 7},
        {"x7", 0},
        {"", 0},
        {"09", 9},
        {"3.1", 3},
        {"99999999999", 2147483647},
        {"-99999999999", -2147483648LL},
    };
    for (const auto& c : cases) EXPECT_EQ(LenientInteger(c.text), c.value) << c.text;
}

}  // namespace
}  // namespace holwerk
