#include "identity/installation_id.h"

#include <cstdint>

#include "common/ascii.h"
#include "platform/path_separator.h"
#include "platform/win32.h"
#include "storage/text_encoding.h"
#include "storage/user_data.h"

namespace holwerk {
namespace {

constexpr std::int64_t KeyPathUnits = 512;
constexpr std::int64_t ValueNameUnits = 128;
constexpr std::int64_t IdUnits = 64;
constexpr DWORD ValueBufferBytes = 256;
constexpr std::size_t IdLength = 36;

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

std::string IdFilePath(const std::string& folder) {
    return folder + PathSeparator + InstallationIdFileName;
}

// The file's ID as the reconciliation compares it: lower case, without
// tabs, line ends and blanks at either end.
bool ReadIdFile(const std::string& path, std::string& cleaned) {
    const bool read = ReadTextFile(path, cleaned);
    cleaned = TrimmedOf(ToAsciiLower(cleaned), "\t\n\r ");
    return read;
}

}  // namespace

bool IsValidInstallationId(const std::string& text) {
    const std::string id = ToAsciiLower(TrimmedOf(text, " "));
    if (id.size() != IdLength) return false;
    for (std::size_t i = 0; i < IdLength; ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? id[i] != '-' : !IsHexDigit(id[i])) return false;
    }
    return id[14] == '4' && std::string("89ab").find(id[19]) != std::string::npos;
}

bool NewInstallationId(std::string& id) {
    id.clear();
    GUID guid = {};
    if (CoCreateGuid(&guid) != S_OK) return false;
    WCHAR text[64] = {};
    if (StringFromGUID2(guid, text, 64) == 0) return false;
    id = ToAsciiLower(Utf16ToUtf8(text));
    if (id.size() >= 2 && id.front() == '{' && id.back() == '}') id = id.substr(1, id.size() - 2);
    return id.size() == IdLength;
}

bool ReadRegistryInstallationId(std::string& id) {
    id.clear();
    WCHAR keyPath[KeyPathUnits];
    WCHAR valueName[ValueNameUnits];
    if (!Utf8ToUtf16(InstallationRegistryKey, keyPath, KeyPathUnits) ||
        !Utf8ToUtf16(InstallationIdValueName, valueName, ValueNameUnits)) {
        return false;
    }
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    // One unit more than the data can fill, so the text always ends in NUL
    // even when the value holds 256 bytes without a terminator.
    WCHAR data[ValueBufferBytes / sizeof(WCHAR) + 1] = {};
    DWORD type = REG_NONE;
    DWORD size = ValueBufferBytes;
    const LSTATUS status =
        RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<LPBYTE>(data), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return false;
    data[size / sizeof(WCHAR)] = 0;
    id = ToAsciiLower(Utf16ToUtf8(data));
    // Blanks around a stored ID pass the check but would never match the
    // file and would reach the manifest request; the canonical 36
    // characters are handed back instead.
    id = TrimmedOf(id, " ");
    if (!IsValidInstallationId(id)) {
        id.clear();
        return false;
    }
    return true;
}

bool WriteRegistryInstallationId(const std::string& id) {
    if (!IsValidInstallationId(id)) return false;
    WCHAR keyPath[KeyPathUnits];
    WCHAR valueName[ValueNameUnits];
    WCHAR data[IdUnits];
    if (!Utf8ToUtf16(InstallationRegistryKey, keyPath, KeyPathUnits) ||
        !Utf8ToUtf16(InstallationIdValueName, valueName, ValueNameUnits) ||
        !Utf8ToUtf16(id, data, IdUnits)) {
        return false;
    }
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const DWORD bytes = static_cast<DWORD>(id.size() * 2 + 2);
    const LSTATUS status =
        RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data), bytes);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool GetInstallationId(const std::string& folder, std::string& id) {
    const std::string path = IdFilePath(folder);
    std::string fileId;
    if (ReadRegistryInstallationId(id)) {
        if (ReadIdFile(path, fileId) && fileId == id) return true;
        return WriteTextFileAtomic(path, id + "\r\n");
    }
    if (ReadIdFile(path, fileId) && IsValidInstallationId(fileId)) {
        id = fileId;
        return WriteRegistryInstallationId(id);
    }
    if (!NewInstallationId(id)) return false;
    if (!WriteRegistryInstallationId(id)) return false;
    return WriteTextFileAtomic(path, id + "\r\n");
}

}  // namespace holwerk
