#include "update/lenient_integer.h"

#include <limits>

namespace holwerk {

std::int64_t LenientInteger(const std::string& text) {
    constexpr std::int64_t Low = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t High = std::numeric_limits<std::int32_t>::max();
    std::size_t at = 0;
    while (at < text.size() && text[at] == ' ') ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    std::int64_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        // Saturating keeps an absurd group or year from overflowing.
        if (value <= High) value = value * 10 + (text[at] - '0');
    }
    if (negative) value = -value;
    return value < Low ? Low : value > High ? High : value;
}

}  // namespace holwerk
