#include "storage/user_data.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/scratch_folder.h"

namespace holwerk {
namespace {

// Counts up by one per call from 0x2A, so that attempt n is given 0x2A + n - 1.
DWORD tick = 0x2A;
DWORD CountingTicks() { return tick++; }

// Attempt n's name: path + ".tmp-" + process ID + "-" + tick count + "-" + n,
// the process ID and tick count in upper-case hexadecimal.
std::string TemporaryName(const std::string& path, int attempt) {
    char numbers[48];
    std::snprintf(numbers, sizeof numbers, "%X-%X-%d", static_cast<unsigned>(GetCurrentProcessId()),
                  static_cast<unsigned>(0x2A + attempt - 1), attempt);
    return path + ".tmp-" + numbers;
}

// A temporary file left by a run that died is never used nor removed; the
// next name is tried, with a fresh tick count, up to the twentieth, and when
// all twenty are taken the old file stays.
TEST(UserDataTest, WriteTextFileAtomicSkipsTakenTemporaryNames) {
    constexpr int Attempts = 20;
    ScratchFolder scratch;
    const std::string path = scratch.Path("update-state.txt");
    for (int attempt = 1; attempt < Attempts; ++attempt)
        WriteWholeFile(TemporaryName(path, attempt), "liegen geblieben");
    tick = 0x2A;
    EXPECT_TRUE(WriteTextFileAtomic(path, "neu", CountingTicks));
    EXPECT_EQ(ReadWholeFile(path), "neu");
    EXPECT_EQ(ReadWholeFile(TemporaryName(path, 1)), "liegen geblieben");

    WriteWholeFile(TemporaryName(path, Attempts), "liegen geblieben");
    tick = 0x2A;
    EXPECT_FALSE(WriteTextFileAtomic(path, "neuer", CountingTicks));
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
