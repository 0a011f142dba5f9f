#include "storage/text_encoding.h"

#include <gtest/gtest.h>

#include <string>

#include "support/scratch_folder.h"

namespace holwerk {
namespace {

// The conversions are pinned, with the code-page functions beneath them, by
// the platform contract tests (tests/platform/code_pages_test.cpp).

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
