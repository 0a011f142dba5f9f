// What the installation ID relies on from the registry: values keep their
// type and bytes and are replaced whole; a missing key or value and a short
// buffer report Windows' codes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32.h"
#include "storage/text_encoding.h"
#include "support/environment.h"
#include "support/scratch_folder.h"

namespace holwerk {
namespace {

std::vector<WCHAR> Wide(const std::string& text) {
    std::vector<WCHAR> wide;
    EXPECT_TRUE(Utf8ToUtf16Path(text, wide));
    return wide;
}

// Natively the store is a scratch folder; on Windows the key is unique below
// the program's company key, which the black-box tests clear.
TEST(RegistryContract, ValuesKeepTypeAndBytesAndMissingOnesAreNotFound) {
#ifdef _WIN32
    const std::string base = "Software\\TolvikSoftware\\ContractTest\\" +
                             std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(GetTickCount());
#else
    ScratchFolder scratch;
    ScopedEnvironment environment;
    environment.Set("XDG_CONFIG_HOME", scratch.path());
    const std::string base = "Software\\TolvikSoftware\\ContractTest";
#endif
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, Wide(base).data(), 0, KEY_QUERY_VALUE, &key),
              ERROR_FILE_NOT_FOUND);
    // Created with its missing parents, as on a user's first run.
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Wide(base).data(), 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    // The program's own form (a terminated UTF-16 text under a braced GUID),
    // one set again with another type, one longer than the buffer, and one
    // never set.
    const struct {
        const char* name;
        DWORD type;
        std::string data;
    } values[] = {
        {"{3b7c9e14-5a2d-4f86-b0c3-91d4e6a72f58}", REG_SZ, std::string("7\0 \0\n\0\0\0", 8)},
        {"again", REG_EXPAND_SZ, std::string("%\0T\0%\0\0\0", 8)},
        {"again", REG_SZ, std::string("c\0d\0\0\0", 6)},
        {"long", REG_SZ, std::string(298, 'A') + std::string(2, '\0')},
        {"absent", REG_NONE, ""},
    };
    for (const auto& value : values) {
        if (value.type == REG_NONE) continue;
        EXPECT_EQ(RegSetValueExW(key, Wide(value.name).data(), 0, value.type,
                                 reinterpret_cast<const BYTE*>(value.data.data()),
                                 static_cast<DWORD>(value.data.size())),
                  ERROR_SUCCESS);
    }
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, Wide(base).data(), 0, KEY_QUERY_VALUE, &key),
              ERROR_SUCCESS);
    for (const auto* value : {&values[0], &values[2], &values[3], &values[4]}) {
        SCOPED_TRACE(value->name);
        std::string data(256, '\xEE');
        DWORD type = REG_NONE;
        DWORD size = static_cast<DWORD>(data.size());
        const LSTATUS status = RegQueryValueExW(key, Wide(value->name).data(), nullptr, &type,
                                                reinterpret_cast<BYTE*>(data.data()), &size);
        if (value->type == REG_NONE) {
            EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
            continue;
        }
        EXPECT_EQ(status, size > 256 ? ERROR_MORE_DATA : ERROR_SUCCESS);
        EXPECT_EQ(size, value->data.size());
        EXPECT_TRUE(size > 256 || (type == value->type && data.substr(0, size) == value->data));
    }
    RegCloseKey(key);
}

}  // namespace
}  // namespace holwerk
