#include "storage/temporary_output.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/scratch_folder.h"
#include "support/temporary_names.h"
#include "support/unprivileged.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

namespace holwerk {
namespace {

constexpr DWORD FixedTick = 0xA3B2C1D;

DWORD FixedTicks() { return FixedTick; }

// Counts up by one per call, so each attempt's name shows the tick count it
// was given.
DWORD countingTick = 0;
DWORD CountingTicks() { return countingTick++; }

std::string PartName(const std::string& target, DWORD tick, int attempt) {
    return TemporaryName(target, ".part-", tick, attempt);
}

class TemporaryOutputFile : public ::testing::Test {
  protected:
    ScratchFolder scratch;
    std::string tempPath;
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::string message;

    void TearDown() override {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};

// ------------------------------------------------------------ existence

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

// ------------------------------------------------------------ creation

TEST_F(TemporaryOutputFile, FirstNameIsTargetPartProcessTicksAndOne) {
    const std::string target = scratch.Path("datei.bin");
    ASSERT_TRUE(CreateTemporaryOutputFile(target, FixedTicks, tempPath, handle, message));
    EXPECT_EQ(tempPath, PartName(target, FixedTick, 1));
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(message, "");
    CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
    EXPECT_EQ(ReadWholeFile(tempPath), "");
    EXPECT_FALSE(std::filesystem::exists(PathOfUtf8(target)));
}

TEST_F(TemporaryOutputFile, ProductNameCarriesTheTickCountOfTheMoment) {
    const std::string target = scratch.Path("datei.bin");
    const DWORD before = GetTickCount();
    ASSERT_TRUE(CreateTemporaryOutputFile(target, tempPath, handle, message));
    const DWORD after = GetTickCount();
    const std::string prefix = target + ".part-" + UpperHex(GetCurrentProcessId()) + "-";
    ASSERT_EQ(tempPath.substr(0, prefix.size()), prefix);
    ASSERT_EQ(tempPath.substr(tempPath.size() - 2), "-1");
    const std::string tick = tempPath.substr(prefix.size(), tempPath.size() - prefix.size() - 2);
    const DWORD value = static_cast<DWORD>(std::stoul(tick, nullptr, 16));
    EXPECT_EQ(UpperHex(value), tick);  // upper case, no leading zeros
    EXPECT_LE(value - before, after - before);
}

TEST_F(TemporaryOutputFile, TakenFirstNameLeadsToAttemptTwoWithAFreshTickCount) {
    const std::string target = scratch.Path("datei.bin");
    countingTick = 0x100;
    WriteWholeFile(PartName(target, 0x100, 1), "fremd");
    ASSERT_TRUE(CreateTemporaryOutputFile(target, CountingTicks, tempPath, handle, message));
    EXPECT_EQ(tempPath, PartName(target, 0x101, 2));
    EXPECT_EQ(ReadWholeFile(PartName(target, 0x100, 1)), "fremd");
}

TEST_F(TemporaryOutputFile, TwentyTakenNamesFailWithTheCodeOfTheLastRefusal) {
    const std::string target = scratch.Path("datei.bin");
    for (int attempt = 1; attempt <= 20; ++attempt) {
        WriteWholeFile(PartName(target, FixedTick, attempt), std::to_string(attempt));
    }
    EXPECT_FALSE(CreateTemporaryOutputFile(target, FixedTicks, tempPath, handle, message));
    EXPECT_EQ(message, "Temporäre Ausgabedatei kann nicht angelegt werden: Windows-Fehler 80");
    EXPECT_EQ(tempPath, PartName(target, FixedTick, 20));
    EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(scratch.Entries().size(), 20u);
    EXPECT_EQ(ReadWholeFile(PartName(target, FixedTick, 20)), "20");
}

// A name taken by a folder counts as taken like one taken by a file.
TEST_F(TemporaryOutputFile, NineteenTakenNamesLeaveTheTwentieth) {
    const std::string target = scratch.Path("datei.bin");
    std::filesystem::create_directory(PathOfUtf8(PartName(target, FixedTick, 1)));
    for (int attempt = 2; attempt <= 19; ++attempt) {
        WriteWholeFile(PartName(target, FixedTick, attempt), "");
    }
    ASSERT_TRUE(CreateTemporaryOutputFile(target, FixedTicks, tempPath, handle, message));
    EXPECT_EQ(tempPath, PartName(target, FixedTick, 20));
}

TEST_F(TemporaryOutputFile, MissingFolderFailsAtTheFirstAttempt) {
    const std::string target = scratch.Path("fehlt") + PathSeparator + "datei.bin";
    EXPECT_FALSE(CreateTemporaryOutputFile(target, FixedTicks, tempPath, handle, message));
    EXPECT_EQ(message, "Temporäre Ausgabedatei kann nicht angelegt werden: Windows-Fehler 3");
    EXPECT_EQ(tempPath, PartName(target, FixedTick, 1));
    EXPECT_TRUE(scratch.Entries().empty());
}

TEST_F(TemporaryOutputFile, UnconvertibleNameFailsWithoutTryingAnother) {
    // The target itself converts (32762 units); its temporary name does not.
    const std::string tooLongForTheSuffix =
        scratch.Path(std::string(32767 - 5 - scratch.path().size() - 1, 'a'));
    const std::string invalidUtf8 = scratch.Path("datei\xC0\xAF.bin");
    for (const std::string& target : {tooLongForTheSuffix, invalidUtf8}) {
        countingTick = 0x100;
        handle = nullptr;
        EXPECT_FALSE(CreateTemporaryOutputFile(target, CountingTicks, tempPath, handle, message));
        EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
        EXPECT_EQ(message, "Der temporäre Ausgabepfad ist ungültig oder zu lang.");
        EXPECT_EQ(tempPath, PartName(target, 0x100, 1));
        EXPECT_EQ(countingTick, 0x101u);
    }
    EXPECT_TRUE(scratch.Entries().empty());
}

// ------------------------------------------------------------ writing

class WriteAll : public TemporaryOutputFile {
  protected:
    void SetUp() override {
        target = scratch.Path("datei.bin");
        ASSERT_TRUE(CreateTemporaryOutputFile(target, FixedTicks, tempPath, handle, message));
    }
    std::string CloseAndRead() {
        CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
        return ReadWholeFile(tempPath);
    }
    std::string target;
};

TEST_F(WriteAll, WritesEveryByteOfEachBlockInOrder) {
    std::string expected;
    for (int block = 0; block < 3; ++block) {
        const std::string data(65536, static_cast<char>('a' + block));
        ASSERT_TRUE(WriteAllBytes(handle, data.data(), 65536, message));
        expected += data;
    }
    EXPECT_EQ(CloseAndRead(), expected);
    EXPECT_EQ(message, "");
}

TEST_F(WriteAll, ZeroLengthSucceedsWithoutWritingAndAFailedWriteNamesTheCode) {
    EXPECT_TRUE(WriteAllBytes(INVALID_HANDLE_VALUE, nullptr, 0, message));
    EXPECT_EQ(message, "");
    EXPECT_FALSE(WriteAllBytes(INVALID_HANDLE_VALUE, "abc", 3, message));
    EXPECT_EQ(message, "Fehler beim Schreiben der Datei: Windows-Fehler 6");
}

#ifndef _WIN32
// A file size limit makes write() stop short at the limit and fail on the
// next call, the one way to get a short write from a regular file.
TEST_F(WriteAll, ContinuesAfterAShortWriteAndReportsTheFailureThatFollows) {
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit limited = saved;
    limited.rlim_cur = 1000;
    void (*savedHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const std::string data(3000, 'x');
    const bool written = WriteAllBytes(handle, data.data(), 3000, message);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, savedHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(message, "Fehler beim Schreiben der Datei: Windows-Fehler 112");
    EXPECT_EQ(CloseAndRead(), std::string(1000, 'x'));
}
#endif

// ------------------------------------------------------------ commit

class Commit : public WriteAll {};

TEST_F(Commit, EmptyTemporaryFileBecomesAnEmptyTarget) {
    ASSERT_TRUE(FlushFileBuffers(handle));
    CloseAndRead();
    EXPECT_TRUE(CommitOutputFile(tempPath, target, false, message));
    EXPECT_EQ(tempPath, "");
    EXPECT_EQ(message, "");
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"datei.bin"});
    EXPECT_EQ(ReadWholeFile(target), "");
}

TEST_F(Commit, TargetThatAppearedMeanwhileIsKeptWithoutReplacing) {
    ASSERT_TRUE(WriteAllBytes(handle, "neu", 3, message));
    CloseAndRead();
    WriteWholeFile(target, "alt");
    const std::string kept = tempPath;
    EXPECT_FALSE(CommitOutputFile(tempPath, target, false, message));
    EXPECT_EQ(message, "Ausgabedatei kann nicht übernommen werden: Windows-Fehler 183");
    EXPECT_EQ(tempPath, kept);
    EXPECT_EQ(ReadWholeFile(target), "alt");
    EXPECT_EQ(ReadWholeFile(tempPath), "neu");
}

TEST_F(Commit, ReplacingPutsTheNewBodyUnderTheTargetName) {
    ASSERT_TRUE(WriteAllBytes(handle, "neu", 3, message));
    CloseAndRead();
    WriteWholeFile(target, "alt");
    EXPECT_TRUE(CommitOutputFile(tempPath, target, true, message));
    EXPECT_EQ(tempPath, "");
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"datei.bin"});
    EXPECT_EQ(ReadWholeFile(target), "neu");
}

