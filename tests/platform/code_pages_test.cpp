// UTF-8 and UTF-16 at the boundary to the operating system: the program's own
// conversions over the code-page functions, run against the POSIX layer and
// against Windows, so that both decode and encode alike.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "storage/text_encoding.h"

namespace holwerk {
namespace {

constexpr WCHAR Guard = 0x7777;
using Units = std::basic_string<WCHAR>;

TEST(CodePagesContract, WellFormedTextConvertsToItsUnits) {
    const struct {
        std::string text;
        Units units;
    } cases[] = {
        {"", Units{}},
        {"Gr\xC3\xB6\xC3\x9F", Units{0x47, 0x72, 0xF6, 0xDF}},
        // The first and last of each length, and either side of the surrogates.
        {"\xC2\x80\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF",
         Units{0x80, 0x800, 0xD7FF, 0xE000, 0xFFFF}},
        {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", Units{0xD800, 0xDC00, 0xDBFF, 0xDFFF}},
        {std::string("a\0b", 3), Units{0x61, 0, 0x62}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.text));
        std::vector<WCHAR> buffer(16, Guard);
        ASSERT_TRUE(Utf8ToUtf16(c.text, buffer.data(), 16));
        EXPECT_EQ(Units(buffer.data(), c.units.size() + 1), c.units + WCHAR(0));
        EXPECT_EQ(Utf16ToUtf8(buffer.data()), c.text.substr(0, c.text.find('\0')));
    }
}

// Strict decoding: the platform refuses instead of substituting, so a name the
// user never typed cannot reach the file system.
TEST(CodePagesContract, IllFormedTextIsRefused) {
    // Stray, overlong, cut short, surrogates, above U+10FFFF, never UTF-8.
    std::string cases =
        "\x80|\xC0\xAF|\xE0\x80\xAF|\xE0\x9F\xBF|\xF0\x8F\xBF\xBF|\xC3|\xE2\x82\141|\xF0\x9F\x98|"
        "\xED\xA0\x80|\xED\xBF\xBF|\xF4\x90\x80\x80|\xF5\x80\x80\x80|\xF8\x88\x80\x80\x80|\xFE|"
        "\xFF|";
    for (std::size_t end; (end = cases.find('|')) != std::string::npos; cases.erase(0, end + 1)) {
        const std::string text = cases.substr(0, end);
        WCHAR buffer[16];
        EXPECT_FALSE(Utf8ToUtf16(text, buffer, 16)) << ::testing::PrintToString(text);
        EXPECT_FALSE(Utf8ToUtf16("ok/" + text, buffer, 16)) << ::testing::PrintToString(text);
    }
}

// At most capacity - 1 units fit, a surrogate pair whole or not at all; the
// terminator takes the last unit and nothing past the capacity is touched.
TEST(CodePagesContract, CapacityCountsTheTerminatorAndIsNeverOverrun) {
    const std::string emoji = "\xF0\x9F\x98\x80";
    std::string pairs;
    for (int i = 0; i < (PathBufferUnits - 1) / 2; ++i) pairs += emoji;
    const struct {
        std::string text;
        std::int64_t capacity;
        bool fits;
    } cases[] = {{"", 1, true},
                 {"a", 1, false},
                 {"a", 0, false},
                 {"", -1, false},
                 {"abc", 4, true},
                 {"abc", 3, false},
                 {"\xC3\xA4\xC3\xA4", 3, true},
                 {emoji, 3, true},
                 {emoji, 2, false},
                 {"a" + emoji, 3, false},
                 {std::string(PathBufferUnits - 1, 'p'), PathBufferUnits, true},
                 {std::string(PathBufferUnits, 'p'), PathBufferUnits, false},
                 {pairs + "p", PathBufferUnits, true},
                 {pairs + emoji, PathBufferUnits, false}};
    for (const auto& c : cases) {
        const auto room = static_cast<std::size_t>(std::max<std::int64_t>(c.capacity, 0));
        std::vector<WCHAR> buffer(room + 4, Guard);
        EXPECT_EQ(Utf8ToUtf16(c.text, buffer.data(), c.capacity), c.fits)
            << c.text.size() << " bytes in " << c.capacity;
        for (std::size_t i = room == 0 ? 0 : room - 1; i < buffer.size(); ++i) {
            EXPECT_EQ(buffer[i], c.fits && i == room - 1 ? WCHAR(0) : Guard) << i;
        }
        std::vector<WCHAR> path;
        if (c.capacity == PathBufferUnits) {
            EXPECT_EQ(Utf8ToUtf16Path(c.text, path), c.fits);
        }
    }
    EXPECT_FALSE(Utf8ToUtf16("a", nullptr, 8));
}

// Windows keeps unpaired surrogates in names; the way back to UTF-8 marks
// each with U+FFFD rather than dropping or mangling its neighbours.
TEST(CodePagesContract, UnpairedSurrogatesComeBackAsReplacementCharacters) {
    const struct {
        Units units;
        std::string text;
    } cases[] = {{Units{0xD800}, "\xEF\xBF\xBD"},
                 {Units{0x41, 0xDFFF, 0x42}, "A\xEF\xBF\xBD\102"},
                 {Units{0xDE00, 0xD83D}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
                 {Units{0xD83D, 0xD83D, 0xDE00}, "\xEF\xBF\xBD\xF0\x9F\x98\x80"}};
    for (const auto& c : cases) EXPECT_EQ(Utf16ToUtf8(c.units.c_str()), c.text);
    EXPECT_EQ(Utf16ToUtf8(nullptr), "");
}

}  // namespace
}  // namespace holwerk
