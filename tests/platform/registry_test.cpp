#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
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
constexpr LSTATUS Ok = ERROR_SUCCESS, NotFound = ERROR_FILE_NOT_FOUND, MoreData = ERROR_MORE_DATA,
                  Denied = ERROR_ACCESS_DENIED, BadHandle = ERROR_INVALID_HANDLE,
                  Invalid = ERROR_INVALID_PARAMETER;

std::vector<BYTE> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// Every test works below a key of its own. Natively the whole store is a
// fresh folder per test; on Windows the key name is unique per run, below
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

    // Creates (or opens) base_ + suffix with the given access.
    HKEY Create(const std::string& suffix, REGSAM access = KEY_QUERY_VALUE | KEY_SET_VALUE) {
        HKEY key = nullptr;
        const LSTATUS status =
            RegCreateKeyExW(HKEY_CURRENT_USER, Wide(base_ + suffix).data(), 0, nullptr,
                            REG_OPTION_NON_VOLATILE, access, nullptr, &key, nullptr);
        EXPECT_EQ(status, Ok) << base_ + suffix;
        return key;
    }

    LSTATUS Open(const std::string& suffix, HKEY& key, REGSAM access = KEY_QUERY_VALUE) {
        key = nullptr;
        return RegOpenKeyExW(HKEY_CURRENT_USER, Wide(base_ + suffix).data(), 0, access, &key);
    }

    static LSTATUS Set(HKEY key, const std::string& name, DWORD type,
                       const std::vector<BYTE>& data) {
        return RegSetValueExW(key, Wide(name).data(), 0, type, data.data(),
                              static_cast<DWORD>(data.size()));
    }

    std::string base_;
#ifndef _WIN32
    holwerk::ScopedEnvironment environment_;
    std::filesystem::path store_;
#endif
    static inline int counter_ = 0;
};

TEST_F(RegistryContract, CreateMakesMissingParentKeys) {
    HKEY leaf = Create("\\Outer\\Middle\\Leaf", KEY_SET_VALUE);
    EXPECT_EQ(RegCloseKey(leaf), Ok);

    for (const char* parent : {"\\Outer", "\\Outer\\Middle", "\\Outer\\Middle\\Leaf"}) {
        HKEY key = nullptr;
        EXPECT_EQ(Open(parent, key), Ok) << parent;
        RegCloseKey(key);
    }
    HKEY again = Create("\\Outer\\Middle\\Leaf", KEY_SET_VALUE);
    EXPECT_EQ(RegCloseKey(again), Ok);
}

TEST_F(RegistryContract, MissingKeyOrValueIsFileNotFound) {
    HKEY missing = nullptr;
    EXPECT_EQ(Open("\\Nowhere", missing), NotFound);
    EXPECT_EQ(missing, nullptr);

    HKEY key = Create("");
    DWORD type = 99, size = 16;
    BYTE data[16] = {};
    EXPECT_EQ(RegQueryValueExW(key, Wide("absent").data(), nullptr, &type, data, &size), NotFound);
    RegCloseKey(key);
}

struct TypedValue {
    const char* label;
    DWORD type;
    std::vector<BYTE> data;
};

TEST_F(RegistryContract, KeepsEveryTypeAndByteAcrossHandles) {
    const TypedValue cases[] = {
        {"string with terminator", REG_SZ, Bytes(std::string("a\0b\0\0\0", 6))},
        {"expandable string", REG_EXPAND_SZ, Bytes(std::string("%\0T\0%\0\0\0", 8))},
        {"bytes with NULs and odd length", REG_NONE, Bytes(std::string("\0\xff\n\r:\0z", 7))},
        {"no bytes", REG_NONE, {}},
    };
    HKEY writer = Create("\\Types", KEY_SET_VALUE);
    for (const TypedValue& value : cases) {
        EXPECT_EQ(Set(writer, value.label, value.type, value.data), Ok) << value.label;
    }
    RegCloseKey(writer);

    HKEY reader = nullptr;
    ASSERT_EQ(Open("\\Types", reader), Ok);
    for (const TypedValue& value : cases) {
        DWORD type = 99;
        std::vector<BYTE> data(64, 0xEE);
        DWORD size = static_cast<DWORD>(data.size());
        ASSERT_EQ(
            RegQueryValueExW(reader, Wide(value.label).data(), nullptr, &type, data.data(), &size),
            Ok)
            << value.label;
        EXPECT_EQ(type, value.type) << value.label;
        ASSERT_EQ(size, value.data.size()) << value.label;
        data.resize(size);
        EXPECT_EQ(data, value.data) << value.label;
    }
    RegCloseKey(reader);
}

TEST_F(RegistryContract, ShortBufferGivesMoreDataWithNeededSize) {
    HKEY key = Create("");
    std::vector<BYTE> data(300, 0x41);
    data[298] = data[299] = 0;  // terminated UTF-16 text of 300 bytes
    ASSERT_EQ(Set(key, "long", REG_SZ, data), Ok);

    DWORD type = 99;
    BYTE buffer[256] = {};
    DWORD size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExW(key, Wide("long").data(), nullptr, &type, buffer, &size), MoreData);
    EXPECT_EQ(size, 300u);
    RegCloseKey(key);
}

