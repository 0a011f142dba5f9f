// Fuzzes the two conversions at the operating-system boundary against a
// plain reference decoder written here. The first two input bytes choose the
// capacity of the UTF-16 buffer; the rest is the text. Every buffer is a heap
// block of exactly the size the conversion is told, so a write or read past
// it stops the run under AddressSanitizer.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "fuzz_check.h"
#include "storage/text_encoding.h"

namespace holwerk {
namespace {

// The UTF-16 form of valid UTF-8, or nothing for ill-formed input (overlong
// forms, surrogates, values above U+10FFFF, stray or missing continuation
// bytes). Written from the definition of UTF-8, not from the program's code.
std::optional<std::u16string> ReferenceUtf16(const std::string& text) {
    std::u16string units;
    for (std::size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        std::size_t length = 0;
        char32_t value = 0;
        if (lead < 0x80) {
            length = 1, value = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, value = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, value = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, value = lead & 0x07;
        } else {
            return std::nullopt;
        }
        if (at + length > text.size()) return std::nullopt;
        for (std::size_t i = 1; i < length; ++i) {
            const auto next = static_cast<unsigned char>(text[at + i]);
            if ((next & 0xC0) != 0x80) return std::nullopt;
            value = (value << 6) | (next & 0x3F);
        }
        const char32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (value < shortest[length] || value > 0x10FFFF) return std::nullopt;
        if (value >= 0xD800 && value <= 0xDFFF) return std::nullopt;
        if (value >= 0x10000) {
            units.push_back(static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((value - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(value));
        }
        at += length;
    }
    return units;
}

// UTF-8 of UTF-16 units with every unpaired surrogate as U+FFFD.
std::string ReferenceUtf8(const std::u16string& units) {
    std::string text;
    for (std::size_t at = 0; at < units.size(); ++at) {
        char32_t value = units[at];
        if (value >= 0xD800 && value <= 0xDBFF && at + 1 < units.size() &&
            units[at + 1] >= 0xDC00 && units[at + 1] <= 0xDFFF) {
            value = 0x10000 + ((value - 0xD800) << 10) + (units[at + 1] - 0xDC00);
            ++at;
        } else if (value >= 0xD800 && value <= 0xDFFF) {
            value = 0xFFFD;
        }
        if (value < 0x80) {
            text += static_cast<char>(value);
        } else if (value < 0x800) {
            text += static_cast<char>(0xC0 | (value >> 6));
            text += static_cast<char>(0x80 | (value & 0x3F));
        } else if (value < 0x10000) {
            text += static_cast<char>(0xE0 | (value >> 12));
            text += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (value & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (value >> 18));
            text += static_cast<char>(0x80 | ((value >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (value & 0x3F));
        }
    }
    return text;
}

void CheckUtf8ToUtf16(const std::string& text, std::int64_t capacity) {
    const std::optional<std::u16string> expected = ReferenceUtf16(text);
    if (capacity < 1) {
        // Nothing may be written: a one-unit sentinel must stay as it was.
        auto sentinel = std::make_unique<WCHAR[]>(1);
        sentinel[0] = 0x5A5A;
        FuzzCheck(!Utf8ToUtf16(text, sentinel.get(), capacity), "capacity below 1 fails");
        FuzzCheck(sentinel[0] == 0x5A5A, "capacity below 1 leaves the buffer alone");
        return;
    }
    auto buffer = std::make_unique<WCHAR[]>(static_cast<std::size_t>(capacity));
    const bool converted = Utf8ToUtf16(text, buffer.get(), capacity);
    const bool fits = expected && expected->size() <= static_cast<std::size_t>(capacity - 1);
    FuzzCheck(converted == fits, "converts exactly valid UTF-8 that fits in capacity - 1 units");
    if (!converted) return;
    for (std::size_t i = 0; i < expected->size(); ++i) {
        FuzzCheck(buffer[i] == (*expected)[i], "the units are the reference units");
    }
    FuzzCheck(buffer[expected->size()] == 0, "the text is terminated");

    // Back again: exact for text without NUL, which the system would cut.
    const std::string back = Utf16ToUtf8(buffer.get());
    FuzzCheck(back == text.substr(0, text.find('\0')), "the round trip of valid text is exact");
}

void CheckUtf16ToUtf8(const std::uint8_t* data, std::size_t size) {
    const std::size_t count = size / 2;
    auto units = std::make_unique<WCHAR[]>(count + 1);
    std::u16string upToNul;
    bool atNul = false;
    for (std::size_t i = 0; i < count; ++i) {
        units[i] = static_cast<WCHAR>(data[2 * i] | (data[2 * i + 1] << 8));
        if (units[i] == 0) atNul = true;
        if (!atNul) upToNul.push_back(units[i]);
    }
    units[count] = 0;
    const std::string text = Utf16ToUtf8(units.get());
    FuzzCheck(text == ReferenceUtf8(upToNul), "UTF-16 converts with U+FFFD for lone surrogates");
    FuzzCheck(ReferenceUtf16(text).has_value(), "what comes back is valid UTF-8");
}

}  // namespace
}  // namespace holwerk

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // Capacities from -2 up to a little more than the longest text, so that
    // both "fits" and "does not fit" come up often.
    const std::int64_t capacity = static_cast<std::int64_t>((data[0] | (data[1] << 8)) % 4100) - 2;
    const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
    holwerk::CheckUtf8ToUtf16(text, capacity);
    holwerk::CheckUtf16ToUtf8(data + 2, size - 2);
    return 0;
}
