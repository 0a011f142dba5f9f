#include "cli/console_output.h"

#include <algorithm>
#include <cstdint>

namespace holwerk {

namespace {

// Set after the first standard output line that could not be written whole.
// A closed pipe or a full disk does not recover within one run, and a half
// line followed by later lines would mislead a reader more than silence.
bool standardOutputLost = false;

bool IsUsableHandle(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

}  // namespace

bool WriteAllToHandle(HANDLE handle, const std::string& bytes) {
    if (!IsUsableHandle(handle)) return false;
    // Pieces of at most 1 GiB keep each count inside a DWORD.
    constexpr std::size_t MaxPiece = std::size_t{1} << 30;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const auto piece = static_cast<DWORD>(std::min(bytes.size() - done, MaxPiece));
        DWORD written = 0;
        // A write that takes nothing would be retried forever.
        if (!WriteFile(handle, bytes.data() + done, piece, &written, nullptr) || written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

void WriteOutputLine(const std::string& text) {
    if (standardOutputLost) return;
    if (!WriteAllToHandle(GetStdHandle(STD_OUTPUT_HANDLE), text + "\r\n")) {
        standardOutputLost = true;
    }
}

void WriteErrorLine(const std::string& text) {
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (!IsUsableHandle(handle)) return;
    const std::string line = text + "\r\n";
    DWORD written = 0;
    WriteFile(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace holwerk
