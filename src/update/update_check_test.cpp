#include "update/update_check.h"

#include <gtest/gtest.h>

#include "update/day_arithmetic.h"

namespace holwerk {
namespace {

// The running version is 2.2.1; these tests are about that release.
const std::string Page = "https://downloads.example/holwerk/";
const std::string Default = "https://default.example/";

UpdateState State(std::string newerSeen, std::string latestVersion) {
    return {"2026-12-05", std::move(newerSeen), std::move(latestVersion), ""};
}

SYSTEMTIME Day(WORD year, WORD month, WORD day) { return {year, month, 0, day, 0, 0, 0, 0}; }

// Leap years, year ends, a clock set back; separators are not looked at and
// short fields count as 0.
TEST(DayArithmeticTest, CountsDaysAcrossFebruaryAndYearEnds) {
    const struct {
        const char* since;
        SYSTEMTIME today;
        std::int64_t days;
    } cases[] = {
        {"2024-02-28", Day(2024, 3, 1), 2},   {"2023-02-28", Day(2023, 3, 1), 1},
        {"2000-02-28", Day(2000, 3, 1), 2},   {"1900-02-28", Day(1900, 3, 1), 1},
        {"2025-12-01", Day(2026, 2, 28), 89}, {"2025-12-01", Day(2026, 3, 1), 90},
        {"2024-01-01", Day(2025, 1, 1), 366}, {"2026-12-07", Day(2026, 12, 6), -1},
        {"2026/12/05", Day(2026, 12, 6), 1},  {"2026-1-1", Day(2026, 12, 6), 0},
    };
    for (const auto& c : cases) EXPECT_EQ(DaysSinceDate(c.since, c.today), c.days) << c.since;
}

TEST(UpdateCheckTest, ManifestSettlesDeadlineAndPage) {
    const std::string today = "2026-12-06";
    const struct {
        UpdateState before;
        std::string body, newerSeen, latestVersion, page;
    } cases[] = {
        {State("", ""), R"({"version":"2.10.0","download_url":")" + Page + R"("})", today, "2.10.0",
         Page},
        {State("", ""), R"({"version":"999999999.999999999.999999999"})", today,
         "999999999.999999999.999999999", Default},
        {State("2026-10-01", "2.3.0"), R"({"version":"2.4.0"})", "2026-10-01", "2.4.0", Default},
        {State("2026-10-01", "2.3.0"), R"({"version":"2.2.01"})", "", "2.2.01", Default},
        {State("2026-10-01", "2.3.0"), R"({"version":"1.9.9"})", "", "1.9.9", Default},
        {State("", ""), "{\"version\":\"2.3.0\",\"download_url\":\"https://h/\x1b[31m\"}", today,
         "2.3.0", Default},
    };
    for (const auto& c : cases) {
        UpdateState state = c.before;
        std::string page = Default;
        ApplyManifest(c.body, today, state, page);
        EXPECT_EQ(state.newerSeen, c.newerSeen) << c.body;
        EXPECT_EQ(state.latestVersion, c.latestVersion) << c.body;
        EXPECT_EQ(page, c.page) << c.body;
    }
}

// A version is three groups of one to nine digits; a manifest that names
// anything else changes nothing.
TEST(UpdateCheckTest, ManifestWithAVersionOfAnotherFormIsIgnored) {
    for (const std::string version : {"1000000000.0.0", "2.1000000000.0", "2.3.1000000000", "2.4",
                                      "2.3.0.0", "2..0", ".3.0", "2.3.", "v2.3.0", "2.3.0 "}) {
        UpdateState state = State("2026-10-01", "2.3.0");
        std::string page = Default;
        ApplyManifest(R"({"version":")" + version + R"(","download_url":")" + Page + R"("})",
                      "2026-12-06", state, page);
        EXPECT_EQ(state.latestVersion + page, "2.3.0" + Default) << version;
    }
}

TEST(UpdateCheckTest, DeadlineOfAVersionAlreadyRunningIsForgotten) {
    const struct {
        const char* latestVersion;
        bool kept;
    } cases[] = {
        {"2.2.1", false}, {"02.2.01", false}, {"1.0.0", false},
        {"2.10.0", true}, {"", true},         {"2.2", true},
    };
    for (const auto& c : cases) {
        UpdateState state = State("2026-01-01", c.latestVersion);
        ForgetMetDeadline(state);
        EXPECT_EQ(state.newerSeen, c.kept ? "2026-01-01" : "") << c.latestVersion;
    }
}

}  // namespace
}  // namespace holwerk