TEST_F(Commit, FolderAtTheTargetIsNotReplaced) {
    CloseAndRead();
    std::filesystem::create_directory(PathOfUtf8(target));
    WriteWholeFile(target + PathSeparator + "inhalt.txt", "bleibt");
    const std::string kept = tempPath;
    EXPECT_FALSE(CommitOutputFile(tempPath, target, true, message));
    EXPECT_EQ(message, "Ausgabedatei kann nicht übernommen werden: Windows-Fehler 5");
    EXPECT_EQ(tempPath, kept);
    EXPECT_EQ(ReadWholeFile(target + PathSeparator + "inhalt.txt"), "bleibt");
}

TEST_F(Commit, UnconvertiblePathsFailBeforeAnythingMoves) {
    CloseAndRead();
    const std::string kept = tempPath;
    for (const std::string& bad : {std::string("ziel\xFF.bin"), std::string(32768, 'z')}) {
        EXPECT_FALSE(CommitOutputFile(tempPath, bad, true, message));
        EXPECT_EQ(message, "Der Ausgabepfad ist ungültig oder zu lang.");
        EXPECT_EQ(tempPath, kept);
        std::string badTemp = bad;
        EXPECT_FALSE(CommitOutputFile(badTemp, target, true, message));
        EXPECT_EQ(message, "Der Ausgabepfad ist ungültig oder zu lang.");
        EXPECT_EQ(badTemp, bad);
    }
    EXPECT_EQ(ReadWholeFile(tempPath), "");
    EXPECT_FALSE(std::filesystem::exists(PathOfUtf8(target)));
}

