#include "identity/installation_id.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/path_separator.h"
#include "platform/win32.h"
#include "storage/text_encoding.h"
#include "support/environment.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace holwerk {
namespace {

const std::string IdA = "0f1e2d3c-4b5a-4697-8877-665544332211";
const std::string IdAUpper = "0F1E2D3C-4B5A-4697-8877-665544332211";
const std::string IdB = "a1b2c3d4-e5f6-4a7b-9c8d-0e1f2a3b4c5d";
const std::string IdBUpper = "A1B2C3D4-E5F6-4A7B-9C8D-0E1F2A3B4C5D";

// NUL-terminated UTF-16 of an ASCII text.
std::vector<WCHAR> Wide(const std::string& text) {
    std::vector<WCHAR> wide(text.size() + 1);
    EXPECT_TRUE(Utf8ToUtf16(text, wide.data(), static_cast<std::int64_t>(wide.size())));
    return wide;
}

// The little-endian bytes of Wide(text), the terminator included.
std::vector<BYTE> Utf16Bytes(const std::string& text) {
    std::vector<BYTE> bytes;
    for (const WCHAR unit : Wide(text)) {
        bytes.push_back(static_cast<BYTE>(unit & 0xFF));
        bytes.push_back(static_cast<BYTE>(unit >> 8));
    }
    return bytes;
}

struct RegistryValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// Works on the program's own registry value. Natively a fresh configuration
// folder gives a registry of its own; on Windows the value is deleted.
class InstallationIdTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static int counter = 0;
        const std::string unique = std::to_string(GetCurrentProcessId()) + "-" +
                                   std::to_string(GetTickCount()) + "-" + std::to_string(counter++);
        root_ = std::filesystem::temp_directory_path() / ("holwerk-identity-" + unique);
        std::filesystem::create_directories(root_ / "data");
        folder_ = (root_ / "data").string();
        ForgetRegistryValue();
    }

    void TearDown() override {
#ifdef _WIN32
        ForgetRegistryValue();
#endif
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    void ForgetRegistryValue() {
#ifdef _WIN32
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, Wide(InstallationRegistryKey).data(), 0, KEY_SET_VALUE,
                          &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, Wide(InstallationIdValueName).data());
            RegCloseKey(key);
        }
#else
        config_ = root_ / ("config-" + std::to_string(++registries_));
        environment_.Set("XDG_CONFIG_HOME", config_.string());
#endif
    }

    static void PlantRegistryValue(DWORD type, const std::vector<BYTE>& data,
                                   std::optional<DWORD> bytes = std::nullopt) {
        HKEY key = nullptr;
        ASSERT_EQ(
            RegCreateKeyExW(HKEY_CURRENT_USER, Wide(InstallationRegistryKey).data(), 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr),
            static_cast<LSTATUS>(ERROR_SUCCESS));
        EXPECT_EQ(RegSetValueExW(key, Wide(InstallationIdValueName).data(), 0, type, data.data(),
                                 bytes.value_or(static_cast<DWORD>(data.size()))),
                  static_cast<LSTATUS>(ERROR_SUCCESS));
        RegCloseKey(key);
    }

    static std::optional<RegistryValue> RegistryContent() {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, Wide(InstallationRegistryKey).data(), 0,
                          KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        RegistryValue value;
        value.data.resize(1024);
        DWORD size = static_cast<DWORD>(value.data.size());
        const LSTATUS status = RegQueryValueExW(key, Wide(InstallationIdValueName).data(), nullptr,
                                                &value.type, value.data.data(), &size);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS) return std::nullopt;
        value.data.resize(size);
        return value;
    }

    std::string FilePath() const { return folder_ + PathSeparator + "installation-id.txt"; }

    void PlantFile(const std::string& bytes) const {
        std::ofstream(FilePath(), std::ios::binary) << bytes;
    }

    std::optional<std::string> FileContent() const {
        std::ifstream file(FilePath(), std::ios::binary);
        if (!file) return std::nullopt;
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    std::filesystem::path root_;
    std::string folder_;
#ifndef _WIN32
    ScopedEnvironment environment_;
    std::filesystem::path config_;
    int registries_ = 0;
#endif
};

