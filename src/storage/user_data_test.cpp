#include "storage/user_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "storage/text_encoding.h"
#include "support/environment.h"
#include "support/scratch_folder.h"
#include "support/temporary_names.h"
#include "support/unprivileged.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace holwerk {
namespace {

constexpr DWORD FixedTick = 0x2A;

DWORD FixedTicks() { return FixedTick; }

std::string TmpName(const std::string& path, int attempt) {
    return TemporaryName(path, ".tmp-", FixedTick, attempt);
}

class UserData : public ::testing::Test {
  protected:
    ScratchFolder scratch;
};

// ------------------------------------------------------------ folders

TEST_F(UserData, EnsureDirectoryMakesOnlyTheLastLevelAndAcceptsAnExistingEntry) {
    EXPECT_FALSE(EnsureDirectory(scratch.Path("a") + PathSeparator + "b"));
    EXPECT_FALSE(EnsureDirectory(scratch.Path("a\xE0\x80\x80")));
    EXPECT_TRUE(scratch.Entries().empty());
    const std::string folder = scratch.Path("neu");
    EXPECT_TRUE(EnsureDirectory(folder));
    EXPECT_TRUE(std::filesystem::is_directory(PathOfUtf8(folder)));
    EXPECT_TRUE(EnsureDirectory(folder));
    WriteWholeFile(scratch.Path("datei"), "x");
    EXPECT_TRUE(EnsureDirectory(scratch.Path("datei")));
    EXPECT_EQ(ReadWholeFile(scratch.Path("datei")), "x");
}

// ------------------------------------------------------------ reading

TEST_F(UserData, ReadTextFileDeliversTheWholeFileUpTo65536Bytes) {
    const std::vector<std::size_t> sizes = {0, 1, 4096, 65535, 65536};
    for (std::size_t size : sizes) {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i % 251);
        WriteWholeFile(scratch.Path("klein.txt"), bytes);
        std::string content = "vorher";
        EXPECT_TRUE(ReadTextFile(scratch.Path("klein.txt"), content)) << size;
        EXPECT_EQ(content, bytes) << size;
    }
}

TEST_F(UserData, ReadTextFileRefusesWhatItCannotReadWholeWithEmptyContent) {
    WriteWholeFile(scratch.Path("zu-gross.txt"), std::string(65537, 'x'));
    WriteWholeFile(scratch.Path("riesig.txt"), "");
    // 4 GiB and five bytes: the low 32 bits alone would pass as five bytes.
    std::filesystem::resize_file(PathOfUtf8(scratch.Path("riesig.txt")), 0x100000005ull);
    const std::vector<std::string> paths = {scratch.Path("zu-gross.txt"),
                                            scratch.Path("riesig.txt"),
                                            scratch.Path("fehlt.txt"),
                                            scratch.path(),  // a folder
                                            scratch.Path("fehlt") + PathSeparator + "x.txt",
                                            scratch.Path("ung\xC3ltig.txt")};
    for (const std::string& path : paths) {
        std::string content = "vorher";
        EXPECT_FALSE(ReadTextFile(path, content)) << path;
        EXPECT_EQ(content, "") << path;
    }
}

// ------------------------------------------------------------ atomic writing

TEST_F(UserData, WriteTextFileAtomicCreatesReplacesAndEmpties) {
    const std::string path = scratch.Path("update-state.txt");
    for (const std::string& content : {std::string("erste\r\n"), std::string("zweite"),
                                       std::string(), std::string(65536, '\x01')}) {
        EXPECT_TRUE(WriteTextFileAtomic(path, content));
        EXPECT_EQ(ReadWholeFile(path), content);
        EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"update-state.txt"});
    }
}

TEST_F(UserData, WriteTextFileAtomicLeavesALeftOverTemporaryFileAlone) {
    const std::string path = scratch.Path("installation-id.txt");
    WriteWholeFile(TmpName(path, 1), "liegen geblieben");
    EXPECT_TRUE(WriteTextFileAtomic(path, "neu", FixedTicks));
    EXPECT_EQ(ReadWholeFile(path), "neu");
    EXPECT_EQ(ReadWholeFile(TmpName(path, 1)), "liegen geblieben");
    EXPECT_EQ(scratch.Entries().size(), 2u);
}

