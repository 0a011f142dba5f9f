#pragma once

#include <string>

namespace holwerk {

/// The text with ASCII "A" to "Z" turned into "a" to "z"; other bytes stay.
inline std::string ToAsciiLower(std::string text) {
    for (char& byte : text) {
        if (byte >= 'A' && byte <= 'Z') byte = static_cast<char>(byte - 'A' + 'a');
    }
    return text;
}

/// The text without any of `characters` at its start and end.
inline std::string TrimmedOf(const std::string& text, const char* characters) {
    const std::size_t first = text.find_first_not_of(characters);
    if (first == std::string::npos) return "";
    const std::size_t last = text.find_last_not_of(characters);
    return text.substr(first, last - first + 1);
}

/// The digits of upper-case hexadecimal, by value.
inline constexpr char UpperHexDigits[] = "0123456789ABCDEF";

/// True for a control byte (up to 0x1F, and DEL) or a blank.
inline bool IsControlOrBlank(unsigned char byte) { return byte <= 0x20 || byte == 0x7F; }

}  // namespace holwerk
