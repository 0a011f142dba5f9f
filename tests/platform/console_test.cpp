// The command line as the POSIX layer hands it over: the argument vector the
// entry point passed, converted strictly.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/command_line.h"
#include "platform/win32.h"
#include "storage/text_encoding.h"

#ifndef _WIN32
#include "platform/posix/process_arguments.h"

namespace holwerk {
namespace {

void SetArguments(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    PosixSetProcessArguments(static_cast<int>(arguments.size()), argv.data());
}

// An argument that is not UTF-8 comes back empty: nothing of a name the user
// never typed reaches the program.
TEST(ConsoleContract, ArgumentsComeBackAsHandedOverAndStrictlyConverted) {
    const std::vector<std::string> given = {
        "/usr/bin/holwerk", "a b", "Gr\xC3\xB6\xC3\x9F\xF0\x9F\x98\x80", "\xFF", "x\xC3",
        "\xED\xA0\x80",     ""};
    SetArguments(given);
    int count = 0;
    LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(count, 7);
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(Utf16ToUtf8(list[i]), i < 3 ? given[static_cast<std::size_t>(i)] : "") << i;
    EXPECT_EQ(list[count], nullptr);
    EXPECT_EQ(LocalFree(list), nullptr);
}

// A process can be started with no arguments at all, not even its name.
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

}  // namespace
}  // namespace holwerk
#endif
