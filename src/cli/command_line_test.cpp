#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <tuple>

namespace holwerk {
namespace {

constexpr char MissingUrl[] = "Die URL fehlt.";
constexpr char EmptyArgument[] = "Ein leeres Argument ist nicht zulässig.";
constexpr char TimeoutNotNumber[] = "Nach --timeout wird eine ganze Zahl erwartet.";
constexpr char TimeoutRange[] = "Der Timeout muss zwischen 1 und 300 Sekunden liegen.";
constexpr char RedirectsNotNumber[] = "Nach --max-redirects wird eine ganze Zahl erwartet.";
constexpr char RedirectsRange[] = "Die Zahl der Weiterleitungen muss zwischen 0 und 20 liegen.";
constexpr char TooManyPositionals[] = "Zu viele Positionsparameter.";
constexpr char BlankInUrl[] = "Die URL darf keine Leerzeichen enthalten.";
constexpr char OtherScheme[] = "Unterstützt werden ausschließlich HTTP- und HTTPS-URLs.";

struct Parsed {
    bool ok = false;
    DownloadOptions options;
    CommandAction action = CommandAction::Download;
    std::string errorMessage;
};

Parsed Parse(const CommandArgs& args) {
    Parsed parsed;
    parsed.ok = ParseCommandLine(args, parsed.options, parsed.action, parsed.errorMessage);
    return parsed;
}

std::string Describe(const CommandArgs& args) {
    std::string text;
    for (const std::string& arg : args) text += "[" + arg + "] ";
    return text;
}

auto Fields(const DownloadOptions& o) {
    return std::tie(o.url, o.outputPath, o.method, o.timeoutSeconds, o.maxRedirects, o.force,
                    o.quiet);
}

// Options act wherever they stand, a later number replaces an earlier one,
// bounds are inclusive, and after "--" every argument is positional, even one
// that looks like an option. Positional arguments are kept as typed.
TEST(ParseCommandLineTest, AcceptedCommandLinesFillEveryField) {
    struct Case {
        CommandArgs args;
        DownloadOptions expected;
    };
    const Case cases[] = {
        {{"example.com/a"}, {"https://example.com/a", "holwerk.out", "GET", 30, 5, false, false}},
        {{"--FORCE", "http://h/x", "--quiet", "-HEAD", "--timeout", "0300", "out file.bin",
          "--Max-Redirects", "0"},
         {"http://h/x", "out file.bin", "HEAD", 300, 0, true, true}},
        {{"--timeout", "10", "h", "--timeout", "20", "--max-redirects", "3", "--max-redirects",
          "007"},
         {"https://h", "holwerk.out", "GET", 20, 7, false, false}},
        {{"out", "http://h", "--force", "--timeout", "1"},
         {"https://out", "http://h", "GET", 1, 5, true, false}},
        {{"--timeout", "300", "h"}, {"https://h", "holwerk.out", "GET", 300, 5, false, false}},
        {{"--timeout", "007", "h"}, {"https://h", "holwerk.out", "GET", 7, 5, false, false}},
        {{"--max-redirects", "20", "h"}, {"https://h", "holwerk.out", "GET", 30, 20, false, false}},
        {{"--max-redirects", "000000000000000000000000020", "h"},
         {"https://h", "holwerk.out", "GET", 30, 20, false, false}},
        {{"--", "-file-"}, {"https://-file-", "holwerk.out", "GET", 30, 5, false, false}},
        {{"--", "--help"}, {"https://--help", "holwerk.out", "GET", 30, 5, false, false}},
        {{"--", "--version", "--force"},
         {"https://--version", "--force", "GET", 30, 5, false, false}},
        {{"h", "--", "--"}, {"https://h", "--", "GET", 30, 5, false, false}},
        {{"--quiet", "--", "h", "-x"}, {"https://h", "-x", "GET", 30, 5, false, true}},
        {{"h", "   "}, {"https://h", "   ", "GET", 30, 5, false, false}},
        {{"h", " out "}, {"https://h", " out ", "GET", 30, 5, false, false}},
        {{"h", "/tmp/x"}, {"https://h", "/tmp/x", "GET", 30, 5, false, false}},
        {{"/x", "y"}, {"https:///x", "y", "GET", 30, 5, false, false}},
        {{"h", "C:\\Daten\\Größe.bin"},
         {"https://h", "C:\\Daten\\Größe.bin", "GET", 30, 5, false, false}},
        {{"  HTTP://Host/P  "}, {"HTTP://Host/P", "holwerk.out", "GET", 30, 5, false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Describe(c.args));
        const Parsed parsed = Parse(c.args);
        ASSERT_TRUE(parsed.ok) << parsed.errorMessage;
        EXPECT_EQ(parsed.action, CommandAction::Download);
        EXPECT_EQ(Fields(parsed.options), Fields(c.expected));
        EXPECT_EQ(parsed.errorMessage, "");
    }
}

// No arguments ask for help. Help and version end the parse at once, in any letter case; what
// follows is not looked at, what comes before still counts.
TEST(ParseCommandLineTest, HelpAndVersionWordsInAnyLetterCase) {
    struct Case {
        CommandArgs args;
        CommandAction action;
    };
    const Case cases[] = {
        {{}, CommandAction::Help},
        {{"-h"}, CommandAction::Help},
        {{"-H"}, CommandAction::Help},
        {{"--help"}, CommandAction::Help},
        {{"--HELP"}, CommandAction::Help},
        {{"/?"}, CommandAction::Help},
        {{"--version"}, CommandAction::Version},
        {{"--Version"}, CommandAction::Version},
        {{"--version", "--help"}, CommandAction::Version},
        {{"--help", "--version"}, CommandAction::Help},
        {{"--version", "-x", "a", "b", "c"}, CommandAction::Version},
        {{"http://h", "--help", ""}, CommandAction::Help},
        {{"--timeout", "5", "-h", "--timeout"}, CommandAction::Help},
        {{"a", "b", "--help", "c"}, CommandAction::Help},
    };
    for (const Case& c : cases) {
        const Parsed parsed = Parse(c.args);
        EXPECT_TRUE(parsed.ok) << Describe(c.args) << parsed.errorMessage;
        EXPECT_EQ(parsed.action, c.action) << Describe(c.args);
        EXPECT_EQ(parsed.errorMessage, "") << Describe(c.args);
    }
}

// Every refusal, with its exact sentence. The first failing argument decides.
TEST(ParseCommandLineTest, RefusesWithTheMessageOfTheFirstFailingArgument) {
    struct Case {
        CommandArgs args;
        const char* message;
    };
    const std::string twentyNines(20, '9');
    const Case cases[] = {
        {{""}, EmptyArgument},
        {{"http://h", ""}, EmptyArgument},
        {{"--", ""}, EmptyArgument},
        {{"", "--help"}, EmptyArgument},
        {{"--quiet"}, MissingUrl},
        {{"--force", "--head"}, MissingUrl},
        {{"--"}, MissingUrl},
        {{"   "}, MissingUrl},
        {{"   ", "out"}, MissingUrl},
        {{"--timeout"}, TimeoutNotNumber},
        {{"h", "--timeout"}, TimeoutNotNumber},
        {{"--timeout", "--force", "h"}, TimeoutNotNumber},
        {{"--timeout", "", "h"}, TimeoutNotNumber},
        {{"--timeout", "-5", "h"}, TimeoutNotNumber},
        {{"--timeout", "+5", "h"}, TimeoutNotNumber},
        {{"--timeout", "5s", "h"}, TimeoutNotNumber},
        {{"--timeout", " 5", "h"}, TimeoutNotNumber},
        {{"--timeout", "--help"}, TimeoutNotNumber},
        {{"--timeout", "0", "h"}, TimeoutRange},
        {{"--timeout", "301", "h"}, TimeoutRange},
        {{"--timeout", "000", "h"}, TimeoutRange},
        {{"--timeout", twentyNines, "h"}, TimeoutRange},
        // 2^64 + 30 and 2^64 + 5: a wrapping reader would accept 30 and 5.
        {{"--timeout", "18446744073709551646", "h"}, TimeoutRange},
        {{"--timeout", "100000000000000000000000000000000000005", "h"}, TimeoutRange},
        {{"--max-redirects"}, RedirectsNotNumber},
        {{"--max-redirects", "x", "h"}, RedirectsNotNumber},
        {{"--max-redirects", "-1", "h"}, RedirectsNotNumber},
        {{"--max-redirects", "21", "h"}, RedirectsRange},
        {{"--max-redirects", twentyNines, "h"}, RedirectsRange},
        {{"--max-redirects", "18446744073709551621", "h"}, RedirectsRange},
        {{"-x"}, "Unbekannter Parameter: -x"},
        {{"-X"}, "Unbekannter Parameter: -X"},
        {{"-"}, "Unbekannter Parameter: -"},
        {{"---"}, "Unbekannter Parameter: ---"},
        {{"--timeout=30", "h"}, "Unbekannter Parameter: --timeout=30"},
        {{"--Quiet=1"}, "Unbekannter Parameter: --Quiet=1"},
        {{"-help"}, "Unbekannter Parameter: -help"},
        {{"--h"}, "Unbekannter Parameter: --h"},
        {{"h", "--VERSIONS"}, "Unbekannter Parameter: --VERSIONS"},
        {{"-x", "--help"}, "Unbekannter Parameter: -x"},
        {{"--timeout", "0", "--help"}, TimeoutRange},
        {{"a", "b", "c"}, TooManyPositionals},
        {{"a", "b", "valid.txt"}, TooManyPositionals},
        {{"a", "b", "c", "--help"}, TooManyPositionals},
        {{"a", "--", "b", "-c"}, TooManyPositionals},
        {{"http://a b"}, BlankInUrl},
        {{"ftp://h/x"}, OtherScheme},
    };
    for (const Case& c : cases) {
        const Parsed parsed = Parse(c.args);
        EXPECT_FALSE(parsed.ok) << Describe(c.args);
        EXPECT_EQ(parsed.errorMessage, c.message) << Describe(c.args);
    }
}

TEST(IsAllDigitsTest, AcceptsOnlyNonEmptyAsciiDigits) {
    struct Case {
        std::string text;
        bool expected;
    };
    const Case cases[] = {
        {"0", true},   {"0123456789", true}, {std::string(40, '9'), true},
        {"", false},   {" 1", false},        {"1 ", false},
        {"+1", false}, {"-1", false},        {"1a", false},
        {"/", false},  {":", false},         {std::string("1\0", 2), false},
        {"١", false},  {"1.0", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsAllDigits(c.text), c.expected) << "[" << c.text << "]";
}

}  // namespace
}  // namespace holwerk