// ------------------------------------------------------------ permissions

#ifndef _WIN32
// Run as nobody through PermissionCases.RunAsNobodyWhenTheTestsRunAsRoot.
class TemporaryOutputUnprivileged : public TemporaryOutputFile {
  protected:
    void SetUp() override {
        if (!PermissionsApply()) GTEST_SKIP() << "permission bits do not stop root";
    }
    void MakeReadOnly(const std::string& folder) {
        std::filesystem::permissions(PathOfUtf8(folder), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::remove);
    }
};

TEST_F(TemporaryOutputUnprivileged, UnwritableFolderFailsAtTheFirstAttemptWithAccessDenied) {
    const std::string target = scratch.Path("datei.bin");
    MakeReadOnly(scratch.path());
    EXPECT_FALSE(CreateTemporaryOutputFile(target, FixedTicks, tempPath, handle, message));
    EXPECT_EQ(message, "Temporäre Ausgabedatei kann nicht angelegt werden: Windows-Fehler 5");
    EXPECT_EQ(tempPath, PartName(target, FixedTick, 1));
    EXPECT_TRUE(scratch.Entries().empty());
}

TEST_F(TemporaryOutputUnprivileged, CommitIntoAFolderThatTurnedReadOnlyKeepsBothFiles) {
    const std::string target = scratch.Path("datei.bin");
    WriteWholeFile(target, "alt");
    ASSERT_TRUE(CreateTemporaryOutputFile(target, FixedTicks, tempPath, handle, message));
    ASSERT_TRUE(WriteAllBytes(handle, "neu", 3, message));
    CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
    MakeReadOnly(scratch.path());
    const std::string kept = tempPath;
    EXPECT_FALSE(CommitOutputFile(tempPath, target, true, message));
    EXPECT_EQ(message, "Ausgabedatei kann nicht übernommen werden: Windows-Fehler 5");
    EXPECT_EQ(tempPath, kept);
    EXPECT_EQ(ReadWholeFile(target), "alt");
    EXPECT_EQ(ReadWholeFile(tempPath), "neu");
}
#endif

}  // namespace
}  // namespace holwerk
