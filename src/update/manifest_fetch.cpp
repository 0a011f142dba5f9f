#include "update/manifest_fetch.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "http/client_session.h"
#include "http/response.h"
#include "http/response_header.h"
#include "platform/win32.h"
#include "update/manifest.h"

namespace holwerk {
namespace {

constexpr DWORD ManifestTimeoutMilliseconds = 5000;
constexpr DWORD ReadPieceBytes = 4096;
// The idle limits alone let a server that drips its answer hold up the
// download for hours; the whole fetch gets this long.
constexpr auto ManifestDeadline = std::chrono::seconds(15);
constexpr DWORD ManifestRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                       INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_UI;
static_assert(ManifestRequestFlags == 0x84200200);

// A client reports a connection closed early as a clean end of data: a
// manifest cut short just after a whole object would pass for the real one.
bool CameWhole(HINTERNET request, std::size_t received) {
    std::vector<std::string> lengths, encodings;
    if (!QueryHeaderLines(request, HTTP_QUERY_CONTENT_LENGTH, lengths) ||
        !QueryHeaderLines(request, HTTP_QUERY_TRANSFER_ENCODING, encodings)) {
        return false;
    }
    std::uint64_t announced = 0;
    const BodyFraming framing = ReadBodyFraming(lengths, encodings, announced);
    return framing != BodyFraming::Invalid &&
           (framing != BodyFraming::Length || announced == received);
}

// Closes the fetch's handles once it has run out of time: a send or read
// waiting in the client then fails at once, however the server drips.
class FetchDeadline {
  public:
    explicit FetchDeadline(HINTERNET root) : root_(root) {}
    FetchDeadline(const FetchDeadline&) = delete;
    FetchDeadline& operator=(const FetchDeadline&) = delete;

    bool Start() {
        try {
            watcher_ = std::thread([this] { WaitForTheEnd(); });
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }

    /// Hands the open request over; false when the time has run out already.
    bool Watch(HINTERNET request) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!expired_) request_ = request;
        return !expired_;
    }

    /// Ends the watch; true when the time ran out, and the handles it was
    /// given are then closed already.
    bool Finish() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
        }
        changed_.notify_all();
        watcher_.join();
        return expired_;
    }

  private:
    void WaitForTheEnd() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (changed_.wait_for(lock, ManifestDeadline, [this] { return finished_; })) return;
        expired_ = true;
        // The request first: a read waiting in it ends only with its own handle.
        if (request_ != nullptr) InternetCloseHandle(request_);
        InternetCloseHandle(root_);
    }

    HINTERNET root_;
    HINTERNET request_ = nullptr;
    std::thread watcher_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool finished_ = false;
    bool expired_ = false;
};

}  // namespace

bool FetchManifest(const std::string& address, std::string& body) {
    body.clear();
    HINTERNET root = nullptr;
    SessionStep failedStep = SessionStep::Open;
    DWORD error = ERROR_SUCCESS;
    if (!OpenClientSession(ManifestTimeoutMilliseconds, root, failedStep, error)) return false;
    FetchDeadline deadline(root);
    if (!deadline.Start()) {
        InternetCloseHandle(root);
        return false;
    }
    HINTERNET request =
        InternetOpenUrlA(root, address.c_str(), nullptr, 0, ManifestRequestFlags, 0);
    if (request != nullptr && !deadline.Watch(request)) {
        InternetCloseHandle(request);
        request = nullptr;
    }

    DWORD status = 0;
    bool endSeen = false;
    bool readError = false;
    // The manifest address is always https: an answer that did not come
    // over TLS is a proxy's, not the update server's, and leaves status 0.
    if (request != nullptr && CameOverTls(request)) {
        DWORD size = sizeof status;
        if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                            &size, nullptr)) {
            status = 0;
        }
        if (IsSuccessStatus(status)) {
            char piece[ReadPieceBytes];
            for (;;) {
                DWORD got = 0;
                if (!InternetReadFile(request, piece, ReadPieceBytes, &got)) {
                    readError = true;
                    break;
                }
                if (got == 0) {
                    endSeen = CameWhole(request, body.size());
                    break;
                }
                body.append(piece, got);
                if (static_cast<std::int64_t>(body.size()) > MaxManifestBytes) {
                    body.clear();
                    readError = true;
                    break;
                }
            }
        }
    }

    // One clean-up, in reverse order of opening; a deadline that ran out
    // has closed the root handle already.
    if (deadline.Finish()) return false;
    if (request != nullptr) InternetCloseHandle(request);
    InternetCloseHandle(root);

    if (request == nullptr || !IsSuccessStatus(status)) return false;
    if (!endSeen || readError || body.empty()) return false;
    return LooksLikeManifest(body);
}

}  // namespace holwerk
