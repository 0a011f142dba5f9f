#include "update/day_arithmetic.h"

#include <gtest/gtest.h>

namespace holwerk {
namespace {

SYSTEMTIME Day(WORD year, WORD month, WORD day) {
    SYSTEMTIME time = {};
    time.wYear = year;
    time.wMonth = month;
    time.wDay = day;
    return time;
}

TEST(DayArithmeticTest, WritesZeroPaddedDates) {
    EXPECT_EQ(DateText(Day(2026, 3, 7)), "2026-03-07");
    EXPECT_EQ(DateText(Day(2026, 12, 31)), "2026-12-31");
    EXPECT_EQ(DateText(Day(987, 1, 1)), "0987-01-01");
}

TEST(DayArithmeticTest, CountsDaysAcrossFebruaryAndYearEnds) {
    const struct {
        const char* since;
        SYSTEMTIME today;
        std::int64_t days;
    } cases[] = {
        {"2024-02-28", Day(2024, 3, 1), 2},  // leap year
        {"2023-02-28", Day(2023, 3, 1), 1},   {"2024-02-29", Day(2024, 3, 1), 1},
        {"2000-02-28", Day(2000, 3, 1), 2},  // divisible by 400: leap
        {"1900-02-28", Day(1900, 3, 1), 1},  // divisible by 100: not
        {"2025-12-31", Day(2026, 1, 1), 1},   {"2025-12-01", Day(2026, 2, 28), 89},
        {"2025-12-01", Day(2026, 3, 1), 90},  {"2024-01-01", Day(2025, 1, 1), 366},
        {"2025-01-01", Day(2026, 1, 1), 365}, {"2026-12-06", Day(2026, 12, 6), 0},
        {"2026-12-07", Day(2026, 12, 6), -1},  // clock set back
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DaysSinceDate(c.since, c.today), c.days) << c.since;
    }
}

TEST(DayArithmeticTest, OddDatesCountAsTheRulesSay) {
    const SYSTEMTIME today = Day(2026, 12, 6);
    EXPECT_EQ(DaysSinceDate("", today), 0);
    EXPECT_EQ(DaysSinceDate("2026-1-1", today), 0);
    EXPECT_EQ(DaysSinceDate("2026-12-06 ", today), 0);
    // Separators are not looked at.
    EXPECT_EQ(DaysSinceDate("2026/12/05", today), 1);
    // Ten bytes without digits: year, month and day 0, a very old date.
    EXPECT_GT(DaysSinceDate("abcdefghij", today), 700000);
}

}  // namespace
}  // namespace holwerk