TEST(InstallationIdFormTest, AcceptsVersionFourUuidsOnly) {
    struct Case {
        std::string text;
        bool valid;
    };
    const Case cases[] = {
        {IdA, true},
        {IdAUpper, true},
        {"  " + IdA + " ", true},
        {"\t" + IdA, false},
        {IdA + "\r\n", false},
        {"0f1e2d3c-4b5a-3697-8877-665544332211", false},  // version 3
        {"0f1e2d3c-4b5a-4697-c877-665544332211", false},  // variant digit c
        {"0f1e2d3c-4b5a-4697-9877-665544332211", true},
        {"0f1e2d3c-4b5a-4697-a877-665544332211", true},
        {"0f1e2d3c-4b5a-4697-b877-665544332211", true},
        {"0f1e2d3c-4b5a-4697-8877-66554433221", false},  // 35 characters
        {"0f1e2d3c-4b5a-4697-8877-6655443322111", false},
        {"0f1e2d3c+4b5a-4697-8877-665544332211", false},
        {"0f1e2d3c4-b5a-4697-8877-665544332211", false},
        {"0f1e2d3g-4b5a-4697-8877-665544332211", false},
        {"{" + IdA.substr(0, 34) + "}", false},
        {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsValidInstallationId(c.text), c.valid) << c.text;
}

TEST(InstallationIdFormTest, NewIdsAreCanonicalAndDistinct) {
    std::set<std::string> seen;
    for (int i = 0; i < 16; ++i) {
        std::string id;
        ASSERT_TRUE(NewInstallationId(id));
        EXPECT_TRUE(IsValidInstallationId(id)) << id;
        EXPECT_EQ(id.find_first_not_of("0123456789abcdef-"), std::string::npos) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 16u);
}

TEST_F(InstallationIdTest, FirstRunCreatesOneIdInRegistryAndFile) {
    std::string id;
    ASSERT_TRUE(GetInstallationId(folder_, id));
    EXPECT_TRUE(IsValidInstallationId(id));
    EXPECT_EQ(FileContent(), id + "\r\n");

    const std::optional<RegistryValue> stored = RegistryContent();
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, REG_SZ);
    EXPECT_EQ(stored->data, Utf16Bytes(id));

    std::string again;
    ASSERT_TRUE(GetInstallationId(folder_, again));
    EXPECT_EQ(again, id);
    EXPECT_EQ(FileContent(), id + "\r\n");
}

struct Reconciliation {
    const char* label;
    std::optional<RegistryValue> registry;  // planted before the run
    std::optional<std::string> file;        // planted before the run
    std::string id;                         // handed back
    std::optional<std::string> fileAfter;
    std::string registryAfter;  // REG_SZ text expected afterwards
};

TEST_F(InstallationIdTest, ReconcilesRegistryAndFile) {
    const RegistryValue regA{REG_SZ, Utf16Bytes(IdA)};
    std::vector<BYTE> tooLong = Utf16Bytes(std::string(120, ' ') + IdA);
    const Reconciliation rows[] = {
        {"same ID in both", regA, IdA + "\r\n", IdA, IdA + "\r\n", IdA},
        {"file in upper case with blanks and line ends", regA, " \t" + IdAUpper + "\r\n\r\n", IdA,
         " \t" + IdAUpper + "\r\n\r\n", IdA},
        {"file missing", regA, std::nullopt, IdA, IdA + "\r\n", IdA},
        {"file holds another valid ID", regA, IdB + "\r\n", IdA, IdA + "\r\n", IdA},
        {"file holds no ID", regA, "garbage", IdA, IdA + "\r\n", IdA},
        {"registry empty, file valid in upper case", std::nullopt, IdBUpper, IdB, IdBUpper, IdB},
        {"registry value of type REG_EXPAND_SZ", RegistryValue{REG_EXPAND_SZ, Utf16Bytes(IdA)},
         IdB + "\r\n", IdB, IdB + "\r\n", IdB},
        {"registry ID with version digit 3",
         RegistryValue{REG_SZ, Utf16Bytes("0f1e2d3c-4b5a-3697-8877-665544332211")}, IdB, IdB, IdB,
         IdB},
        {"registry data longer than 256 bytes", RegistryValue{REG_SZ, tooLong}, IdB, IdB, IdB, IdB},
        {"registry ID with blanks around it", RegistryValue{REG_SZ, Utf16Bytes("  " + IdA + " ")},
         IdA + "\r\n", IdA, IdA + "\r\n", "  " + IdA + " "},
        {"registry ID in upper case", RegistryValue{REG_SZ, Utf16Bytes(IdAUpper)}, IdA + "\r\n",
         IdA, IdA + "\r\n", IdAUpper},
    };
    for (const Reconciliation& row : rows) {
        SCOPED_TRACE(row.label);
        ForgetRegistryValue();
        std::filesystem::remove(FilePath());
        if (row.registry) PlantRegistryValue(row.registry->type, row.registry->data);
        if (row.file) PlantFile(*row.file);

        std::string id;
        EXPECT_TRUE(GetInstallationId(folder_, id));
        EXPECT_EQ(id, row.id);
        EXPECT_EQ(FileContent(), row.fileAfter);
        const std::optional<RegistryValue> stored = RegistryContent();
        ASSERT_TRUE(stored.has_value());
        EXPECT_EQ(stored->type, REG_SZ);
        EXPECT_EQ(stored->data, Utf16Bytes(row.registryAfter));
    }
}

