// The command line. On Windows the command line is the
// test process's own; the POSIX layer is handed an argument vector here the
// way the program's entry point hands over argc/argv.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/command_line.h"
#include "platform/win32.h"
#include "storage/text_encoding.h"

#ifndef _WIN32
#include "platform/posix/process_arguments.h"
#endif

namespace holwerk {
namespace {

#ifdef _WIN32
TEST(ConsoleContract, CommandLineStartsWithTheProgram) {
    int count = 0;
    LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
    ASSERT_NE(list, nullptr);
    ASSERT_GE(count, 1);
    EXPECT_NE(Utf16ToUtf8(list[0]).find("holwerk_contract_tests"), std::string::npos);
    EXPECT_EQ(LocalFree(list), nullptr);
}
#else
void SetArguments(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    PosixSetProcessArguments(static_cast<int>(arguments.size()), argv.data());
}

TEST(ConsoleContract, ArgumentsComeBackAsHandedOverAndStrictlyConverted) {
    SetArguments({"/usr/bin/holwerk", "a b", "\xC3\xA4", "\xF0\x9F\x98\x80", "\xFF", "x\xC3",
                  "\xED\xA0\x80", ""});
    int count = 0;
    LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(count, 8);
    EXPECT_EQ(Utf16ToUtf8(list[0]), "/usr/bin/holwerk");
    EXPECT_EQ(Utf16ToUtf8(list[1]), "a b");
    EXPECT_EQ(list[2][0], 0xE4);
    EXPECT_EQ(list[3][0], 0xD83D);
    EXPECT_EQ(list[3][1], 0xDE00);
    // Not UTF-8: nothing of a name the user never typed reaches the program.
    for (int i = 4; i < 8; ++i) EXPECT_EQ(list[i][0], 0) << i;
    EXPECT_EQ(list[8], nullptr);
    EXPECT_EQ(LocalFree(list), nullptr);
}

TEST(ConsoleContract, ReadCommandLineDropsTheProgramName) {
    SetArguments({"holwerk", "--force",
                  "Gr\xC3\xB6\xC3\x9F"
                  "e.bin",
                  "\xFF"});
    CommandArgs args;
    std::string message = "old";
    ASSERT_TRUE(ReadCommandLine(args, message));
    EXPECT_EQ(message, "");
    EXPECT_EQ(args, (CommandArgs{"--force",
                                 "Gr\xC3\xB6\xC3\x9F"
                                 "e.bin",
                                 ""}));

    SetArguments({"holwerk"});
    ASSERT_TRUE(ReadCommandLine(args, message));
    EXPECT_TRUE(args.empty());
}

TEST(ConsoleContract, WithoutArgumentsTheCommandLineCannotBeRead) {
    SetArguments({});
    int count = -1;
    EXPECT_EQ(CommandLineToArgvW(GetCommandLineW(), &count), nullptr);
    EXPECT_EQ(count, 0);
    CommandArgs args{"stale"};
    std::string message;
    EXPECT_FALSE(ReadCommandLine(args, message));
    EXPECT_EQ(message, "Die Windows-Kommandozeile kann nicht gelesen werden.");
    EXPECT_TRUE(args.empty());
}
#endif

}  // namespace
}  // namespace holwerk
