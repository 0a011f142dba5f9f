#include "storage/text_encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/scratch_folder.h"

namespace holwerk {
namespace {

// ------------------------------------------------------------ Utf8ToUtf16

TEST(Utf8ToUtf16, EmptyTextGivesAnEmptyTerminatedBuffer) {
    WCHAR buffer[2] = {0x41, 0x41};
    EXPECT_TRUE(Utf8ToUtf16("", buffer, 2));
    EXPECT_EQ(buffer[0], 0);
}

TEST(Utf8ToUtf16, PathOf32767UnitsFitsAndOneMoreDoesNot) {
    std::vector<WCHAR> buffer(PathBufferUnits);
    EXPECT_TRUE(Utf8ToUtf16(std::string(32767, 'a'), buffer.data(), PathBufferUnits));
    EXPECT_EQ(buffer[32766], u'a');
    EXPECT_EQ(buffer[32767], 0);
    EXPECT_FALSE(Utf8ToUtf16(std::string(32768, 'a'), buffer.data(), PathBufferUnits));
}

TEST(Utf8ToUtf16, CharacterBeyondTheBasicPlaneTakesTwoUnits) {
    WCHAR buffer[3] = {};
    EXPECT_FALSE(Utf8ToUtf16("\xF0\x9F\x98\x80", buffer, 2));
    ASSERT_TRUE(Utf8ToUtf16("\xF0\x9F\x98\x80", buffer, 3));
    EXPECT_EQ(buffer[0], 0xD83D);
    EXPECT_EQ(buffer[1], 0xDE00);
    EXPECT_EQ(buffer[2], 0);
}

TEST(Utf8ToUtf16, IllFormedTextFails) {
    WCHAR buffer[16] = {};
    for (const char* text : {"\x80", "a\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"}) {
        EXPECT_FALSE(Utf8ToUtf16(text, buffer, 16)) << text;
    }
}

TEST(Utf8ToUtf16, CapacityBelowOneFailsWithoutTouchingTheBuffer) {
    WCHAR buffer[1] = {0x41};
    EXPECT_FALSE(Utf8ToUtf16("", buffer, 0));
    EXPECT_FALSE(Utf8ToUtf16("a", buffer, -1));
    EXPECT_FALSE(Utf8ToUtf16("a", nullptr, 8));
    EXPECT_EQ(buffer[0], 0x41);
}

TEST(Utf16ToUtf8, NullEmptyAndUnpairedSurrogates) {
    EXPECT_EQ(Utf16ToUtf8(nullptr), "");
    const WCHAR empty[] = {0};
    EXPECT_EQ(Utf16ToUtf8(empty), "");
    const WCHAR text[] = {0x00FC, 0xD800, 0x0061, 0};
    EXPECT_EQ(Utf16ToUtf8(text),
              "\xC3\xBC\xEF\xBF\xBD"
              "a");
}

// ------------------------------------------------------------ FileExists

TEST(FileExists, TrueForFilesAndFoldersFalseForWhatCannotBeNamed) {
    ScratchFolder scratch;
    WriteWholeFile(scratch.Path("datei"), "");
    EXPECT_TRUE(FileExists(scratch.Path("datei")));
    EXPECT_TRUE(FileExists(scratch.path()));
    EXPECT_FALSE(FileExists(scratch.Path("fehlt")));
    EXPECT_FALSE(FileExists(scratch.Path("fehlt") + PathSeparator + "datei"));
    EXPECT_FALSE(FileExists(""));
    EXPECT_FALSE(FileExists(scratch.path() + "\xFF"));
    EXPECT_FALSE(FileExists(std::string(32768, 'a')));
}

}  // namespace
}  // namespace holwerk