TEST_F(UserData, WriteTextFileAtomicFailsWhenAllTwentyNamesAreTaken) {
    const std::string path = scratch.Path("installation-id.txt");
    WriteWholeFile(path, "alt");
    for (int attempt = 1; attempt <= 20; ++attempt) WriteWholeFile(TmpName(path, attempt), "");
    EXPECT_FALSE(WriteTextFileAtomic(path, "neu", FixedTicks));
    EXPECT_EQ(ReadWholeFile(path), "alt");
    EXPECT_EQ(scratch.Entries().size(), 21u);
}

TEST_F(UserData, RefusedRenameKeepsTheOldEntryAndRemovesTheTemporaryFile) {
    // A folder with contents cannot be replaced by a file, not even by root.
    const std::string path = scratch.Path("update-state.txt");
    std::filesystem::create_directory(PathOfUtf8(path));
    WriteWholeFile(path + PathSeparator + "inhalt.txt", "bleibt");
    EXPECT_FALSE(WriteTextFileAtomic(path, "neu"));
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"update-state.txt"});
    EXPECT_EQ(ReadWholeFile(path + PathSeparator + "inhalt.txt"), "bleibt");
}

TEST_F(UserData, ParallelWritersAndReadersOnlyEverSeeWholeVersions) {
    // Threads of one process share the process ID and often the tick count,
    // so their temporary names collide and the attempt numbers must differ.
    const std::string path = scratch.Path("update-state.txt");
    const std::vector<std::string> versions = {std::string(3000, 'a'), std::string(5000, 'b'),
                                               std::string(7000, 'c'), std::string(9000, 'd')};
    ASSERT_TRUE(WriteTextFileAtomic(path, versions[0]));
    std::atomic<int> failedWrites = 0;
    std::atomic<int> tornReads = 0;
    std::atomic<bool> writing = true;
    std::vector<std::thread> writers;
    for (const std::string& version : versions) {
        writers.emplace_back([&] {
            for (int round = 0; round < 50; ++round) {
                if (!WriteTextFileAtomic(path, version)) ++failedWrites;
            }
        });
    }
    std::thread reader([&] {
        while (writing) {
            std::string content;
            // Windows refuses to replace a file open for reading: then a
            // write fails, and no reader ever sees a partial file.
            if (ReadTextFile(path, content) &&
                std::find(versions.begin(), versions.end(), content) == versions.end()) {
                ++tornReads;
            }
        }
    });
    for (std::thread& writer : writers) writer.join();
    writing = false;
    reader.join();
    EXPECT_EQ(tornReads, 0);
#ifndef _WIN32
    EXPECT_EQ(failedWrites, 0);
#endif
    std::string content;
    ASSERT_TRUE(ReadTextFile(path, content));
    EXPECT_NE(std::find(versions.begin(), versions.end(), content), versions.end());
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"update-state.txt"});
}

TEST_F(UserData, WriteTextFileAtomicFailsForAPathItCannotUse) {
    EXPECT_FALSE(WriteTextFileAtomic(scratch.Path("fehlt") + PathSeparator + "x.txt", "neu"));
    EXPECT_FALSE(WriteTextFileAtomic(scratch.Path("ung\xC3ltig.txt"), "neu"));
    EXPECT_TRUE(scratch.Entries().empty());
}

// ------------------------------------------------------------ user data folder

#ifdef _WIN32
// Under Wine (and Windows) the folder lies in the real profile; making the
// program's own two levels there is what every run of the program does.
TEST_F(UserData, UserDataFolderLiesBelowLocalApplicationData) {
    std::string folder;
    ASSERT_TRUE(GetUserDataFolder(folder));
    const std::string tail = "\\TolvikSoftware\\Holwerk";
    ASSERT_GT(folder.size(), tail.size());
    EXPECT_EQ(folder.substr(folder.size() - tail.size()), tail);
    EXPECT_TRUE(std::filesystem::is_directory(PathOfUtf8(folder)));
    EXPECT_TRUE(GetUserDataFolder(folder));
}
#else
// Natively the data home comes from the environment, as on the user's machine.
class UserDataFolder : public UserData {
  protected:
    ScopedEnvironment environment;
};

TEST_F(UserDataFolder, FirstRunCreatesBothLevelsAndLaterRunsFindThem) {
    environment.Set("XDG_DATA_HOME", scratch.Path("daten"));
    std::string folder;
    ASSERT_TRUE(GetUserDataFolder(folder));
    EXPECT_EQ(folder, scratch.Path("daten") + "/TolvikSoftware/Holwerk");
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    WriteWholeFile(folder + "/update-state.txt", "bleibt");
    std::string again;
    ASSERT_TRUE(GetUserDataFolder(again));
    EXPECT_EQ(again, folder);
    EXPECT_EQ(ReadWholeFile(folder + "/update-state.txt"), "bleibt");
}

