#include "cli/command_line.h"

#include <gtest/gtest.h>

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

TEST(ParseCommandLineTest, NoArgumentsAsksForHelpWithoutCheckingTheUrl) {
    const Parsed parsed = Parse({});
    EXPECT_TRUE(parsed.ok);
    EXPECT_EQ(parsed.action, CommandAction::Help);
    EXPECT_EQ(parsed.errorMessage, "");
}

TEST(ParseCommandLineTest, UrlAloneGetsEveryDefault) {
    const Parsed parsed = Parse({"example.com/a"});
    ASSERT_TRUE(parsed.ok) << parsed.errorMessage;
    EXPECT_EQ(parsed.action, CommandAction::Download);
    EXPECT_EQ(parsed.options.url, "https://example.com/a");
    EXPECT_EQ(parsed.options.outputPath, "holwerk.out");
    EXPECT_EQ(parsed.options.method, "GET");
    EXPECT_EQ(parsed.options.timeoutSeconds, 30);
    EXPECT_EQ(parsed.options.maxRedirects, 5);
    EXPECT_FALSE(parsed.options.force);
    EXPECT_FALSE(parsed.options.quiet);
    EXPECT_EQ(parsed.errorMessage, "");
}

TEST(ParseCommandLineTest, EveryOptionSetsItsField) {
    const Parsed parsed = Parse({"--FORCE", "http://h/x", "--quiet", "-HEAD", "--timeout", "0300",
                                 "out file.bin", "--Max-Redirects", "0"});
    ASSERT_TRUE(parsed.ok) << parsed.errorMessage;
    EXPECT_EQ(parsed.options.url, "http://h/x");
    EXPECT_EQ(parsed.options.outputPath, "out file.bin");
    EXPECT_EQ(parsed.options.method, "HEAD");
    EXPECT_EQ(parsed.options.timeoutSeconds, 300);
    EXPECT_EQ(parsed.options.maxRedirects, 0);
    EXPECT_TRUE(parsed.options.force);
    EXPECT_TRUE(parsed.options.quiet);
}

TEST(ParseCommandLineTest, LaterNumberReplacesEarlierOne) {
    const Parsed parsed = Parse({"--timeout", "10", "h", "--timeout", "20", "--max-redirects", "3",
                                 "--max-redirects", "007"});
    ASSERT_TRUE(parsed.ok) << parsed.errorMessage;
    EXPECT_EQ(parsed.options.timeoutSeconds, 20);
    EXPECT_EQ(parsed.options.maxRedirects, 7);
}

// Help and version end the parse at once, in any letter case; what follows is
// not looked at, what comes before still counts.
TEST(ParseCommandLineTest, HelpAndVersionWordsInAnyLetterCase) {
    struct Case {
        CommandArgs args;
        CommandAction action;
    };
    const Case cases[] = {
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
        {{"file:///etc/passwd"}, OtherScheme},
        {{"abc://x"}, OtherScheme},
    };
    for (const Case& c : cases) {
        const Parsed parsed = Parse(c.args);
        EXPECT_FALSE(parsed.ok) << Describe(c.args);
        EXPECT_EQ(parsed.errorMessage, c.message) << Describe(c.args);
    }
}

// After "--" every argument is positional, even one that looks like an option.
TEST(ParseCommandLineTest, EndOfOptionsMakesEveryLaterArgumentPositional) {
    struct Case {
        CommandArgs args;
        const char* url;
        const char* outputPath;
    };
    const Case cases[] = {
        {{"--", "-file-"}, "https://-file-", "holwerk.out"},
        {{"--", "--help"}, "https://--help", "holwerk.out"},
        {{"--", "--version", "--force"}, "https://--version", "--force"},
        {{"h", "--", "--"}, "https://h", "--"},
        {{"--quiet", "--", "h", "-x"}, "https://h", "-x"},
    };
    for (const Case& c : cases) {
        const Parsed parsed = Parse(c.args);
        ASSERT_TRUE(parsed.ok) << Describe(c.args) << parsed.errorMessage;
        EXPECT_EQ(parsed.action, CommandAction::Download) << Describe(c.args);
        EXPECT_EQ(parsed.options.url, c.url) << Describe(c.args);
        EXPECT_EQ(parsed.options.outputPath, c.outputPath) << Describe(c.args);
        EXPECT_FALSE(parsed.options.force) << Describe(c.args);
    }
}

TEST(ParseCommandLineTest, PositionalArgumentsAreKeptAsTyped) {
    struct Case {
        CommandArgs args;
        const char* url;
        const char* outputPath;
    };
    const Case cases[] = {
        {{"h", "   "}, "https://h", "   "},
        {{"h", " out "}, "https://h", " out "},
        {{"h", "/tmp/x"}, "https://h", "/tmp/x"},
        {{"/x", "y"}, "https:///x", "y"},
        {{"h", "C:\\Daten\\Größe.bin"}, "https://h", "C:\\Daten\\Größe.bin"},
        {{"  HTTP://Host/P  "}, "HTTP://Host/P", "holwerk.out"},
    };
    for (const Case& c : cases) {
        const Parsed parsed = Parse(c.args);
        ASSERT_TRUE(parsed.ok) << Describe(c.args) << parsed.errorMessage;
        EXPECT_EQ(parsed.options.url, c.url) << Describe(c.args);
        EXPECT_EQ(parsed.options.outputPath, c.outputPath) << Describe(c.args);
    }
}

TEST(ParseCommandLineTest, OptionsAfterThePositionalArgumentsStillAct) {
    const Parsed parsed = Parse({"out", "http://h", "--force", "--timeout", "1"});
    ASSERT_TRUE(parsed.ok) << parsed.errorMessage;
    EXPECT_EQ(parsed.options.url, "https://out");
    EXPECT_EQ(parsed.options.outputPath, "http://h");
    EXPECT_EQ(parsed.options.timeoutSeconds, 1);
    EXPECT_TRUE(parsed.options.force);
}

TEST(ParseCommandLineTest, NumberBoundsAreInclusive) {
    struct Case {
        const char* option;
        const char* value;
        std::int64_t expected;
    };
    const Case cases[] = {
        {"--timeout", "1", 1},
        {"--timeout", "300", 300},
        {"--timeout", "0300", 300},
        {"--timeout", "007", 7},
        {"--max-redirects", "0", 0},
        {"--max-redirects", "20", 20},
        {"--max-redirects", "000000000000000000000000020", 20},
    };
    for (const Case& c : cases) {
        const Parsed parsed = Parse({c.option, c.value, "h"});
        ASSERT_TRUE(parsed.ok) << c.option << " " << c.value << ": " << parsed.errorMessage;
        const std::int64_t actual = std::string(c.option) == "--timeout"
                                        ? parsed.options.timeoutSeconds
                                        : parsed.options.maxRedirects;
        EXPECT_EQ(actual, c.expected) << c.option << " " << c.value;
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
