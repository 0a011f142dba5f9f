// MultiByteToWideChar and WideCharToMultiByte for code page 65001 only.
// Differences from Windows, all failing with ERROR_INVALID_PARAMETER: no
// other code page is known; MultiByteToWideChar decodes strictly only (flags
// must be MB_ERR_INVALID_CHARS) and takes a byte count, not -1;
// WideCharToMultiByte takes no flags and a NUL-terminated text (-1) only.

#include <string>

#include "platform/posix/utf16.h"
#include "platform/posix/win32_api.h"

namespace holwerk::posix {
namespace {

constexpr char32_t Replacement = 0xFFFD;

// Decodes one UTF-8 sequence strictly: no overlong forms, no encoded
// surrogates, nothing above U+10FFFF, no truncated sequence. Returns the
// number of bytes taken, or 0 for an ill-formed sequence.
std::size_t DecodeUtf8(const unsigned char* text, std::size_t available, char32_t& codePoint) {
    const unsigned char lead = text[0];
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    std::size_t length = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80, codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800, codePoint = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000, codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (available < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80) return 0;
        codePoint = (codePoint << 6) | (text[i] & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF) return 0;
    if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return 0;
    return length;
}

// Delivers the converted units into the caller's buffer by Windows' rules:
// a capacity of 0 asks for the size, a capacity that is too small fails.
template <typename Unit, typename Output>
int Deliver(const std::basic_string<Unit>& converted, Output* target, int capacity) {
    if (capacity == 0) return static_cast<int>(converted.size());
    if (static_cast<std::size_t>(capacity) < converted.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (std::size_t i = 0; i < converted.size(); ++i)
        target[i] = static_cast<Output>(converted[i]);
    return static_cast<int>(converted.size());
}

}  // namespace

bool EncodeUtf8(const WCHAR* text, std::size_t length, bool strict, std::string& encoded) {
    encoded.clear();
    for (std::size_t at = 0; at < length; ++at) {
        char32_t codePoint = text[at];
        if (codePoint >= 0xD800 && codePoint <= 0xDBFF && at + 1 < length &&
            text[at + 1] >= 0xDC00 && text[at + 1] <= 0xDFFF) {
            codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (text[at + 1] - 0xDC00);
            ++at;
        } else if (codePoint >= 0xD800 && codePoint <= 0xDFFF) {
            if (strict) return false;
            codePoint = Replacement;
        }
        if (codePoint < 0x80) {
            encoded.push_back(static_cast<char>(codePoint));
        } else if (codePoint < 0x800) {
            encoded.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
            encoded.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
        } else if (codePoint < 0x10000) {
            encoded.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
            encoded.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
            encoded.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
        } else {
            encoded.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
            encoded.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
            encoded.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
            encoded.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
        }
    }
    return true;
}

}  // namespace holwerk::posix

using namespace holwerk::posix;

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceBytes, LPWSTR target,
                        int targetUnits) {
    if (codePage != CP_UTF8 || flags != MB_ERR_INVALID_CHARS || source == nullptr ||
        sourceBytes < 1 || targetUnits < 0 || (targetUnits > 0 && target == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(source);
    const auto length = static_cast<std::size_t>(sourceBytes);
    std::u16string converted;
    for (std::size_t at = 0; at < length;) {
        char32_t codePoint = 0;
        const std::size_t taken = DecodeUtf8(bytes + at, length - at, codePoint);
        if (taken == 0) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
        at += taken;
        if (codePoint >= 0x10000) {
            codePoint -= 0x10000;
            converted.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
            converted.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
        } else {
            converted.push_back(static_cast<char16_t>(codePoint));
        }
    }
    return Deliver(converted, target, targetUnits);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceUnits, LPSTR target,
                        int targetBytes, LPCSTR defaultChar, BOOL* usedDefaultChar) {
    // Windows refuses a default character for UTF-8 as well.
    if (codePage != CP_UTF8 || flags != 0 || source == nullptr || sourceUnits != -1 ||
        targetBytes < 0 || (targetBytes > 0 && target == nullptr) || defaultChar != nullptr ||
        usedDefaultChar != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // The terminator is converted too and counted in the result.
    std::string converted;
    EncodeUtf8(source, std::char_traits<char16_t>::length(source) + 1, false, converted);
    return Deliver(converted, target, targetBytes);
}