TEST_F(UserDataFolder, FileWhereTheCompanyFolderBelongsFails) {
    environment.Set("XDG_DATA_HOME", scratch.path());
    WriteWholeFile(scratch.Path("TolvikSoftware"), "x");
    std::string folder;
    EXPECT_FALSE(GetUserDataFolder(folder));
    EXPECT_EQ(ReadWholeFile(scratch.Path("TolvikSoftware")), "x");
}

TEST_F(UserDataFolder, FileWhereTheDataHomeBelongsFails) {
    WriteWholeFile(scratch.Path("daten"), "x");
    environment.Set("XDG_DATA_HOME", scratch.Path("daten"));
    std::string folder = "unverändert";
    EXPECT_FALSE(GetUserDataFolder(folder));
    EXPECT_EQ(folder, "unverändert");
}
#endif

// ------------------------------------------------------------ permissions

#ifdef _WIN32
TEST(PermissionCases, RunAsNobodyWhenTheTestsRunAsRoot) {
    GTEST_SKIP() << "Wine runs as the Unix user and offers no Windows access rules to set up; "
                    "the refused-permission cases run natively";
}
#else
TEST(PermissionCases, RunAsNobodyWhenTheTestsRunAsRoot) {
    if (PermissionsApply()) GTEST_SKIP() << "not root: the *Unprivileged cases run directly";
    std::string why;
    const int exitCode = RunTestsAsNobody("*Unprivileged.*", why);
    if (exitCode < 0) GTEST_SKIP() << why;
    EXPECT_EQ(exitCode, 0) << "the permission cases failed as nobody (output above)";
}

// Run as nobody through PermissionCases.RunAsNobodyWhenTheTestsRunAsRoot.
class UserDataUnprivileged : public UserDataFolder {
  protected:
    void SetUp() override {
        if (!PermissionsApply()) GTEST_SKIP() << "permission bits do not stop root";
        UserDataFolder::SetUp();
    }
    static void SetMode(const std::string& path, std::filesystem::perms mode) {
        std::filesystem::permissions(PathOfUtf8(path), mode);
    }
};

TEST_F(UserDataUnprivileged, WriteInAReadOnlyFolderFailsAndKeepsTheOldFile) {
    const std::string path = scratch.Path("update-state.txt");
    WriteWholeFile(path, "alt");
    SetMode(scratch.path(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    EXPECT_FALSE(WriteTextFileAtomic(path, "neu"));
    EXPECT_EQ(ReadWholeFile(path), "alt");
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"update-state.txt"});
}

TEST_F(UserDataUnprivileged, UnreadableFileIsRefusedWithEmptyContent) {
    const std::string path = scratch.Path("installation-id.txt");
    WriteWholeFile(path, "geheim");
    SetMode(path, std::filesystem::perms::none);
    std::string content = "vorher";
    EXPECT_FALSE(ReadTextFile(path, content));
    EXPECT_EQ(content, "");
}

TEST_F(UserDataUnprivileged, EntryBelowAFolderThatCannotBeSearchedCountsAsMissing) {
    WriteWholeFile(scratch.Path("datei"), "x");
    SetMode(scratch.path(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_FALSE(FileExists(scratch.Path("datei")));
}

TEST_F(UserDataUnprivileged, ExistingFoldersInAReadOnlyDataHomeStillCount) {
    environment.Set("XDG_DATA_HOME", scratch.path());
    std::string folder;
    ASSERT_TRUE(GetUserDataFolder(folder));
    const auto readOnly = std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec;
    SetMode(scratch.Path("TolvikSoftware"), readOnly);
    SetMode(scratch.path(), readOnly);
    std::string again;
    EXPECT_TRUE(GetUserDataFolder(again));
    EXPECT_EQ(again, folder);
}

// Whether the data home exists already or cannot be created, a read-only
// parent leaves nothing behind.
TEST_F(UserDataUnprivileged, ReadOnlyDataHomeWithoutTheFoldersFails) {
    SetMode(scratch.path(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    for (const std::string& dataHome : {scratch.path(), scratch.Path("daten")}) {
        environment.Set("XDG_DATA_HOME", dataHome);
        std::string folder;
        EXPECT_FALSE(GetUserDataFolder(folder)) << dataHome;
        EXPECT_TRUE(scratch.Entries().empty()) << dataHome;
    }
}
#endif

}  // namespace
}  // namespace holwerk
