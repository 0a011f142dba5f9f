// Console and command-line functions over the process's arguments and its
// standard descriptors. Where they differ from Windows:
// - The command line is the argument vector the entry point handed over with
//   SetProcessArguments; there is no single text to split. GetCommandLineW
//   gives an empty text, and CommandLineToArgvW ignores the text it is given
//   and returns those arguments, split by the shell that started the process.
//   Each one is converted strictly: an argument that is not valid UTF-8 comes
//   back empty, so the program refuses it instead of acting on a name the
//   user never typed.
//   Without SetProcessArguments the command line cannot be read (null,
//   count 0).
// - SetConsoleOutputCP succeeds and does nothing: the terminal takes the
//   program's UTF-8 bytes as they are.
// - GetStdHandle knows only STD_OUTPUT_HANDLE and STD_ERROR_HANDLE. A
//   descriptor that was closed when the process started gives null, as Windows
//   does for a process without that standard handle.
// - SIGPIPE is ignored, so a write to a closed pipe fails with ERROR_NO_DATA
//   like WriteFile on Windows instead of ending the process.
// - SetConsoleCtrlHandler only adds a handler. SIGINT stands for Ctrl+C,
//   SIGQUIT for Ctrl+Break, and every other signal that ends a process by
//   default and can be caught (SIGTERM, SIGHUP, SIGXCPU, SIGALRM, SIGUSR1,
//   SIGUSR2, SIGVTALRM, SIGPROF) for the console's close. Once a handler is
//   added, those signals are taken by a thread of their own that calls the
//   handlers, the latest first, as Windows does; when none of them handles
//   the event, the process ends by the signal itself.

#include <fcntl.h>
#include <unistd.h>

#include <pthread.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/posix/handles.h"
#include "platform/posix/process_arguments.h"
#include "platform/posix/win32_api.h"

namespace holwerk::posix {
namespace {

std::vector<std::string> processArguments;
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

struct ControlHandlers {
    std::mutex mutex;
    std::vector<PHANDLER_ROUTINE> routines;
    bool listening = false;
};

// Never destroyed: a signal may come while the process runs its exit
// handlers, and the listening thread must still find the list.
ControlHandlers& Handlers() {
    static ControlHandlers& handlers = *new ControlHandlers;
    return handlers;
}

// Every signal that ends the process by default and can be caught; SIGPIPE
// and SIGXFSZ are ignored instead, so that the failing call reports them.
constexpr int EndingSignals[] = {SIGINT,  SIGQUIT, SIGTERM, SIGHUP,    SIGXCPU,
                                 SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF};

sigset_t ControlSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : EndingSignals) sigaddset(&signals, signal);
    return signals;
}

DWORD EventOfSignal(int signal) {
    if (signal == SIGINT) return CTRL_C_EVENT;
    return signal == SIGQUIT ? CTRL_BREAK_EVENT : CTRL_CLOSE_EVENT;
}

[[noreturn]] void ListenForControlSignals() {
    const sigset_t signals = ControlSignals();
    for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0) continue;
        const DWORD event = EventOfSignal(signal);
        std::vector<PHANDLER_ROUTINE> routines;
        {
            std::lock_guard<std::mutex> lock(Handlers().mutex);
            routines = Handlers().routines;
        }
        bool handled = false;
        for (auto routine = routines.rbegin(); routine != routines.rend() && !handled; ++routine) {
            handled = (*routine)(event) != FALSE;
        }
        if (handled) continue;
        // The default: end as the signal ends a process.
        std::signal(signal, SIG_DFL);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, signal);
        pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
        raise(signal);
    }
}

}  // namespace

void SetProcessArguments(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    ParkIfClosed(0);
    standardOutputClosed = ParkIfClosed(1);
    standardErrorClosed = ParkIfClosed(2);
    processArguments.clear();
    for (int i = 0; i < argc && argv != nullptr && argv[i] != nullptr; ++i) {
        processArguments.emplace_back(argv[i]);
    }
}

}  // namespace holwerk::posix

using namespace holwerk::posix;

BOOL SetConsoleOutputCP(UINT) { return TRUE; }

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add) {
    if (routine == nullptr || add == FALSE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ControlHandlers& handlers = Handlers();
    std::lock_guard<std::mutex> lock(handlers.mutex);
    handlers.routines.push_back(routine);
    if (!handlers.listening) {
        // Blocked here, the signals stay blocked in every thread started
        // later, so that only the listening thread takes them.
        const sigset_t signals = ControlSignals();
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);
        try {
            std::thread(ListenForControlSignals).detach();
        } catch (const std::system_error&) {
            pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
            handlers.routines.pop_back();
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return FALSE;
        }
        handlers.listening = true;
    }
    return TRUE;
}

HANDLE GetStdHandle(DWORD which) {
    if (which == STD_OUTPUT_HANDLE) return standardOutputClosed ? nullptr : HandleFromDescriptor(1);
    if (which == STD_ERROR_HANDLE) return standardErrorClosed ? nullptr : HandleFromDescriptor(2);
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
}

LPWSTR GetCommandLineW() {
    static WCHAR empty[1] = {0};
    return empty;
}

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
