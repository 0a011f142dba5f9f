#include "storage/user_data.h"

#include <gtest/gtest.h>

#include <string>

#include "support/scratch_folder.h"
#include "support/temporary_names.h"

namespace holwerk {
namespace {

DWORD FixedTicks() { return 0x2A; }

// A temporary file left by a run that died is never used nor removed; the
// next name is tried, up to the twentieth, and when all twenty are taken the
// old file stays.
TEST(UserDataTest, WriteTextFileAtomicSkipsTakenTemporaryNames) {
    constexpr int Attempts = 20;
    ScratchFolder scratch;
    const std::string path = scratch.Path("update-state.txt");
    const auto take = [&](int attempt) {
        WriteWholeFile(TemporaryName(path, ".tmp-", 0x2A, attempt), "liegen geblieben");
    };
    for (int attempt = 1; attempt < Attempts; ++attempt) take(attempt);
    EXPECT_TRUE(WriteTextFileAtomic(path, "neu", FixedTicks));
    EXPECT_EQ(ReadWholeFile(path), "neu");
    EXPECT_EQ(ReadWholeFile(TemporaryName(path, ".tmp-", 0x2A, 1)), "liegen geblieben");

    take(Attempts);
    EXPECT_FALSE(WriteTextFileAtomic(path, "neuer", FixedTicks));
    EXPECT_EQ(ReadWholeFile(path), "neu");
    EXPECT_EQ(Entries(scratch.path()).size(), Attempts + 1u);
}

// The state file and the installation ID's file are small: a larger file
// reads as none.
TEST(UserDataTest, ReadTextFileTakesAtMost65536Bytes) {
    ScratchFolder scratch;
    for (const std::size_t size : {65536u, 65537u}) {
        WriteWholeFile(scratch.Path("datei"), std::string(size, 'x'));
        std::string content = "vorher";
        EXPECT_EQ(ReadTextFile(scratch.Path("datei"), content), size == 65536u) << size;
        EXPECT_EQ(content.size(), size == 65536u ? size : 0u) << size;
    }
}

}  // namespace
}  // namespace holwerk
