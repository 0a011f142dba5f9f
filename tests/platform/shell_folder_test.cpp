// What the program relies on from SHGetFolderPathW: the local
// application-data folder, existing, in a MAX_PATH buffer, without a trailing
// separator.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/win32.h"
#include "storage/text_encoding.h"
#include "support/environment.h"
#include "support/scratch_folder.h"

namespace holwerk {
namespace {

HRESULT LocalAppData(std::string& folder) {
    WCHAR buffer[MAX_PATH] = {};
    const HRESULT result =
        SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer);
    folder = Utf16ToUtf8(buffer);
    return result;
}

TEST(ShellFolderContract, LocalAppDataIsAnExistingFolderWithoutTrailingSeparator) {
#ifndef _WIN32
    // Natively the location comes from the environment; keep the test's own.
    ScratchFolder scratch;
    ScopedEnvironment environment;
    environment.Set("XDG_DATA_HOME", scratch.Path("daten/"));
#endif
    std::string folder;
    ASSERT_EQ(LocalAppData(folder), S_OK);
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), PathSeparator[0]);
    EXPECT_TRUE(std::filesystem::is_directory(PathOfUtf8(folder))) << folder;
}

#ifndef _WIN32
// Natively the folder follows the XDG rules; on Windows it is the profile's.
class ShellFolderXdg : public ::testing::Test {
  protected:
    ScratchFolder scratch;
    ScopedEnvironment environment;
};

std::filesystem::perms ModeOf(const std::string& path) {
    return std::filesystem::status(path).permissions() & std::filesystem::perms::all;
}

TEST_F(ShellFolderXdg, MissingLevelsAreMadePrivateAndExistingOnesKeepTheirMode) {
    environment.Set("XDG_DATA_HOME", scratch.Path("a") + "/b//");
    std::string folder;
    ASSERT_EQ(LocalAppData(folder), S_OK);
    EXPECT_EQ(folder, scratch.Path("a") + "/b");
    EXPECT_EQ(ModeOf(scratch.Path("a")), std::filesystem::perms::owner_all);
    EXPECT_EQ(ModeOf(folder), std::filesystem::perms::owner_all);
    std::filesystem::permissions(folder, std::filesystem::perms(0755));
    ASSERT_EQ(LocalAppData(folder), S_OK);
    EXPECT_EQ(ModeOf(folder), std::filesystem::perms(0755));
}

TEST_F(ShellFolderXdg, HomeServesWhenTheDataHomeIsUnsetEmptyOrRelative) {
    environment.Set("HOME", scratch.path());
    for (const char* dataHome : {static_cast<const char*>(nullptr), "", "relativ"}) {
        if (dataHome == nullptr) {
            environment.Unset("XDG_DATA_HOME");
        } else {
            environment.Set("XDG_DATA_HOME", dataHome);
        }
        std::string folder;
        ASSERT_EQ(LocalAppData(folder), S_OK);
        EXPECT_EQ(folder, scratch.path() + "/.local/share");
    }
    EXPECT_EQ(ModeOf(scratch.Path(".local")), std::filesystem::perms::owner_all);
    EXPECT_FALSE(std::filesystem::exists("relativ"));
}

TEST_F(ShellFolderXdg, UnusableLocationsFail) {
    WriteWholeFile(scratch.Path("datei"), "x");
    struct Case {
        const char* why;
        std::string dataHome;
        std::string home;
    };
    const Case cases[] = {
        {"a file where the folder belongs", scratch.Path("datei"), ""},
        {"a file on the way to it", scratch.Path("datei") + "/daten", ""},
        {"longer than MAX_PATH", scratch.Path(std::string(260, 'l')), ""},
        {"not UTF-8", scratch.Path("\xFF"), ""},
        {"no data home and a relative HOME", "", "relativ"},
    };
    for (const Case& c : cases) {
        environment.Set("XDG_DATA_HOME", c.dataHome);
        environment.Set("HOME", c.home);
        std::string folder;
        EXPECT_EQ(LocalAppData(folder), E_FAIL) << c.why;
    }
    environment.Unset("XDG_DATA_HOME");
    environment.Unset("HOME");
    std::string folder;
    EXPECT_EQ(LocalAppData(folder), E_FAIL) << "neither variable set";
}

TEST_F(ShellFolderXdg, OtherFoldersAreNotKnown) {
    environment.Set("XDG_DATA_HOME", scratch.path());
    WCHAR buffer[MAX_PATH] = {};
    constexpr int RoamingAppData = 0x1A;
    EXPECT_EQ(SHGetFolderPathW(nullptr, RoamingAppData, nullptr, SHGFP_TYPE_CURRENT, buffer),
              E_FAIL);
}
#endif

}  // namespace
}  // namespace holwerk
