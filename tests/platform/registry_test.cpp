#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform/win32.h"
#include "support/environment.h"

namespace {

// NUL-terminated UTF-16 of a UTF-8 text, for the wide registry functions.
std::vector<WCHAR> Wide(const std::string& text) {
    std::vector<WCHAR> buffer(text.size() + 1);
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                          static_cast<int>(text.size()), buffer.data(),
                                          static_cast<int>(buffer.size()));
    EXPECT_EQ(units, static_cast<int>(text.size())) << text;  // ASCII names only
    buffer[text.size()] = 0;
    return buffer;
}

// Windows' codes as the registry functions return them.
constexpr LSTATUS Ok = ERROR_SUCCESS, NotFound = ERROR_FILE_NOT_FOUND, MoreData = ERROR_MORE_DATA;

std::vector<BYTE> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// Every test works below a key of its own, created with its missing parents
// as the program's key is on a user's first run. Natively the whole store is
// a fresh folder per test; on Windows the key name is unique per run, below
// the program's company key, which the black-box tests clear.
class RegistryContract : public ::testing::Test {
  protected:
    void SetUp() override {
#ifdef _WIN32
        base_ = "Software\\TolvikSoftware\\ContractTest\\" + std::to_string(GetCurrentProcessId()) +
                "-" + std::to_string(GetTickCount()) + "-" + std::to_string(counter_++);
#else
        store_ =
            std::filesystem::temp_directory_path() /
            ("holwerk-registry-" + std::to_string(getpid()) + "-" + std::to_string(counter_++));
        std::filesystem::remove_all(store_);
        std::filesystem::create_directories(store_);
        environment_.Set("XDG_CONFIG_HOME", store_.string());
        base_ = "Software\\TolvikSoftware\\ContractTest";
#endif
    }

    void TearDown() override {
#ifndef _WIN32
        std::filesystem::remove_all(store_);
#endif
    }

    // Creates (or opens) base_ + suffix for setting values, as the program does.
    HKEY Create(const std::string& suffix = "") {
        HKEY key = nullptr;
        const LSTATUS status =
            RegCreateKeyExW(HKEY_CURRENT_USER, Wide(base_ + suffix).data(), 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
        EXPECT_EQ(status, Ok) << base_ + suffix;
        return key;
    }

    // Opens base_ + suffix for reading values, as the program does.
    LSTATUS Open(const std::string& suffix, HKEY& key) {
        key = nullptr;
        return RegOpenKeyExW(HKEY_CURRENT_USER, Wide(base_ + suffix).data(), 0, KEY_QUERY_VALUE,
                             &key);
    }

    static LSTATUS Set(HKEY key, const std::string& name, DWORD type,
                       const std::vector<BYTE>& data) {
        return RegSetValueExW(key, Wide(name).data(), 0, type, data.data(),
                              static_cast<DWORD>(data.size()));
    }

    // Reads a value through a key opened afresh; the status, and on success
    // the type and bytes.
    LSTATUS Query(const std::string& name, DWORD& type, std::vector<BYTE>& data) {
        HKEY key = nullptr;
        const LSTATUS opened = Open("", key);
        if (opened != Ok) return opened;
        type = REG_NONE;
        data.assign(512, 0xEE);
        DWORD size = static_cast<DWORD>(data.size());
        const LSTATUS status =
            RegQueryValueExW(key, Wide(name).data(), nullptr, &type, data.data(), &size);
        RegCloseKey(key);
        data.resize(status == Ok ? size : 0);
        return status;
    }

    std::string base_;
#ifndef _WIN32
    holwerk::ScopedEnvironment environment_;
    std::filesystem::path store_;
#endif
    static inline int counter_ = 0;
};

// The program's own forms: a value named by a GUID in braces that holds a
// terminated UTF-16 text, and one of the other string type it must tell
// apart. The bytes include a line feed, blanks and digits.
TEST_F(RegistryContract, CreatedKeyKeepsEachValuesTypeAndBytes) {
    const struct {
        const char* name;
        DWORD type;
        std::vector<BYTE> data;
    } cases[] = {
        {"{3b7c9e14-5a2d-4f86-b0c3-91d4e6a72f58}", REG_SZ,
         Bytes(std::string("7\0 \0\n\0z\0\0\0", 10))},
        {"{0f1e2d3c-4b5a-4697-8877-665544332211}", REG_EXPAND_SZ,
         Bytes(std::string("%\0T\0%\0\0\0", 8))},
    };
    HKEY writer = Create();
    for (const auto& value : cases) {
        EXPECT_EQ(Set(writer, value.name, value.type, value.data), Ok) << value.name;
    }
    EXPECT_EQ(RegCloseKey(writer), Ok);

    for (const auto& value : cases) {
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
        ASSERT_EQ(Query(value.name, type, data), Ok) << value.name;
        EXPECT_EQ(type, value.type) << value.name;
        EXPECT_EQ(data, value.data) << value.name;
    }
}

TEST_F(RegistryContract, MissingKeyOrValueIsFileNotFound) {
    HKEY missing = nullptr;
    EXPECT_EQ(Open("\\Nowhere", missing), NotFound);
    EXPECT_EQ(missing, nullptr);

    RegCloseKey(Create());
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    EXPECT_EQ(Query("absent", type, data), NotFound);
}

TEST_F(RegistryContract, ShortBufferGivesMoreDataWithNeededSize) {
    HKEY key = Create();
    std::vector<BYTE> data(300, 0x41);
    data[298] = data[299] = 0;  // terminated UTF-16 text of 300 bytes
    ASSERT_EQ(Set(key, "long", REG_SZ, data), Ok);
    RegCloseKey(key);

    ASSERT_EQ(Open("", key), Ok);
    DWORD type = REG_NONE;
    BYTE buffer[256] = {};
    DWORD size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExW(key, Wide("long").data(), nullptr, &type, buffer, &size), MoreData);
    EXPECT_EQ(size, 300u);
    RegCloseKey(key);
}

// A value of the wrong type is replaced whole by the program's own.
TEST_F(RegistryContract, SettingAgainReplacesTypeAndData) {
    HKEY key = Create();
    ASSERT_EQ(Set(key, "v", REG_EXPAND_SZ, Bytes(std::string("a\0b\0\0\0", 6))), Ok);
    ASSERT_EQ(Set(key, "v", REG_SZ, Bytes(std::string("c\0\0\0", 4))), Ok);
    RegCloseKey(key);

    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    ASSERT_EQ(Query("v", type, data), Ok);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(data, Bytes(std::string("c\0\0\0", 4)));
}

#ifndef _WIN32
// The store follows the user's configuration folder, so each user (and each
// test) has a registry of its own.
TEST_F(RegistryContract, StoreLivesBelowTheConfigurationFolder) {
    HKEY key = Create();
    ASSERT_EQ(Set(key, "v", REG_SZ, {0, 0}), Ok);
    RegCloseKey(key);
    EXPECT_TRUE(std::filesystem::is_regular_file(
        store_ / "win32-registry/HKEY_CURRENT_USER/software/tolviksoftware/contracttest/v"));

    const std::filesystem::path other = store_ / "other";
    std::filesystem::create_directories(other);
    environment_.Set("XDG_CONFIG_HOME", other.string());
    HKEY found = nullptr;
    EXPECT_EQ(Open("", found), NotFound);

    environment_.Set("XDG_CONFIG_HOME", store_.string());
    ASSERT_EQ(Open("", found), Ok);
    RegCloseKey(found);
}
#endif

}  // namespace
