#include "identity/installation_id.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "storage/text_encoding.h"
#include "support/environment.h"
#include "support/scratch_folder.h"

namespace holwerk {
namespace {

const std::string IdA = "0f1e2d3c-4b5a-4697-8877-665544332211";
const std::string IdB = "a1b2c3d4-e5f6-4a7b-9c8d-0e1f2a3b4c5d";
const std::string IdBUpper = "A1B2C3D4-E5F6-4A7B-9C8D-0E1F2A3B4C5D";

std::vector<WCHAR> Wide(const std::string& text) {
    std::vector<WCHAR> wide(text.size() + 1);
    EXPECT_TRUE(Utf8ToUtf16(text, wide.data(), static_cast<std::int64_t>(wide.size())));
    return wide;
}

// Each row starts from an empty registry: natively a configuration folder of
// its own, on Windows the program's key deleted.
TEST(InstallationIdTest, RegistryWinsAndEitherStoreRestoresTheOther) {
    const struct {
        DWORD type;
        std::optional<std::string> registry, file;
        std::string id;         // "" for a new one
        std::string fileAfter;  // unused for a new ID: the file holds that ID
    } rows[] = {
        {REG_SZ, IdA, IdB + "\r\n", IdA, IdA + "\r\n"},
        {REG_SZ, "  " + IdA + " ", std::nullopt, IdA, IdA + "\r\n"},
        {REG_SZ, std::nullopt, " " + IdBUpper + "\r\n", IdB, " " + IdBUpper + "\r\n"},
        {REG_EXPAND_SZ, IdA, IdB, IdB, IdB},
        {REG_EXPAND_SZ, IdA, "garbage", "", ""},
        // Longer than the program reads: a new ID, and nothing written past.
        {REG_SZ, std::string(300, 'A'), std::nullopt, "", ""},
    };
    ScratchFolder scratch;
    const std::string file = scratch.Path(InstallationIdFileName);
#ifndef _WIN32
    ScopedEnvironment environment;
#endif
    int row = 0;
    for (const auto& r : rows) {
        SCOPED_TRACE(++row);
#ifdef _WIN32
        RegDeleteKeyW(HKEY_CURRENT_USER, Wide(InstallationRegistryKey).data());
#else
        environment.Set("XDG_CONFIG_HOME", scratch.Path("config-" + std::to_string(row)));
#endif
        std::filesystem::remove(PathOfUtf8(file));
        if (r.registry) {
            HKEY key = nullptr;
            ASSERT_EQ(
                RegCreateKeyExW(HKEY_CURRENT_USER, Wide(InstallationRegistryKey).data(), 0, nullptr,
                                REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr),
                static_cast<LSTATUS>(ERROR_SUCCESS));
            const std::vector<WCHAR> value = Wide(*r.registry);
            EXPECT_EQ(RegSetValueExW(key, Wide(InstallationIdValueName).data(), 0, r.type,
                                     reinterpret_cast<const BYTE*>(value.data()),
                                     static_cast<DWORD>(value.size() * sizeof(WCHAR))),
                      static_cast<LSTATUS>(ERROR_SUCCESS));
            RegCloseKey(key);
        }
        if (r.file) WriteWholeFile(file, *r.file);

        std::string id, stored;
        ASSERT_TRUE(GetInstallationId(scratch.path(), id));
        if (r.id.empty()) {
            EXPECT_TRUE(IsValidInstallationId(id) && id != IdA) << id;
        } else {
            EXPECT_EQ(id, r.id);
        }
        EXPECT_EQ(ReadWholeFile(file), r.id.empty() ? id + "\r\n" : r.fileAfter);
        ASSERT_TRUE(ReadRegistryInstallationId(stored));
        EXPECT_EQ(stored, id);
    }
#ifdef _WIN32
    RegDeleteKeyW(HKEY_CURRENT_USER, Wide(InstallationRegistryKey).data());
#endif
}

}  // namespace
}  // namespace holwerk
