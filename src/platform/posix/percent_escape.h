#pragma once

#include <string>
#include <string_view>

/// `text` with every byte for which `unsafe` holds written as "%XX".
template <typename Unsafe>
std::string PercentEscape(std::string_view text, Unsafe unsafe) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (unsafe(byte)) {
            escaped += '%';
            escaped += Hex[byte >> 4];
            escaped += Hex[byte & 0x0F];
        } else {
            escaped += c;
        }
    }
    return escaped;
}
