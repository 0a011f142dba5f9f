#pragma once

// One HTTP exchange over libcurl's multi interface, driven by the caller's
// own calls instead of a callback loop: Start() returns once the final
// response head has arrived, Read() hands the body out in the caller's
// pieces, received straight into the caller's buffer where they fit and
// through a bounded staging buffer where they do not. Used by the WinINet
// functions of this folder only.

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/posix/win32_api.h"
#include "platform/posix/wininet_headers.h"
#include "platform/posix/wininet_staging.h"

namespace holwerk::posix {

/// What one request sends and how long it may wait.
struct TransferRequest {
    std::string url;                   // scheme, host, port and escaped target
    bool head = false;                 // HEAD instead of GET
    std::vector<std::string> headers;  // "Name: value" lines, caller's first
    std::string userAgent;             // empty: no User-Agent header
    DWORD connectTimeoutMs = 0;        // 0: libcurl's default
    DWORD sendTimeoutMs = 0;           // idle limit while the request goes out; 0: none
    DWORD receiveTimeoutMs = 0;        // idle limit while waiting for data; 0: none
};

/// One request and its response. Cancel() may be called from any thread;
/// everything else belongs to the thread that runs the transfer.
class HttpTransfer {
  public:
    HttpTransfer();
    ~HttpTransfer();
    HttpTransfer(const HttpTransfer&) = delete;
    HttpTransfer& operator=(const HttpTransfer&) = delete;

    /// Sends the request and waits for the final (not 1xx) response head.
    /// False with a WinINet error code when that fails.
    bool Start(const TransferRequest& request, DWORD& error);

    /// Copies up to `capacity` body bytes into `buffer`, fewer only where the
    /// body ends or fails first. Zero bytes with true means the body is
    /// complete; a body cut short fails instead.
    bool Read(char* buffer, std::size_t capacity, std::size_t& count, DWORD& error);

    /// Makes a running or later Start() or Read() fail with 12017 promptly.
    /// Safe from any thread while the transfer object lives.
    void Cancel();

    /// Whether the final response head has arrived.
    bool HeadReceived() const { return headComplete_; }

    /// The final response head; valid once HeadReceived().
    const ResponseHead& Head() const { return head_; }

    /// Whether the final response head came over TLS from the server.
    bool HeadOverTls() const { return overTls_; }

  private:
    using Clock = std::chrono::steady_clock;

    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);
    static int OnConnected(void* self, char*, char*, int, int);
    static int OnDebug(CURL*, curl_infotype type, char* data, std::size_t size, void* self);
    static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

    // What Drive() waits for.
    enum class Until { HeadComplete, ReaderFull };

    // The caller's buffer during a Read(); none outside one.
    struct Reader {
        char* buffer = nullptr;
        std::size_t capacity = 0;
        std::size_t filled = 0;
    };

    bool Configure(const TransferRequest& request);
    bool ReaderFull() const { return reader_.filled == reader_.capacity; }
    // Runs libcurl until `until` holds or the transfer ends; false when it
    // failed (error_ set) or stayed idle past its limit.
    bool Drive(Until until);
    void CollectResult();
    DWORD IdleLimitMs();
    DWORD ErrorFromResult(CURLcode result) const;
    bool EndedByUnconfirmedClose() const;

    CURLM* multi_ = nullptr;
    CURL* easy_ = nullptr;
    curl_slist* headerList_ = nullptr;
    bool attached_ = false;
    char errorText_[CURL_ERROR_SIZE] = {};

    bool secure_ = false;
    bool caFileNotRegular_ = false;  // SSL_CERT_FILE names no regular file
    bool bodyless_ = false;          // HEAD: no body whatever the head says
    DWORD sendTimeoutMs_ = 0;
    DWORD receiveTimeoutMs_ = 0;
    bool connected_ = false;
    bool requestSent_ = false;
    std::uint64_t progress_ = 0;  // grows with every byte libcurl hands over

    ResponseHead pending_;  // the response head being received
    // Bytes of the response heads so far, interim ones included; once the
    // final head is complete, bytes of the trailers after the last chunk.
    std::size_t headerBytes_ = 0;
    ResponseHead head_;  // the final response head
    bool headComplete_ = false;
    bool closeNotifyReceived_ = false;  // the server ended TLS with close_notify
    bool overTls_ = false;              // the final head came over TLS

    Reader reader_;          // where received pieces go first
    StagingBuffer staging_;  // the rest of a receive that filled the reader
    bool paused_ = false;    // libcurl holds back what it receives

    bool bodyOverrun_ = false;  // more came than the Content-Length announced
    bool finished_ = false;
    DWORD error_ = ERROR_SUCCESS;     // sticky once the transfer failed
    DWORD ownError_ = ERROR_SUCCESS;  // a failure a callback detected itself
    std::atomic<bool> cancelled_{false};
};

}  // namespace holwerk::posix
