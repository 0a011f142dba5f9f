#include "update/update_check.h"

#include <gtest/gtest.h>

#include "update/day_arithmetic.h"

namespace holwerk {
namespace {

// The running version is 2.2.1; these tests are about that release.
const std::string Page = "https://downloads.example/holwerk/";
const std::string Default = "https://default.example/";

UpdateState State(std::string newerSeen, std::string latestVersion) {
    UpdateState state;
    state.lastCheck = "2026-12-05";
    state.newerSeen = std::move(newerSeen);
    state.latestVersion = std::move(latestVersion);
    return state;
}

SYSTEMTIME Day(WORD year, WORD month, WORD day) {
    SYSTEMTIME time = {};
    time.wYear = year;
    time.wMonth = month;
    time.wDay = day;
    return time;
}

struct ManifestCase {
    const char* label;
    UpdateState before;
    std::string body;
    std::string newerSeen;
    std::string latestVersion;
    std::string page;
};

TEST(UpdateCheckTest, ManifestSettlesDeadlineAndPage) {
    const std::string today = "2026-12-06";
    const ManifestCase cases[] = {
        {"newer version first seen", State("", ""),
         R"({"version":"2.3.0","download_url":")" + Page + R"("})", today, "2.3.0", Page},
        {"newer version keeps the first sighting", State("2026-10-01", "2.3.0"),
         R"({"version":"2.4.0","download_url":")" + Page + R"("})", "2026-10-01", "2.4.0", Page},
        {"2.10.0 is newer than 2.2.1", State("", ""), R"({"version":"2.10.0"})", today, "2.10.0",
         Default},
        {"same version clears", State("2026-10-01", "2.3.0"), R"({"version":"2.2.1"})", "", "2.2.1",
         Default},
        {"2.2.01 equals the running version", State("2026-10-01", "2.3.0"),
         R"({"version":"2.2.01"})", "", "2.2.01", Default},
        {"older version clears", State("2026-10-01", "2.3.0"), R"({"version":"1.9.9"})", "",
         "1.9.9", Default},
        {"invalid version changes nothing", State("2026-10-01", "2.3.0"),
         R"({"version":"2.4","download_url":")" + Page + R"("})", "2026-10-01", "2.3.0", Default},
        {"http page is ignored, version used", State("", ""),
         R"({"version":"2.3.0","download_url":"http://h/"})", today, "2.3.0", Default},
        {"page with a line break is ignored", State("", ""),
         "{\"version\":\"2.3.0\",\"download_url\":\"https://h/\r\nx\"}", today, "2.3.0", Default},
        {"page with a blank is ignored", State("", ""),
         R"({"version":"2.3.0","download_url":"https://h/ x"})", today, "2.3.0", Default},
        {"page with an escape byte is ignored", State("", ""),
         "{\"version\":\"2.3.0\",\"download_url\":\"https://h/\x1b[31m\"}", today, "2.3.0",
         Default},
    };
    for (const ManifestCase& c : cases) {
        UpdateState state = c.before;
        std::string page = Default;
        ApplyManifest(c.body, today, state, page);
        EXPECT_EQ(state.newerSeen, c.newerSeen) << c.label;
        EXPECT_EQ(state.latestVersion, c.latestVersion) << c.label;
        EXPECT_EQ(page, c.page) << c.label;
    }
}

TEST(UpdateCheckTest, NoticeCountsDownAndRefusalStartsOnDayNinety) {
    const SYSTEMTIME today = Day(2026, 12, 6);
    const struct {
        std::string newerSeen;
        UpdateCheckStatus status;
        std::string message;
    } cases[] = {
        {"2026-12-06", UpdateCheckStatus::Notice,
         "Eine neuere Version 2.3.0 ist verfügbar. Verbleibende Aktualisierungsfrist: 90 Tage. " +
             Page},
        {"2026-09-08", UpdateCheckStatus::Notice,
         "Eine neuere Version 2.3.0 ist verfügbar. Verbleibende Aktualisierungsfrist: 1 Tage. " +
             Page},
        {"2026-09-07", UpdateCheckStatus::Blocked,
         "Diese Version ist seit 90 Tagen als veraltet erkannt. Vor dem nächsten Download ist "
         "die Aktualisierung auf 2.3.0 erforderlich."},
        {"2025-12-06", UpdateCheckStatus::Blocked,
         "Diese Version ist seit 365 Tagen als veraltet erkannt. Vor dem nächsten Download ist "
         "die Aktualisierung auf 2.3.0 erforderlich."},
        {"2026-12-16", UpdateCheckStatus::Notice,
         "Eine neuere Version 2.3.0 ist verfügbar. Verbleibende Aktualisierungsfrist: 100 Tage. " +
             Page},
        {"2026-9-7", UpdateCheckStatus::Notice,
         "Eine neuere Version 2.3.0 ist verfügbar. Verbleibende Aktualisierungsfrist: 90 Tage. " +
             Page},
        {"", UpdateCheckStatus::None, ""},
    };
    for (const auto& c : cases) {
        std::string message = "left over";
        EXPECT_EQ(DeadlineStatus(State(c.newerSeen, "2.3.0"), Page, today, message), c.status)
            << c.newerSeen;
        EXPECT_EQ(message, c.message);
    }
}

TEST(UpdateCheckTest, DeadlineOfAVersionAlreadyRunningIsForgotten) {
    const struct {
        const char* latestVersion;
        bool kept;
    } cases[] = {
        {"2.2.1", false}, {"2.2.0", false}, {"1.0.0", false}, {"02.2.01", false}, {"2.3.0", true},
        {"2.10.0", true}, {"", true},       {"2.2", true},    {"garbage", true},
    };
    for (const auto& c : cases) {
        UpdateState state = State("2026-01-01", c.latestVersion);
        ForgetMetDeadline(state);
        EXPECT_EQ(state.newerSeen, c.kept ? "2026-01-01" : "") << c.latestVersion;
        EXPECT_EQ(state.latestVersion, c.latestVersion);
    }
}

}  // namespace
}  // namespace holwerk
