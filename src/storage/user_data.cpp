#include "storage/user_data.h"

#include <cstdint>
#include <vector>

#include "platform/path_separator.h"
#include "storage/text_encoding.h"

namespace holwerk {

namespace {

constexpr DWORD MaxSmallFileBytes = 65536;

}  // namespace

bool EnsureDirectory(const std::string& path) {
    std::vector<WCHAR> wide;
    if (!Utf8ToUtf16Path(path, wide)) return false;
    if (CreateDirectoryW(wide.data(), nullptr)) return true;
    return GetLastError() == ERROR_ALREADY_EXISTS;
}

bool GetUserDataFolder(std::string& folder) {
    WCHAR shellFolder[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, shellFolder) !=
        S_OK) {
        return false;
    }
    const std::string base = Utf16ToUtf8(shellFolder);
    // An empty base would put the folders at the root of the current drive.
    if (base.empty()) return false;
    const std::string company = base + PathSeparator + "TolvikSoftware";
    folder = company + PathSeparator + "Holwerk";
    return EnsureDirectory(company) && EnsureDirectory(folder);
}

bool ReadTextFile(const std::string& path, std::string& content) {
    content.clear();
    std::vector<WCHAR> wide;
    if (!Utf8ToUtf16Path(path, wide)) return false;
    const HANDLE file = CreateFileW(wide.data(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    // The high part is asked for: without it Windows hands back only the low
    // 32 bits, and a file of 4 GiB and a few bytes would pass as a few bytes.
    DWORD sizeHigh = 0;
    const DWORD size = GetFileSize(file, &sizeHigh);
    bool ok = size != INVALID_FILE_SIZE && sizeHigh == 0 && size <= MaxSmallFileBytes;
    if (ok && size != 0) {
        content.assign(size, '\0');
        DWORD read = 0;
        ok = ReadFile(file, content.data(), size, &read, nullptr) && read == size;
        if (!ok) content.clear();
    }
    CloseHandle(file);
    return ok;
}

bool WriteTextFileAtomic(const std::string& path, const std::string& content,
                         TickSource tickSource) {
    // The per-user files report nothing: their callers pass over a failure.
    std::string ignoredMessage;
    if (content.size() > UINT32_MAX) return false;
    std::string tempPath;
    HANDLE file = INVALID_HANDLE_VALUE;
    if (!CreateTemporaryFile(path, ".tmp-", tickSource, tempPath, file, ignoredMessage)) {
        return false;
    }
    bool ok = WriteAllBytes(file, content.data(), static_cast<std::uint32_t>(content.size()),
                            ignoredMessage) &&
              FlushFileBuffers(file);
    CloseHandle(file);
    ok = ok && CommitOutputFile(tempPath, path, true, ignoredMessage);
    if (!ok) DiscardTemporaryOutputFile(tempPath, ignoredMessage);
    return ok;
}

}  // namespace holwerk
