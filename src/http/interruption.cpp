#include "http/interruption.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "storage/temporary_output.h"

namespace holwerk {

namespace {

// How long the handler waits for the download's clean-up. Closing the
// request ends a blocked read at once; the rest is one file removal.
constexpr auto CleanUpWaitLimit = std::chrono::seconds(5);

struct DownloadWatch {
    std::mutex mutex;
    std::condition_variable cleanedUp;
    HINTERNET request = nullptr;  // the open request, once handed over
    bool requestClosed = false;   // the handler has closed it
    std::string tempPath;         // the download's temporary file, once created
    bool running = false;
    bool interrupted = false;
};

// Never destroyed: an interruption may come while the process runs its exit
// handlers, after the download has ended, and the handler still locks it.
DownloadWatch& Watch() {
    static DownloadWatch& watch = *new DownloadWatch;
    return watch;
}

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    DownloadWatch& watch = Watch();
    std::unique_lock<std::mutex> lock(watch.mutex);
    watch.interrupted = true;
    if (watch.request != nullptr && !watch.requestClosed) {
        // Makes a send or read that is waiting for the server fail at once.
        InternetCloseHandle(watch.request);
        watch.requestClosed = true;
    }
    if (!watch.cleanedUp.wait_for(lock, CleanUpWaitLimit, [&watch] { return !watch.running; }) &&
        !watch.tempPath.empty()) {
        std::string ignored;
        DiscardTemporaryOutputFile(watch.tempPath, ignored);
    }
    // Not handled: the process ends as this interruption ends it by default.
    return FALSE;
}

}  // namespace

void BeginInterruptibleDownload() {
    static const bool installed = SetConsoleCtrlHandler(OnConsoleControl, TRUE) != FALSE;
    (void)installed;
    DownloadWatch& watch = Watch();
    std::lock_guard<std::mutex> lock(watch.mutex);
    watch.running = true;
    watch.tempPath.clear();
}

bool WatchRequest(HINTERNET request) {
    DownloadWatch& watch = Watch();
    std::lock_guard<std::mutex> lock(watch.mutex);
    if (watch.interrupted) return false;
    watch.request = request;
    watch.requestClosed = false;
    return true;
}

void WatchTemporaryFile(const std::string& path) {
    DownloadWatch& watch = Watch();
    std::lock_guard<std::mutex> lock(watch.mutex);
    watch.tempPath = path;
}

void CloseWatchedRequest(HINTERNET request) {
    DownloadWatch& watch = Watch();
    std::lock_guard<std::mutex> lock(watch.mutex);
    const bool closed = watch.request == request && watch.requestClosed;
    if (watch.request == request) {
        watch.request = nullptr;
        watch.requestClosed = false;
    }
    if (!closed) InternetCloseHandle(request);
}

bool DownloadInterrupted() {
    DownloadWatch& watch = Watch();
    std::lock_guard<std::mutex> lock(watch.mutex);
    return watch.interrupted;
}

void EndInterruptibleDownload() {
    DownloadWatch& watch = Watch();
    std::unique_lock<std::mutex> lock(watch.mutex);
    watch.running = false;
    watch.cleanedUp.notify_all();
    while (watch.interrupted) watch.cleanedUp.wait(lock);
}

}  // namespace holwerk
