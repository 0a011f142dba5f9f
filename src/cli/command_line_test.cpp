#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <tuple>

namespace holwerk {
namespace {

auto Fields(const DownloadOptions& o) {
    return std::tie(o.url, o.outputPath, o.method, o.timeoutSeconds, o.maxRedirects, o.force,
                    o.quiet);
}

// Options act wherever they stand and in any letter case, a later number
// replaces an earlier one, bounds are inclusive, and after "--" every
// argument is positional.
TEST(ParseCommandLineTest, AcceptedCommandLinesFillEveryField) {
    const struct {
        CommandArgs args;
        DownloadOptions expected;
    } cases[] = {
        {{"--FORCE", "http://h/x", "--quiet", "-HEAD", "--timeout", "0300", "out file.bin",
          "--Max-Redirects", "0"},
         {"http://h/x", "out file.bin", "HEAD", 300, 0, true, true}},
        {{"--timeout", "10", "h", "--timeout", "1", "--max-redirects", "20"},
         {"https://h", "holwerk.out", "GET", 1, 20, false, false}},
        {{"--", "--help", "-x"}, {"https://--help", "-x", "GET", 30, 5, false, false}},
    };
    for (const auto& c : cases) {
        DownloadOptions options;
        CommandAction action = CommandAction::Help;
        std::string message;
        ASSERT_TRUE(ParseCommandLine(c.args, options, action, message)) << message;
        EXPECT_EQ(action, CommandAction::Download);
        EXPECT_EQ(Fields(options), Fields(c.expected)) << ::testing::PrintToString(c.args);
    }
}

TEST(ParseCommandLineTest, RefusesWithTheMessageOfTheFirstFailingArgument) {
    const std::string timeoutNumber = "Nach --timeout wird eine ganze Zahl erwartet.";
    const std::string timeoutRange = "Der Timeout muss zwischen 1 und 300 Sekunden liegen.";
    const std::string redirectsRange =
        "Die Zahl der Weiterleitungen muss zwischen 0 und 20 liegen.";
    const struct {
        CommandArgs args;
        std::string message;
    } cases[] = {
        {{"", "--help"}, "Ein leeres Argument ist nicht zulässig."},
        {{"--quiet", "   "}, "Die URL fehlt."},
        {{"--timeout"}, timeoutNumber},
        {{"--timeout", "+5", "h"}, timeoutNumber},
        {{"--timeout", "0", "h"}, timeoutRange},
        {{"--timeout", "301", "h"}, timeoutRange},
        // 2^64 + 30: a wrapping reader would accept 30.
        {{"--timeout", "18446744073709551646", "h"}, timeoutRange},
        {{"--max-redirects", "-1", "h"}, "Nach --max-redirects wird eine ganze Zahl erwartet."},
        {{"--max-redirects", "21", "h"}, redirectsRange},
        {{"--timeout=30", "--help"}, "Unbekannter Parameter: --timeout=30"},
        {{"a", "--", "b", "-c"}, "Zu viele Positionsparameter."},
        {{"http://a b"}, "Die URL darf keine Leerzeichen enthalten."},
    };
    for (const auto& c : cases) {
        DownloadOptions options;
        CommandAction action = CommandAction::Download;
        std::string message;
        EXPECT_FALSE(ParseCommandLine(c.args, options, action, message));
        EXPECT_EQ(message, c.message) << ::testing::PrintToString(c.args);
    }
}

}  // namespace
}  // namespace holwerk
