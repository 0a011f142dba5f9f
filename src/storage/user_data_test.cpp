#include "storage/user_data.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/scratch_folder.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace holwerk {
namespace {

constexpr DWORD FixedTick = 0x2A;

DWORD FixedTicks() { return FixedTick; }

std::string TmpName(const std::string& path, int attempt) {
    char process[16];
    std::snprintf(process, sizeof process, "%X", static_cast<unsigned>(GetCurrentProcessId()));
    return path + ".tmp-" + process + "-2A-" + std::to_string(attempt);
}

class UserData : public ::testing::Test {
  protected:
    ScratchFolder scratch;
};

// ------------------------------------------------------------ folders

TEST_F(UserData, EnsureDirectoryCreatesTheLastLevelAndAcceptsAnExistingEntry) {
    const std::string folder = scratch.Path("neu");
    EXPECT_TRUE(EnsureDirectory(folder));
    EXPECT_TRUE(std::filesystem::is_directory(PathOfUtf8(folder)));
    EXPECT_TRUE(EnsureDirectory(folder));
    WriteWholeFile(scratch.Path("datei"), "x");
    EXPECT_TRUE(EnsureDirectory(scratch.Path("datei")));
    EXPECT_EQ(ReadWholeFile(scratch.Path("datei")), "x");
}

TEST_F(UserData, EnsureDirectoryMakesOnlyOneLevel) {
    EXPECT_FALSE(EnsureDirectory(scratch.Path("a") + PathSeparator + "b"));
    EXPECT_FALSE(EnsureDirectory(scratch.Path("a\xE0\x80\x80")));
    EXPECT_TRUE(scratch.Entries().empty());
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
    void SetUp() override {
        Save("HOME", savedHome);
        Save("XDG_DATA_HOME", savedDataHome);
    }
    void TearDown() override {
        Restore("HOME", savedHome);
        Restore("XDG_DATA_HOME", savedDataHome);
    }
    static void Save(const char* name, std::optional<std::string>& saved) {
        const char* value = std::getenv(name);
        if (value != nullptr) saved = value;
    }
    static void Restore(const char* name, const std::optional<std::string>& saved) {
        if (saved) {
            setenv(name, saved->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    std::optional<std::string> savedHome;
    std::optional<std::string> savedDataHome;
};

TEST_F(UserDataFolder, FirstRunCreatesBothLevelsAndLaterRunsFindThem) {
    setenv("XDG_DATA_HOME", scratch.Path("daten").c_str(), 1);
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

TEST_F(UserDataFolder, HomeServesWhenTheDataHomeIsUnsetOrRelative) {
    setenv("HOME", scratch.path().c_str(), 1);
    for (const char* dataHome : {static_cast<const char*>(nullptr), "", "relativ/daten"}) {
        if (dataHome == nullptr) {
            unsetenv("XDG_DATA_HOME");
        } else {
            setenv("XDG_DATA_HOME", dataHome, 1);
        }
        std::string folder;
        ASSERT_TRUE(GetUserDataFolder(folder));
        EXPECT_EQ(folder, scratch.path() + "/.local/share/TolvikSoftware/Holwerk");
    }
    EXPECT_FALSE(std::filesystem::exists("relativ"));
}

TEST_F(UserDataFolder, FileWhereTheCompanyFolderBelongsFails) {
    setenv("XDG_DATA_HOME", scratch.path().c_str(), 1);
    WriteWholeFile(scratch.Path("TolvikSoftware"), "x");
    std::string folder;
    EXPECT_FALSE(GetUserDataFolder(folder));
    EXPECT_EQ(ReadWholeFile(scratch.Path("TolvikSoftware")), "x");
}

TEST_F(UserDataFolder, FileWhereTheDataHomeBelongsFails) {
    WriteWholeFile(scratch.Path("daten"), "x");
    setenv("XDG_DATA_HOME", scratch.Path("daten").c_str(), 1);
    std::string folder = "unverändert";
    EXPECT_FALSE(GetUserDataFolder(folder));
    EXPECT_EQ(folder, "unverändert");
}
#endif

}  // namespace
}  // namespace holwerk
