// What the installation ID relies on from the registry: values keep their
// type and bytes, are replaced whole, and a missing key or value or a short
// buffer reports Windows' codes.

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

std::vector<BYTE> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// Natively the whole store is a scratch folder; on Windows the key name is
// unique, below the program's company key, which the black-box tests clear.
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
    std::vector<BYTE> longText(300, 0x41);
    longText[298] = longText[299] = 0;
    // The program's own form (a terminated UTF-16 text under a braced GUID),
    // a type it must tell apart, one set again with another type, and one
    // longer than the program's buffer.
    const struct {
        const char* name;
        DWORD type;
        std::vector<BYTE> data;
    } values[] = {
        {"{3b7c9e14-5a2d-4f86-b0c3-91d4e6a72f58}", REG_SZ, Bytes(std::string("7\0 \0\n\0\0\0", 8))},
        {"other", REG_EXPAND_SZ, Bytes(std::string("%\0T\0%\0\0\0", 8))},
        {"again", REG_EXPAND_SZ, Bytes(std::string("a\0\0\0", 4))},
        {"again", REG_SZ, Bytes(std::string("c\0d\0\0\0", 6))},
        {"long", REG_SZ, longText},
        {"absent", REG_NONE, {}},
    };
    for (const auto& value : values) {
        if (value.type == REG_NONE) continue;
        EXPECT_EQ(RegSetValueExW(key, Wide(value.name).data(), 0, value.type, value.data.data(),
                                 static_cast<DWORD>(value.data.size())),
                  ERROR_SUCCESS);
    }
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, Wide(base).data(), 0, KEY_QUERY_VALUE, &key),
              ERROR_SUCCESS);
    // "again" reads back as set last; "absent" was never set.
    for (const auto* value : {&values[0], &values[1], &values[3], &values[4], &values[5]}) {
        std::vector<BYTE> data(256, 0xEE);
        DWORD type = REG_NONE;
        DWORD size = static_cast<DWORD>(data.size());
        const LSTATUS status =
            RegQueryValueExW(key, Wide(value->name).data(), nullptr, &type, data.data(), &size);
        SCOPED_TRACE(value->name);
        if (value->type == REG_NONE) {
            EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
        } else if (value->data.size() > data.size()) {
            EXPECT_EQ(status, ERROR_MORE_DATA);
            EXPECT_EQ(size, value->data.size());
        } else {
            ASSERT_EQ(status, ERROR_SUCCESS);
            EXPECT_EQ(type, value->type);
            data.resize(size);
            EXPECT_EQ(data, value->data);
        }
    }
    RegCloseKey(key);
}

}  // namespace
}  // namespace holwerk
