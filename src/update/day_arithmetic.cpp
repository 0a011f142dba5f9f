#include "update/day_arithmetic.h"

#include <cstdint>
#include <limits>

namespace holwerk {
namespace {

std::string Padded(unsigned number, std::size_t width) {
    const std::string text = std::string(width, '0') + std::to_string(number);
    return text.substr(text.size() - width);
}

}  // namespace

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

std::int64_t DayNumber(std::int64_t year, std::int64_t month, std::int64_t day) {
    const std::int64_t y = month <= 2 ? year - 1 : year;
    const std::int64_t m = month <= 2 ? month + 9 : month - 3;
    return 365 * y + y / 4 - y / 100 + y / 400 + (153 * m + 2) / 5 + day;
}

std::string DateText(const SYSTEMTIME& time) {
    return Padded(time.wYear, 4) + "-" + Padded(time.wMonth, 2) + "-" + Padded(time.wDay, 2);
}

std::string GetTodayDate() {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    return DateText(now);
}

std::int64_t DaysSinceDate(const std::string& date, const SYSTEMTIME& today) {
    if (date.size() != 10) return 0;
    const std::int64_t since =
        DayNumber(LenientInteger(date.substr(0, 4)), LenientInteger(date.substr(5, 2)),
                  LenientInteger(date.substr(8, 2)));
    return DayNumber(today.wYear, today.wMonth, today.wDay) - since;
}

std::int64_t DaysSinceDate(const std::string& date) {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    return DaysSinceDate(date, now);
}

}  // namespace holwerk