TEST_F(InstallationIdTest, NeitherStoreValidMakesANewId) {
    PlantRegistryValue(REG_EXPAND_SZ, Utf16Bytes(IdA));
    PlantFile("not an id\r\n");
    std::string id;
    ASSERT_TRUE(GetInstallationId(folder_, id));
    EXPECT_NE(id, IdA);
    EXPECT_TRUE(IsValidInstallationId(id));
    EXPECT_EQ(FileContent(), id + "\r\n");
    EXPECT_EQ(RegistryContent()->data, Utf16Bytes(id));
    EXPECT_EQ(RegistryContent()->type, REG_SZ);
}

TEST_F(InstallationIdTest, RegistryReadRefusesWrongTypeAndForm) {
    // No value, the wrong type, the wrong form: no ID, and nothing left over.
    const std::optional<RegistryValue> refused[] = {std::nullopt,
                                                    RegistryValue{REG_EXPAND_SZ, Utf16Bytes(IdA)},
                                                    RegistryValue{REG_SZ, Utf16Bytes(IdA + "x")}};
    std::string id;
    for (const std::optional<RegistryValue>& planted : refused) {
        if (planted) PlantRegistryValue(planted->type, planted->data);
        id = "left over";
        EXPECT_FALSE(ReadRegistryInstallationId(id));
        EXPECT_EQ(id, "");
    }

    // 256 bytes without a terminator: read up to the end of the data.
    // Windows would add a terminator to string data whose next unit is NUL,
    // so the unit after the 256 bytes is not.
    const std::vector<BYTE> full = Utf16Bytes(std::string(92, ' ') + IdA + "x");
    PlantRegistryValue(REG_SZ, full, 256);
    EXPECT_TRUE(ReadRegistryInstallationId(id));
    EXPECT_EQ(id, IdA);
}

TEST_F(InstallationIdTest, RegistryWriteRefusesInvalidIds) {
    EXPECT_FALSE(WriteRegistryInstallationId("0f1e2d3c-4b5a-3697-8877-665544332211"));
    EXPECT_FALSE(RegistryContent().has_value());
    EXPECT_TRUE(WriteRegistryInstallationId(IdA));
    EXPECT_EQ(RegistryContent()->data.size(), 74u);
}

TEST_F(InstallationIdTest, UnwritableFileFailsButRegistryIdRestoresItLater) {
    const std::string missing = folder_ + PathSeparator + "absent";
    std::string id;
    // A new ID reaches the registry before the file write fails.
    EXPECT_FALSE(GetInstallationId(missing, id));
    std::string stored;
    ASSERT_TRUE(ReadRegistryInstallationId(stored));
    EXPECT_EQ(stored, id);

    std::string later;
    ASSERT_TRUE(GetInstallationId(folder_, later));
    EXPECT_EQ(later, stored);
    EXPECT_EQ(FileContent(), stored + "\r\n");

    // With a valid registry ID, a file that needs writing and cannot be
    // written fails, and the ID is still the registry's.
    std::string again;
    EXPECT_FALSE(GetInstallationId(missing, again));
    EXPECT_EQ(again, stored);
}

#ifndef _WIN32
// A registry that cannot be written (its folder is taken by a file) gives
// no ID when it holds none, so the update check is skipped.
TEST_F(InstallationIdTest, UnwritableEmptyRegistryGivesNoId) {
    std::ofstream(config_) << "a file, not a folder";
    PlantFile(IdB + "\r\n");
    std::string id;
    EXPECT_FALSE(GetInstallationId(folder_, id));
    EXPECT_EQ(FileContent(), IdB + "\r\n");

    std::filesystem::remove(FilePath());
    EXPECT_FALSE(GetInstallationId(folder_, id));
    EXPECT_FALSE(FileContent().has_value());
}
#endif

}  // namespace
}  // namespace holwerk
