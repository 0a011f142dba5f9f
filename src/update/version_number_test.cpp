#include "update/version_number.h"

#include <gtest/gtest.h>

namespace holwerk {
namespace {

TEST(VersionNumberTest, AcceptsThreeGroupsOfOneToNineDigits) {
    const struct {
        const char* version;
        bool valid;
    } cases[] = {
        {"2.2.1", true},           {"02.2.1", true},          {"123456789.0.0", true},
        {"0.0.0", true},           {"2.10.0", true},          {"2.2", false},
        {"2.2.1.0", false},        {"2..1", false},           {".2.1", false},
        {"2.2.", false},           {"v2.2.1", false},         {"2.2.1 ", false},
        {" 2.2.1", false},         {"2.2.1-beta", false},     {"1234567890.0.0", false},
        {"0.1234567890.0", false}, {"0.0.1234567890", false}, {"", false},
        {"2.+2.1", false},         {"2.2.1\n", false},        {"...", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsValidVersion(c.version), c.valid) << c.version;
}

TEST(VersionNumberTest, ComparesGroupsAsNumbers) {
    const struct {
        const char* a;
        const char* b;
        int result;
    } cases[] = {
        {"2.2.1", "2.2.1", 0},  {"2.2.1", "2.3.0", -1},
        {"2.3.0", "2.2.1", 1},  {"2.10.0", "2.2.1", 1},
        {"2.10.0", "2.9.0", 1}, {"2.2.01", "2.2.1", 0},
        {"02.2.1", "2.2.1", 0}, {"2.2.1", "10.0.0", -1},
        {"2.2", "2.2.0", 0},    {"2.2.1", "2.2.1.9", 0},
        {"", "0.0.0", 0},       {"2.2.1", "2.2.2", -1},
        {"3", "2.9.9", 1},      {"999999999.0.0", "2.2.1", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CompareVersions(c.a, c.b), c.result) << c.a << " vs " << c.b;
    }
}

}  // namespace
}  // namespace holwerk
