#include "common/ascii.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace holwerk {
namespace {

TEST(AsciiTest, LowerCasesAsciiLettersOnly) {
    struct Case {
        std::string text;
        std::string lower;
    };
    const Case cases[] = {
        {"", ""},
        {"HTTPS://Example.COM", "https://example.com"},
        {"@AZ[`az{", "@az[`az{"},
        {"\xC3\x84\xC3\x96", "\xC3\x84\xC3\x96"},  // "ÄÖ" stays as it is
        {std::string("A\0B", 3), std::string("a\0b", 3)},
    };
    for (const Case& c : cases) EXPECT_EQ(ToAsciiLower(c.text), c.lower) << c.text;
}

// What may never reach a request line, a header or a console line as it is.
TEST(AsciiTest, ControlBytesBlankAndDeleteAreControlOrBlank) {
    for (const unsigned char byte :
         std::initializer_list<unsigned char>{0x00, 0x09, 0x0A, 0x0D, 0x1B, 0x1F, 0x20, 0x7F}) {
        EXPECT_TRUE(IsControlOrBlank(byte)) << int{byte};
    }
    // Bytes from 0x80 belong to UTF-8 text; callers that refuse them say so.
    for (const unsigned char byte :
         std::initializer_list<unsigned char>{0x21, 0x41, 0x7E, 0x80, 0x9B, 0xC3, 0xFF}) {
        EXPECT_FALSE(IsControlOrBlank(byte)) << int{byte};
    }
}

}  // namespace
}  // namespace holwerk
