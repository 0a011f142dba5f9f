#include "storage/text_encoding.h"

#include <algorithm>
#include <climits>

namespace holwerk {

std::string Utf16ToUtf8(const WCHAR* text) {
    if (text == nullptr) return "";
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 1) return "";
    std::string converted(static_cast<std::size_t>(needed - 1), '\0');
    // The terminator lands in the byte the string keeps behind its data.
    WideCharToMultiByte(CP_UTF8, 0, text, -1, converted.data(), needed, nullptr, nullptr);
    return converted;
}

bool Utf8ToUtf16(const std::string& text, WCHAR* buffer, std::int64_t capacity) {
    if (buffer == nullptr || capacity < 1) return false;
    if (text.empty()) {
        buffer[0] = 0;
        return true;
    }
    // An output size of 0 would ask the platform for the size instead of
    // converting, and the terminator would then be stored past the buffer.
    if (capacity < 2 || text.size() > static_cast<std::size_t>(INT_MAX)) return false;
    const int units = capacity - 1 > INT_MAX ? INT_MAX : static_cast<int>(capacity - 1);
    const int written = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                            static_cast<int>(text.size()), buffer, units);
    if (written == 0) return false;
    // Wine cuts a surrogate pair that only half fits and reports success;
    // well-formed text never ends in half a pair, so that is text that did not fit.
    const WCHAR last = buffer[written - 1];
    if (last >= 0xD800 && last <= 0xDBFF) return false;
    buffer[written] = 0;
    return true;
}

bool Utf8ToUtf16Path(const std::string& path, std::vector<WCHAR>& wide) {
    // UTF-8 never takes fewer bytes than UTF-16 takes units, so a buffer of
    // the path's length converts every path that fits the full limit; a
    // zero-filled buffer of the full limit on every file call was a
    // measurable part of a small download's run.
    const std::int64_t capacity =
        std::min<std::int64_t>(static_cast<std::int64_t>(path.size()) + 1, PathBufferUnits);
    wide.resize(static_cast<std::size_t>(capacity));
    return Utf8ToUtf16(path, wide.data(), capacity);
}

}  // namespace holwerk
