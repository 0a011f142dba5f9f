// UTF-8 and UTF-16 at the boundary to the operating system: the program's own
// conversions and the code-page functions beneath them. The same cases run
// against the POSIX layer and against Windows, so both decode and encode
// alike.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32.h"
#include "storage/text_encoding.h"
#include "support/wine.h"

namespace holwerk {
namespace {

constexpr WCHAR Guard = 0x7777;

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (const char raw : bytes) {
        const auto byte = static_cast<unsigned char>(raw);
        text += "\\x";
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

// Whether Utf8ToUtf16 succeeded and, if so, the units it wrote before the
// terminator.
struct Converted {
    bool ok = false;
    std::vector<WCHAR> units;
};

Converted ToUtf16(const std::string& text, std::int64_t capacity = 64) {
    std::vector<WCHAR> buffer(64, Guard);
    Converted converted;
    converted.ok = Utf8ToUtf16(text, buffer.data(), capacity);
    if (converted.ok) {
        for (const WCHAR unit : buffer) {
            if (unit == 0) break;
            converted.units.push_back(unit);
        }
    }
    return converted;
}

std::vector<WCHAR> Units(std::initializer_list<unsigned> values) {
    std::vector<WCHAR> units;
    for (const unsigned value : values) units.push_back(static_cast<WCHAR>(value));
    return units;
}

TEST(Utf8ToUtf16Test, ConvertsWellFormedText) {
    struct Case {
        std::string text;
        std::vector<WCHAR> units;
    };
    const Case cases[] = {
        {"", Units({})},
        {"a", Units({0x61})},
        {"\xC3\xA4", Units({0xE4})},                    // ä
        {"\xE2\x82\xAC", Units({0x20AC})},              // €
        {"\xEF\xBF\xBF", Units({0xFFFF})},              // last of the BMP
        {"\xF0\x9F\x98\x80", Units({0xD83D, 0xDE00})},  // U+1F600 takes two units
        {"\xF4\x8F\xBF\xBF", Units({0xDBFF, 0xDFFF})},  // U+10FFFF, the highest
        {"\xC2\x80", Units({0x80})},                    // shortest two-byte form
        {"\xE0\xA0\x80", Units({0x800})},
        {"\xF0\x90\x80\x80", Units({0xD800, 0xDC00})},
        {"\xED\x9F\xBF", Units({0xD7FF})},  // just below the surrogates
        {"\xEE\x80\x80", Units({0xE000})},  // just above them
        {"Gr\xC3\xB6\xC3\x9F"
         "e",
         Units({0x47, 0x72, 0xF6, 0xDF, 0x65})},
    };
    for (const Case& c : cases) {
        const Converted converted = ToUtf16(c.text);
        EXPECT_TRUE(converted.ok) << Hex(c.text);
        EXPECT_EQ(converted.units, c.units) << Hex(c.text);
    }
}

// Strict decoding: the platform refuses instead of substituting, so a name the
// user never typed cannot reach the file system.
TEST(Utf8ToUtf16Test, RefusesIllFormedText) {
    const std::string cases[] = {
        // Lone continuation bytes, alone and inside text.
        "\x80",
        "a\xBF"
        "b",
        // Overlong forms: "/" in two, three and four bytes; U+07FF; U+FFFF.
        "\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xE0\x9F\xBF", "\xF0\x80\x80\xAF",
        "\xF0\x8F\xBF\xBF",
        // Truncated sequences, at the end and followed by text.
        "\xC3", "\xE2\x82", "\xF0\x9F\x98",
        "\xE2\x82"
        "a",
        // Encoded surrogates U+D800 and U+DFFF, and a pair encoded as two.
        "\xED\xA0\x80", "\xED\xBF\xBF", "\xED\xA0\xBD\xED\xB8\x80",
        // Above U+10FFFF: U+110000, a lead byte beyond it, a five-byte form.
        "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xF8\x88\x80\x80\x80",
        // Never valid in UTF-8.
        "\xFE", "\xFF"};
    for (const std::string& text : cases) {
        EXPECT_FALSE(ToUtf16(text).ok) << Hex(text);
        EXPECT_FALSE(ToUtf16("ok/" + text).ok) << Hex(text) << " after text";
    }
}

TEST(Utf8ToUtf16Test, NulByteInsideTheTextBecomesANulUnit) {
    WCHAR buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), Guard);
    ASSERT_TRUE(Utf8ToUtf16(std::string("a\0b", 3), buffer, 8));
    EXPECT_EQ(buffer[0], u'a');
    EXPECT_EQ(buffer[1], 0);
    EXPECT_EQ(buffer[2], u'b');
    EXPECT_EQ(buffer[3], 0);
    EXPECT_EQ(buffer[4], Guard);
}

// At most capacity - 1 units fit; the terminator takes the last one and
// nothing past the capacity is touched.
TEST(Utf8ToUtf16Test, CapacityCountsTheTerminator) {
    struct Case {
        std::string text;
        std::int64_t capacity;
        bool fits;
    };
    const Case cases[] = {
        {"", 1, true},
        {"abc", 4, true},
        {"abc", 3, false},
        {"\xC3\xA4\xC3\xA4", 3, true},  // two units from four bytes
        {"\xC3\xA4\xC3\xA4", 2, false},
        {"\xF0\x9F\x98\x80", 3, true},  // two units for one character
        {"\xF0\x9F\x98\x80", 2, false},
        {"a\xF0\x9F\x98\x80", 3, false},
    };
    for (const Case& c : cases) {
        std::vector<WCHAR> buffer(static_cast<std::size_t>(c.capacity) + 4, Guard);
        const bool ok = Utf8ToUtf16(c.text, buffer.data(), c.capacity);
        EXPECT_EQ(ok, c.fits) << Hex(c.text) << " in " << c.capacity;
        for (std::size_t i = static_cast<std::size_t>(c.capacity); i < buffer.size(); ++i) {
            EXPECT_EQ(buffer[i], Guard) << Hex(c.text) << " wrote past unit " << i;
        }
        if (ok) {
            EXPECT_EQ(buffer[static_cast<std::size_t>(c.capacity) - 1], 0) << Hex(c.text);
        }
    }
}

TEST(Utf8ToUtf16Test, LongestPathFitsThePathBufferAndOneUnitMoreDoesNot) {
    std::vector<WCHAR> buffer(PathBufferUnits + 1, Guard);
    const std::string longest(PathBufferUnits - 1, 'p');
    ASSERT_TRUE(Utf8ToUtf16(longest, buffer.data(), PathBufferUnits));
    EXPECT_EQ(buffer[PathBufferUnits - 2], u'p');
    EXPECT_EQ(buffer[PathBufferUnits - 1], 0);
    EXPECT_EQ(buffer[PathBufferUnits], Guard);

    std::fill(buffer.begin(), buffer.end(), Guard);
    EXPECT_FALSE(Utf8ToUtf16(longest + "p", buffer.data(), PathBufferUnits));
    EXPECT_EQ(buffer[PathBufferUnits], Guard);

    // Characters outside the BMP count two units each.
    std::string wide;
    for (int i = 0; i < (PathBufferUnits - 1) / 2; ++i) wide += "\xF0\x9F\x98\x80";
    EXPECT_FALSE(Utf8ToUtf16(wide + "\xF0\x9F\x98\x80", buffer.data(), PathBufferUnits));
    EXPECT_TRUE(Utf8ToUtf16(wide + "p", buffer.data(), PathBufferUnits));
}

// A path's buffer is sized to the path, but the limit stays the full one.
TEST(Utf8ToUtf16PathTest, ConvertsEveryPathThatFitsTheFullLimit) {
    const std::string longest(PathBufferUnits - 1, 'p');
    std::string pairs;
    for (int i = 0; i < (PathBufferUnits - 1) / 2; ++i) pairs += "\xF0\x9F\x98\x80";
    struct Case {
        const char* name;
        std::string path;
        bool fits;
        std::size_t units;  // converted, without the terminator
    };
    const Case cases[] = {
        {"empty", "", true, 0},
        {"one byte per unit", "a/b", true, 3},
        {"two bytes per unit", "\xC3\xA4", true, 1},
        {"ill-formed", "a\xFF", false, 0},
        {"longest", longest, true, PathBufferUnits - 1},
        {"one unit too long", longest + "p", false, 0},
        {"longest with pairs", pairs + "p", true, PathBufferUnits - 1},
        {"a pair past the limit", pairs + "\xF0\x9F\x98\x80", false, 0},
    };
    for (const Case& c : cases) {
        std::vector<WCHAR> wide;
        const bool ok = Utf8ToUtf16Path(c.path, wide);
        EXPECT_EQ(ok, c.fits) << c.name;
        if (ok) {
            EXPECT_EQ(std::basic_string<WCHAR>(wide.data()).size(), c.units) << c.name;
        }
    }
}

// Capacity 1 leaves no room for a converted unit, and asking the platform for
// an output size of 0 would make it measure instead of convert.
TEST(Utf8ToUtf16Test, RefusesUnusableBuffersWithoutTouchingThem) {
    struct Case {
        std::string text;
        std::int64_t capacity;
    };
    const Case cases[] = {
        {"a", 1}, {"abc", 1}, {"a", 0}, {"", 0}, {"a", -1}, {"", -1}, {"a", INT64_MIN},
    };
    for (const Case& c : cases) {
        WCHAR buffer[4] = {Guard, Guard, Guard, Guard};
        EXPECT_FALSE(Utf8ToUtf16(c.text, buffer, c.capacity)) << c.capacity;
        for (const WCHAR unit : buffer) EXPECT_EQ(unit, Guard) << Hex(c.text) << " " << c.capacity;
    }
    EXPECT_FALSE(Utf8ToUtf16("a", nullptr, 8));
    EXPECT_FALSE(Utf8ToUtf16("", nullptr, 8));
}

TEST(Utf16ToUtf8Test, ConvertsNullAndEmptyAndReplacesUnpairedSurrogates) {
    struct Case {
        std::vector<WCHAR> units;
        std::string text;
    };
    const Case cases[] = {
        {Units({}), ""},
        {Units({0x61}), "a"},
        {Units({0xE4}), "\xC3\xA4"},
        {Units({0x20AC}), "\xE2\x82\xAC"},
        {Units({0xD83D, 0xDE00}), "\xF0\x9F\x98\x80"},
        {Units({0xDBFF, 0xDFFF}), "\xF4\x8F\xBF\xBF"},
        {Units({0xD800}), "\xEF\xBF\xBD"},  // lone high surrogate
        {Units({0xDC00}), "\xEF\xBF\xBD"},  // lone low surrogate
        {Units({0xD800, 0x41}),
         "\xEF\xBF\xBD"
         "A"},  // high before a letter
        {Units({0x41, 0xDFFF, 0x42}),
         "A\xEF\xBF\xBD"
         "B"},                                                  // low inside text
        {Units({0xDE00, 0xD83D}), "\xEF\xBF\xBD\xEF\xBF\xBD"},  // pair in wrong order
        {Units({0xD83D, 0xD83D, 0xDE00}), "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
    };
    for (const Case& c : cases) {
        std::vector<WCHAR> terminated = c.units;
        terminated.push_back(0);
        EXPECT_EQ(Hex(Utf16ToUtf8(terminated.data())), Hex(c.text));
    }
    EXPECT_EQ(Utf16ToUtf8(nullptr), "");
}

TEST(Utf16ToUtf8Test, LongestPathComesBackWhole) {
    std::vector<WCHAR> buffer(PathBufferUnits);
    std::string path;
    for (int i = 0; i < 10000; ++i) path += "\xC3\xA4";
    path += std::string(PathBufferUnits - 1 - 10000, 'x');
    ASSERT_TRUE(Utf8ToUtf16(path, buffer.data(), PathBufferUnits));
    EXPECT_EQ(Utf16ToUtf8(buffer.data()), path);
}

// What the conversions above rely on from the platform.
TEST(CodePagesContract, StrictDecodingRefusesLoneContinuationByte) {
    WCHAR buffer[8] = {};
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\x80", 2, buffer, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
}

TEST(CodePagesContract, OutputSizeZeroMeasuresWithoutWriting) {
    WCHAR buffer[4] = {Guard, Guard, Guard, Guard};
    EXPECT_EQ(
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "ab\xF0\x9F\x98\x80", 6, buffer, 0), 4);
    for (const WCHAR unit : buffer) EXPECT_EQ(unit, Guard);

    // With length -1 the terminator is converted and counted too.
    const WCHAR text[] = {u'a', 0xE4, 0};
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr), 4);
}

TEST(CodePagesContract, TooSmallOutputFailsWithInsufficientBuffer) {
    WCHAR wide[2] = {Guard, Guard};
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "abc", 3, wide, 2), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

    const WCHAR text[] = {u'a', 0xE4, 0};
    char narrow[3] = {};
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, 3, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(CodePagesContract, HalfASurrogatePairDoesNotFit) {
    if (RunningUnderWine()) {
        GTEST_SKIP() << "Wine 8 writes the high surrogate alone and reports success; "
                        "Utf8ToUtf16 refuses such a result itself";
    }
    WCHAR wide[3] = {Guard, Guard, Guard};
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xF0\x9F\x98\x80", 5, wide, 2),
              0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(CodePagesContract, ExactOutputSizeConvertsWithoutTerminator) {
    WCHAR wide[4] = {Guard, Guard, Guard, Guard};
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "abc", 3, wide, 3), 3);
    EXPECT_EQ(wide[2], u'c');
    EXPECT_EQ(wide[3], Guard);
}

}  // namespace
}  // namespace holwerk
