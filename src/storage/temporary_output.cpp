#include "storage/temporary_output.h"

#include <vector>

#include "common/ascii.h"
#include "common/windows_error.h"
#include "storage/text_encoding.h"

namespace holwerk {

namespace {

std::string UpperHex(std::uint32_t value) {
    std::string text;
    do {
        text.insert(text.begin(), UpperHexDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return text;
}

}  // namespace

bool FileExists(const std::string& path) {
    std::vector<WCHAR> wide;
    if (!Utf8ToUtf16Path(path, wide)) return false;
    return GetFileAttributesW(wide.data()) != INVALID_FILE_ATTRIBUTES;
}

DWORD SystemTicks() { return GetTickCount(); }

bool CreateTemporaryFile(const std::string& path, const char* infix, TickSource tickSource,
                         std::string& tempPath, HANDLE& handle, std::string& errorMessage) {
    handle = INVALID_HANDLE_VALUE;
    const std::string prefix = path + infix + UpperHex(GetCurrentProcessId()) + "-";
    std::vector<WCHAR> wide;
    for (int attempt = 1;; ++attempt) {
        // A fresh tick count for every name: a name taken by a run that
        // started in the same millisecond is unlikely to be taken again.
        tempPath = prefix + UpperHex(tickSource()) + "-" + std::to_string(attempt);
        if (!Utf8ToUtf16Path(tempPath, wide)) {
            errorMessage = "Der temporäre Ausgabepfad ist ungültig oder zu lang.";
            return false;
        }
        handle = CreateFileW(wide.data(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) return true;
        const DWORD error = GetLastError();
        const bool taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        if (!taken || attempt == MaxTemporaryNameAttempts) {
            errorMessage =
                "Temporäre Ausgabedatei kann nicht angelegt werden: " + WindowsErrorText(error);
            return false;
        }
    }
}

bool CreateTemporaryOutputFile(const std::string& targetPath, std::string& tempPath, HANDLE& handle,
                               std::string& errorMessage) {
    return CreateTemporaryFile(targetPath, ".part-", SystemTicks, tempPath, handle, errorMessage);
}

bool WriteAllBytes(HANDLE handle, const void* data, std::uint32_t length,
                   std::string& errorMessage) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::uint32_t count = 0;
    while (count < length) {
        DWORD written = 0;
        if (!WriteFile(handle, bytes + count, length - count, &written, nullptr)) {
            errorMessage = "Fehler beim Schreiben der Datei: " + WindowsErrorText(GetLastError());
            return false;
        }
        // Zero bytes without an error would otherwise loop for ever.
        if (written == 0) {
            errorMessage = "Beim Schreiben wurden unerwartet null Bytes verarbeitet.";
            return false;
        }
        count += written;
    }
    return true;
}

bool CommitOutputFile(std::string& tempPath, const std::string& targetPath, bool replaceExisting,
                      std::string& errorMessage) {
    DWORD flags = MOVEFILE_WRITE_THROUGH;
    if (replaceExisting) flags |= MOVEFILE_REPLACE_EXISTING;
    // MOVEFILE_COPY_ALLOWED never: a copy could leave a partly written target.
    std::vector<WCHAR> from;
    std::vector<WCHAR> to;
    const bool fromConverted = Utf8ToUtf16Path(tempPath, from);
    const bool toConverted = Utf8ToUtf16Path(targetPath, to);
    if (!fromConverted || !toConverted) {
        errorMessage = "Der Ausgabepfad ist ungültig oder zu lang.";
        return false;
    }
    if (!MoveFileExW(from.data(), to.data(), flags)) {
        errorMessage =
            "Ausgabedatei kann nicht übernommen werden: " + WindowsErrorText(GetLastError());
        return false;
    }
    tempPath.clear();
    return true;
}

bool DiscardTemporaryOutputFile(const std::string& tempPath, std::string& errorMessage) {
    std::vector<WCHAR> wide;
    DWORD error = ERROR_SUCCESS;
    if (!Utf8ToUtf16Path(tempPath, wide)) {
        error = ERROR_INVALID_NAME;
    } else if (!DeleteFileW(wide.data())) {
        error = GetLastError();
    }
    // A file that is already gone (a commit that moved it and then failed to
    // sync the folder, say) has left nothing behind.
    if (error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        return true;
    }
    errorMessage = "Restdatei konnte nicht entfernt werden: " + WindowsErrorText(error);
    return false;
}

}  // namespace holwerk
