#include "cli/help_text.h"

#include <gtest/gtest.h>

#include "common/build_config.h"

namespace holwerk {
namespace {

TEST(HelpTextTest, VersionLineNamesTheRunningVersion) {
    EXPECT_EQ(VersionLine(), std::string("Holwerk ") + CurrentVersion);
}

TEST(HelpTextTest, HasThirtyTwoLinesStartingWithTheVersionLine) {
    const std::vector<std::string> lines = HelpLines();
    ASSERT_EQ(lines.size(), 32u);
    EXPECT_EQ(lines[0], VersionLine());
    for (const std::size_t empty : {3u, 6u, 16u, 24u, 29u}) {
        EXPECT_EQ(lines[empty - 1], "") << "line " << empty;
    }
}

TEST(HelpTextTest, NoLineEndsWithBlankOrCarriesALineBreak) {
    for (const std::string& line : HelpLines()) {
        EXPECT_TRUE(line.empty() || line.back() != ' ') << "[" << line << "]";
        EXPECT_EQ(line.find_first_of("\r\n\t"), std::string::npos) << "[" << line << "]";
    }
}

TEST(HelpTextTest, OptionDescriptionsStartInColumn26) {
    const std::vector<std::string> lines = HelpLines();
    const char* labels[] = {"-h, --help", "--version",          "-head, --head",          "--force",
                            "--quiet",    "--timeout SEKUNDEN", "--max-redirects ANZAHL", "--"};
    for (std::size_t i = 0; i < 8; ++i) {
        const std::string& line = lines[7 + i];
        const std::string prefix = std::string("  ") + labels[i];
        ASSERT_EQ(line.compare(0, prefix.size(), prefix), 0) << line;
        ASSERT_GT(line.size(), 25u) << line;
        // Column 26 counted from 1 is index 25: blanks before it, text from it.
        EXPECT_EQ(line.find_first_not_of(' ', prefix.size()), 25u) << line;
        EXPECT_NE(line[25], ' ') << line;
    }
}

}  // namespace
}  // namespace holwerk
