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

#ifdef _WIN32
TEST(ShellFolderContract, LocalAppDataIsAnExistingFolderWithoutTrailingSeparator) {
    std::string folder;
    ASSERT_EQ(LocalAppData(folder), S_OK);
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), PathSeparator[0]);
    EXPECT_TRUE(std::filesystem::is_directory(PathOfUtf8(folder))) << folder;
}
#else
// Natively the folder follows the XDG rules: missing levels are made
// private, as the local application data folder of Windows always exists.
TEST(ShellFolderContract, XdgDataHomeOrHomeServesAndUnusableLocationsFail) {
    ScratchFolder scratch;
    ScopedEnvironment environment;
    WriteWholeFile(scratch.Path("datei"), "x");
    const std::string unset = "<unset>";
    const struct {
        std::string dataHome;
        std::string home;
        std::string folder;  // "" when the call fails
    } cases[] = {
        {scratch.Path("a") + "/b//", unset, scratch.Path("a") + "/b"},
        {unset, scratch.path(), scratch.Path(".local/share")},
        {"", scratch.path(), scratch.Path(".local/share")},
        {"relativ", scratch.path(), scratch.Path(".local/share")},
        {scratch.Path("datei"), unset, ""},
        {scratch.Path("datei/daten"), unset, ""},
        {scratch.Path(std::string(260, 'l')), unset, ""},
        {scratch.Path("\xFF"), unset, ""},
        {unset, "relativ", ""},
        {unset, unset, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dataHome + " " + c.home);
        for (const char* name : {"XDG_DATA_HOME", "HOME"}) {
            const std::string& value = *name == 'H' ? c.home : c.dataHome;
            if (value == unset) {
                environment.Unset(name);
            } else {
                environment.Set(name, value);
            }
        }
        std::string folder;
        EXPECT_EQ(LocalAppData(folder), c.folder.empty() ? E_FAIL : S_OK);
        if (c.folder.empty()) continue;
        EXPECT_EQ(folder, c.folder);
        const auto mode = std::filesystem::status(folder).permissions();
        EXPECT_EQ(mode & std::filesystem::perms::all, std::filesystem::perms::owner_all);
        EXPECT_EQ(
            std::filesystem::status(scratch.Path(c.home == unset ? "a" : ".local")).permissions() &
                std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
    }
    EXPECT_FALSE(std::filesystem::exists("relativ"));
    // A folder that exists keeps its mode.
    std::filesystem::permissions(scratch.Path("a/b"), std::filesystem::perms(0755));
    environment.Set("XDG_DATA_HOME", scratch.Path("a/b"));
    std::string folder;
    ASSERT_EQ(LocalAppData(folder), S_OK);
    EXPECT_EQ(std::filesystem::status(folder).permissions() & std::filesystem::perms::all,
              std::filesystem::perms(0755));
}
#endif

}  // namespace
}  // namespace holwerk