TEST_F(RegistryContract, SettingAgainReplacesTypeAndData) {
    HKEY key = Create("");
    ASSERT_EQ(Set(key, "v", REG_SZ, Bytes(std::string("a\0\0\0", 4))), Ok);
    ASSERT_EQ(Set(key, "v", REG_EXPAND_SZ, Bytes(std::string("bc\0\0", 4))), Ok);
    DWORD type = 0;
    BYTE data[8] = {};
    DWORD size = sizeof data;
    ASSERT_EQ(RegQueryValueExW(key, Wide("v").data(), nullptr, &type, data, &size), Ok);
    EXPECT_EQ(type, REG_EXPAND_SZ);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("bc\0\0", 4));
    RegCloseKey(key);
}

TEST_F(RegistryContract, KeyAndValueNamesIgnoreLetterCase) {
    HKEY writer = Create("\\MixedCase\\Inner", KEY_SET_VALUE);
    ASSERT_EQ(Set(writer, "{3B7C-Value}", REG_NONE, {7}), Ok);
    RegCloseKey(writer);

    HKEY reader = nullptr;
    ASSERT_EQ(Open("\\mixedcase\\INNER", reader), Ok);
    BYTE data[4] = {};
    DWORD size = sizeof data, type = 0;
    EXPECT_EQ(RegQueryValueExW(reader, Wide("{3b7c-value}").data(), nullptr, &type, data, &size),
              Ok);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(data[0], 7);
    RegCloseKey(reader);
}

TEST_F(RegistryContract, HandleAccessIsChecked) {
    HKEY writeOnly = Create("", KEY_SET_VALUE);
    ASSERT_EQ(Set(writeOnly, "v", REG_NONE, {1}), Ok);
    DWORD type = 0;
    BYTE data[4] = {};
    DWORD size = sizeof data;
    EXPECT_EQ(RegQueryValueExW(writeOnly, Wide("v").data(), nullptr, &type, data, &size), Denied);
    RegCloseKey(writeOnly);

    HKEY readOnly = nullptr;
    ASSERT_EQ(Open("", readOnly, KEY_QUERY_VALUE), Ok);
    EXPECT_EQ(Set(readOnly, "v", REG_NONE, {2}), Denied);
    RegCloseKey(readOnly);
}

// "w<writer>-<round>", appended piece by piece: for "w" + std::string, GCC 12
// at -O3 reports an overlap that cannot happen.
std::string WriterValueName(int writer, int round) {
    std::string name = "w";
    name += std::to_string(writer);
    name += '-';
    name += std::to_string(round);
    return name;
}

// Writers of different values of one key, at the same time, lose nothing.
TEST_F(RegistryContract, ConcurrentWritersKeepEveryValue) {
    HKEY key = Create("\\Shared");
    constexpr int Writers = 4;
    constexpr int Rounds = 10;
    std::vector<std::thread> threads;
    for (int writer = 0; writer < Writers; ++writer) {
        threads.emplace_back([this, key, writer] {
            for (int round = 0; round < Rounds; ++round) {
                const std::string name = WriterValueName(writer, round);
                EXPECT_EQ(Set(key, name, REG_NONE, {static_cast<BYTE>(round)}), Ok);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int writer = 0; writer < Writers; ++writer) {
        for (int round = 0; round < Rounds; ++round) {
            const std::string name = WriterValueName(writer, round);
            DWORD type = 0;
            BYTE data = 0xEE;
            DWORD size = 1;
            EXPECT_EQ(RegQueryValueExW(key, Wide(name).data(), nullptr, &type, &data, &size), Ok)
                << name;
            EXPECT_EQ(data, round) << name;
        }
    }
    RegCloseKey(key);
}

#ifndef _WIN32
// The store follows the user's configuration folder, so each user (and each
// test) has a registry of its own.
TEST_F(RegistryContract, StoreLivesBelowTheConfigurationFolder) {
    HKEY key = Create("\\Placed");
    ASSERT_EQ(Set(key, "v", REG_NONE, {1}), Ok);
    RegCloseKey(key);

    const std::filesystem::path other = store_ / "other";
    std::filesystem::create_directories(other);
    environment_.Set("XDG_CONFIG_HOME", other.string());
    HKEY found = nullptr;
    EXPECT_EQ(Open("\\Placed", found), NotFound);

    environment_.Set("XDG_CONFIG_HOME", store_.string());
    ASSERT_EQ(Open("\\Placed", found), Ok);
    RegCloseKey(found);
}

// Key names become folder names: only letters, digits, "-" and "_" are
// taken, so no name can leave the store or meet the values file.
TEST_F(RegistryContract, KeyNamesOfOtherCharactersAreRefused) {
    for (const char* name : {"\\..", "\\.values", "\\a b", "\\a/b", "\\a%2f", "\\a.b"}) {
        HKEY key = nullptr;
        const std::vector<WCHAR> path = Wide(base_ + name);
        EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.data(), 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr),
                  Invalid)
            << name;
        EXPECT_EQ(key, nullptr) << name;
    }
}

TEST_F(RegistryContract, UnknownHandleIsRefused) {
    HKEY key = Create("");
    ASSERT_EQ(RegCloseKey(key), Ok);
    EXPECT_EQ(RegCloseKey(key), BadHandle);
    DWORD type = 0;
    BYTE data[4] = {};
    DWORD size = sizeof data;
    EXPECT_EQ(RegQueryValueExW(key, Wide("v").data(), nullptr, &type, data, &size), BadHandle);
}
#endif

}  // namespace
