#pragma once

// Text rules of HTTP header lines, shared by the WinINet functions of this
// folder: names compare without regard to ASCII case, values lose the blanks
// and tabs around them.

#include <cstddef>
#include <string_view>

namespace holwerk {

inline bool EqualsIgnoringCase(std::string_view left, std::string_view right) {
    if (left.size() != right.size()) return false;
    for (std::size_t i = 0; i < left.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(left[i]) != lower(right[i])) return false;
    }
    return true;
}

inline std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

}  // namespace holwerk
