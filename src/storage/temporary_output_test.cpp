#include "storage/temporary_output.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/scratch_folder.h"
#include "support/temporary_names.h"

namespace holwerk {
namespace {

// Counts up by one per call, so each attempt's name shows the tick count it
// was given.
DWORD tick = 0;
DWORD CountingTicks() { return tick++; }

class TemporaryOutputTest : public ::testing::Test {
  protected:
    void TearDown() override {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    // A temporary file holding "neu", closed, as a finished download leaves it.
    void Download() {
        tick = 0x100;
        ASSERT_TRUE(CreateTemporaryOutputFile(target, CountingTicks, tempPath, handle, message));
        ASSERT_TRUE(WriteAllBytes(handle, "neu", 3, message));
        CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }
    ScratchFolder scratch;
    const std::string target = scratch.Path("datei.bin");
    std::string tempPath, message;
    HANDLE handle = INVALID_HANDLE_VALUE;
};

TEST_F(TemporaryOutputTest, TakenNameLeadsToTheNextAttemptWithAFreshTickCount) {
    WriteWholeFile(TemporaryName(target, ".part-", 0x100, 1), "fremd");
    Download();
    EXPECT_EQ(tempPath, TemporaryName(target, ".part-", 0x101, 2));
    EXPECT_EQ(ReadWholeFile(TemporaryName(target, ".part-", 0x100, 1)), "fremd");
}

// The check for an existing target happens before the download; a target
// that appears meanwhile must still not be replaced without --force.
TEST_F(TemporaryOutputTest, TargetThatAppearedMeanwhileIsKeptWithoutReplacing) {
    Download();
    WriteWholeFile(target, "alt");
    const std::string kept = tempPath;
    EXPECT_FALSE(CommitOutputFile(tempPath, target, false, message));
    EXPECT_EQ(message, "Ausgabedatei kann nicht übernommen werden: Windows-Fehler 183");
    EXPECT_EQ(tempPath, kept);
    EXPECT_EQ(ReadWholeFile(target), "alt");
    EXPECT_EQ(ReadWholeFile(tempPath), "neu");

    EXPECT_TRUE(CommitOutputFile(tempPath, target, true, message));
    EXPECT_EQ(tempPath, "");
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"datei.bin"});
    EXPECT_EQ(ReadWholeFile(target), "neu");
}

}  // namespace
}  // namespace holwerk
