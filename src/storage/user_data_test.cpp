#include "storage/user_data.h"

#include <gtest/gtest.h>

#include <string>

#include "support/scratch_folder.h"
#include "support/temporary_names.h"

namespace holwerk {
namespace {

DWORD FixedTicks() { return 0x2A; }

// A temporary file left by a run that died is never used nor removed; the
// next name is tried, and when all twenty are taken the old file stays.
TEST(UserDataTest, WriteTextFileAtomicSkipsTakenTemporaryNames) {
    ScratchFolder scratch;
    const std::string path = scratch.Path("update-state.txt");
    WriteWholeFile(TemporaryName(path, ".tmp-", 0x2A, 1), "liegen geblieben");
    EXPECT_TRUE(WriteTextFileAtomic(path, "neu", FixedTicks));
    EXPECT_EQ(ReadWholeFile(path), "neu");
    EXPECT_EQ(ReadWholeFile(TemporaryName(path, ".tmp-", 0x2A, 1)), "liegen geblieben");

    for (int attempt = 2; attempt <= 20; ++attempt) {
        WriteWholeFile(TemporaryName(path, ".tmp-", 0x2A, attempt), "");
    }
    EXPECT_FALSE(WriteTextFileAtomic(path, "neuer", FixedTicks));
    EXPECT_EQ(ReadWholeFile(path), "neu");
    EXPECT_EQ(scratch.Entries().size(), 21u);
}

}  // namespace
}  // namespace holwerk
