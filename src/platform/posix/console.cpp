// Console and command-line functions over the process's arguments and its
// standard descriptors. Where they differ from Windows:
// - The command line is the argument vector the entry point handed over with
//   PosixSetProcessArguments; there is no single text to split. GetCommandLineW
//   gives the arguments joined by blanks (for display only), and
//   CommandLineToArgvW ignores the text it is given and returns those arguments,
//   split by the shell that started the process. Each one is converted
//   strictly: an argument that is not valid UTF-8 comes back empty, so the
//   program refuses it instead of acting on a name the user never typed.
//   Without PosixSetProcessArguments the command line cannot be read (null,
//   count 0).
// - SetConsoleOutputCP succeeds and does nothing: the terminal takes the
//   program's UTF-8 bytes as they are.
// - GetStdHandle knows only STD_OUTPUT_HANDLE and STD_ERROR_HANDLE. A
//   descriptor that was closed when the process started gives null, as Windows
//   does for a process without that standard handle.
// - SIGPIPE is ignored, so a write to a closed pipe fails with ERROR_NO_DATA
//   like WriteFile on Windows instead of ending the process.

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/handles.h"
#include "platform/posix/process_arguments.h"
#include "platform/posix/win32_api.h"

namespace {

std::vector<std::string> processArguments;
std::u16string joinedCommandLine;
bool standardOutputClosed = false;
bool standardErrorClosed = false;

// Strict UTF-8 to UTF-16; an argument that does not convert comes back empty.
std::u16string ConvertArgument(const std::string& argument) {
    if (argument.empty()) return {};
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, argument.data(),
                                          static_cast<int>(argument.size()), nullptr, 0);
    if (units <= 0) return {};
    std::u16string converted(static_cast<std::size_t>(units), u'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, argument.data(),
                            static_cast<int>(argument.size()), converted.data(), units) != units) {
        return {};
    }
    return converted;
}

// A descriptor that is closed at start would be handed to the next file the
// program opens, and a standard output line would then land in that file.
// /dev/null holds the place; GetStdHandle still reports it as missing.
bool ParkIfClosed(int descriptor) {
    if (fcntl(descriptor, F_GETFD) != -1) return false;
    const int placeholder = open("/dev/null", O_RDWR);
    if (placeholder >= 0 && placeholder != descriptor) {
        dup2(placeholder, descriptor);
        close(placeholder);
    }
    return true;
}

}  // namespace

void PosixSetProcessArguments(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    ParkIfClosed(0);
    standardOutputClosed = ParkIfClosed(1);
    standardErrorClosed = ParkIfClosed(2);
    processArguments.clear();
    joinedCommandLine.clear();
    for (int i = 0; i < argc && argv != nullptr && argv[i] != nullptr; ++i) {
        processArguments.emplace_back(argv[i]);
        if (i > 0) joinedCommandLine.push_back(u' ');
        joinedCommandLine += ConvertArgument(argv[i]);
    }
}

BOOL SetConsoleOutputCP(UINT) { return TRUE; }

HANDLE GetStdHandle(DWORD which) {
    if (which == STD_OUTPUT_HANDLE) return standardOutputClosed ? nullptr : HandleFromDescriptor(1);
    if (which == STD_ERROR_HANDLE) return standardErrorClosed ? nullptr : HandleFromDescriptor(2);
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
}

LPWSTR GetCommandLineW() { return joinedCommandLine.data(); }

LPWSTR* CommandLineToArgvW(LPCWSTR, int* count) {
    if (count == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    *count = 0;
    if (processArguments.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // One block, as on Windows, so that one LocalFree releases the pointer
    // list (ended by a null entry) and every text behind it.
    std::vector<std::u16string> converted;
    std::size_t units = 0;
    for (const std::string& argument : processArguments) {
        converted.push_back(ConvertArgument(argument));
        units += converted.back().size() + 1;
    }
    const std::size_t pointerBytes = (converted.size() + 1) * sizeof(LPWSTR);
    void* block = std::malloc(pointerBytes + units * sizeof(WCHAR));
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto* list = static_cast<LPWSTR*>(block);
    auto* text = reinterpret_cast<WCHAR*>(static_cast<char*>(block) + pointerBytes);
    for (std::size_t i = 0; i < converted.size(); ++i) {
        list[i] = text;
        std::memcpy(text, converted[i].data(), converted[i].size() * sizeof(WCHAR));
        text += converted[i].size();
        *text++ = 0;
    }
    list[converted.size()] = nullptr;
    *count = static_cast<int>(converted.size());
    return list;
}

HLOCAL LocalFree(HLOCAL memory) {
    std::free(memory);
    return nullptr;
}
