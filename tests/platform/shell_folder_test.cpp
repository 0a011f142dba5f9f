// What the program relies on from SHGetFolderPathW natively: the local
// application-data folder by the XDG rules, existing, without a trailing
// separator, its missing levels made private, as the folder of Windows always
// exists. Under Wine the black-box tests keep their data in Windows' own.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/win32.h"
#include "storage/text_encoding.h"
#include "support/environment.h"
#include "support/scratch_folder.h"

#ifndef _WIN32
namespace holwerk {
namespace {

TEST(ShellFolderContract, LocalAppDataIsAnExistingPrivateFolderWithoutTrailingSeparator) {
    ScratchFolder scratch;
    constexpr auto unset = std::nullopt;
    const struct {
        std::optional<std::string> dataHome, home;
        std::string folder;  // "" when the call fails
    } cases[] = {
        {scratch.Path("a") + "/b//", unset, scratch.Path("a/b")},
        {unset, scratch.path(), scratch.Path(".local/share")},
        {"relativ", scratch.path(), scratch.Path(".local/share")},
        {scratch.Path("a/b/c"), scratch.path(), scratch.Path("a/b/c")},  // keeps a/b's mode
        {scratch.Path("a/b/c/datei/d"), unset, ""},
        {scratch.Path(std::string(260, 'l')), unset, ""},
        {scratch.Path("\xFF"), unset, ""},
        {unset, "relativ", ""},
        {unset, unset, ""},
    };
    ScopedEnvironment environment;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dataHome.value_or("-") + " " + c.home.value_or("-"));
        environment.Set("XDG_DATA_HOME", c.dataHome);
        environment.Set("HOME", c.home);
        WCHAR buffer[MAX_PATH] = {};
        const HRESULT result =
            SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer);
        const std::string folder = Utf16ToUtf8(buffer);
        EXPECT_EQ(result, c.folder.empty() ? E_FAIL : S_OK);
        if (c.folder.empty()) continue;
        EXPECT_EQ(folder, c.folder);
        EXPECT_TRUE(std::filesystem::is_directory(folder)) << folder;
        EXPECT_EQ(std::filesystem::status(folder).permissions(), std::filesystem::perms::owner_all);
        // The next rows find a/b with another mode, and a file on their way.
        if (c.folder == scratch.Path("a/b"))
            std::filesystem::permissions(folder, std::filesystem::perms(0755));
        WriteWholeFile(scratch.Path("a/b/c/datei"), "x");
    }
    EXPECT_EQ(std::filesystem::status(scratch.Path("a/b")).permissions(),
              std::filesystem::perms(0755));
    EXPECT_FALSE(std::filesystem::exists("relativ"));
}

}  // namespace
}  // namespace holwerk
#endif
