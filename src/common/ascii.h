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

/// True for a control byte (up to 0x1F, and DEL) or a blank.
inline bool IsControlOrBlank(unsigned char byte) { return byte <= 0x20 || byte == 0x7F; }

}  // namespace holwerk
