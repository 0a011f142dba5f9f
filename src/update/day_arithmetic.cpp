#include "update/day_arithmetic.h"

#include <cstdint>

#include "update/lenient_integer.h"

namespace holwerk {
namespace {

std::string Padded(unsigned number, std::size_t width) {
    const std::string text = std::string(width, '0') + std::to_string(number);
    return text.substr(text.size() - width);
}

}  // namespace

std::int64_t DayNumber(std::int64_t year, std::int64_t month, std::int64_t day) {
    const std::int64_t y = month <= 2 ? year - 1 : year;
    const std::int64_t m = month <= 2 ? month + 9 : month - 3;
    return 365 * y + y / 4 - y / 100 + y / 400 + (153 * m + 2) / 5 + day;
}

std::string DateText(const SYSTEMTIME& time) {
    return Padded(time.wYear, 4) + "-" + Padded(time.wMonth, 2) + "-" + Padded(time.wDay, 2);
}

std::int64_t DaysSinceDate(const std::string& date, const SYSTEMTIME& today) {
    if (date.size() != 10) return 0;
    const std::int64_t since =
        DayNumber(LenientInteger(date.substr(0, 4)), LenientInteger(date.substr(5, 2)),
                  LenientInteger(date.substr(8, 2)));
    return DayNumber(today.wYear, today.wMonth, today.wDay) - since;
}
}  // namespace holwerk
