#pragma once

#include <cstdint>
#include <string>

#include "platform/win32.h"

namespace holwerk {

/// Days of the Gregorian calendar counted with the year starting in March
/// (1 March of year 0 is day 1), so differences count leap days exactly.
std::int64_t DayNumber(std::int64_t year, std::int64_t month, std::int64_t day);

/// "YYYY-MM-DD" of a local time, zero-padded.
std::string DateText(const SYSTEMTIME& time);

/// Days from a "YYYY-MM-DD" date to `today`; 0 when the text is not ten
/// bytes long, negative for a date after today.
std::int64_t DaysSinceDate(const std::string& date, const SYSTEMTIME& today);

}  // namespace holwerk
