#include "storage/temporary_output.h"

#include <gtest/gtest.h>

#include <string>

#include "support/scratch_folder.h"
#include "support/temporary_names.h"

namespace holwerk {
namespace {

// Counts up by one per call, so each attempt's name shows the tick count it
// was given.
DWORD tick = 0x100;
DWORD CountingTicks() { return tick++; }

TEST(TemporaryOutputTest, TakenNameLeadsToTheNextAttemptWithAFreshTickCount) {
    ScratchFolder scratch;
    const std::string target = scratch.Path("datei.bin");
    WriteWholeFile(TemporaryName(target, ".part-", 0x100, 1), "fremd");
    std::string tempPath, message;
    HANDLE handle = INVALID_HANDLE_VALUE;
    ASSERT_TRUE(CreateTemporaryFile(target, ".part-", CountingTicks, tempPath, handle, message));
    CloseHandle(handle);
    EXPECT_EQ(tempPath, TemporaryName(target, ".part-", 0x101, 2));
    EXPECT_EQ(ReadWholeFile(TemporaryName(target, ".part-", 0x100, 1)), "fremd");
}

}  // namespace
}  // namespace holwerk
