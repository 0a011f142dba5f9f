#include "platform/posix/wininet_transfer.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/posix/error_map.h"
#include "platform/posix/wininet_tls.h"

namespace holwerk::posix {

namespace {

// libcurl's receive buffer. With libcurl's default 16 KiB and a pause per
// piece a local 1 GiB transfer took almost twice curl's own time.
constexpr long ReceiveBufferBytes = 512 * 1024;
// What is left of one receive once the caller's buffer is full waits here.
constexpr std::size_t StagingBytes = ReceiveBufferBytes;

// The response heads of one exchange, interim responses included, and the
// trailers after the last chunk may each take this much; past it the server's
// response is invalid. libcurl keeps every header line it hands over until the
// transfer ends, trailers too, and its own limit of all heads together (300
// KiB) would report the same fault as a connection reset.
constexpr std::size_t MaxHeadBytes = 64 * 1024;

// How long one wait for socket activity may last when no idle limit applies.
constexpr int PollSliceMs = 1000;

// Results of OpenSSL's certificate verification (X509_V_ERR_*), as libcurl
// reports them through CURLINFO_SSL_VERIFYRESULT.
constexpr long CertificateOk = 0;
constexpr long CertificateNameRefused = 1;

std::string_view WithoutLineEnd(const char* data, std::size_t size) {
    std::string_view line(data, size);
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

const char* NonEmptyEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

// OpenSSL reads a CA file with a blocking open and read: a FIFO there would
// hold every HTTPS request for ever. A missing file is left to libcurl.
bool NamesNoRegularFile(const char* path) {
    struct stat status;
    return stat(path, &status) == 0 && !S_ISREG(status.st_mode);
}

}  // namespace

// The multi handle exists from the start, so that Cancel() can wake it from
// another thread without racing its creation.
HttpTransfer::HttpTransfer() : multi_(curl_multi_init()), staging_(StagingBytes) {}

HttpTransfer::~HttpTransfer() {
    // Removing an unfinished transfer closes its connection at once; nothing
    // is drained, however long the body would have been.
    if (attached_) curl_multi_remove_handle(multi_, easy_);
    if (easy_ != nullptr) curl_easy_cleanup(easy_);
    if (multi_ != nullptr) curl_multi_cleanup(multi_);
    curl_slist_free_all(headerList_);
}

bool HttpTransfer::Configure(const TransferRequest& request) {
    for (const std::string& header : request.headers) {
        curl_slist* extended = curl_slist_append(headerList_, header.c_str());
        if (extended == nullptr) return false;
        headerList_ = extended;
    }

    bool ok = true;
    auto set = [&](CURLoption option, auto value) {
        ok = ok && curl_easy_setopt(easy_, option, value) == CURLE_OK;
    };
    set(CURLOPT_URL, request.url.c_str());
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    set(CURLOPT_PATH_AS_IS, 1L);
    set(CURLOPT_NOSIGNAL, 1L);
    // A name server that never answers would otherwise hold the close of the
    // request until the resolver gives up, long after the connect time-out.
    set(CURLOPT_QUICK_EXIT, 1L);
    set(CURLOPT_ERRORBUFFER, errorText_);
    set(CURLOPT_FOLLOWLOCATION, 0L);
    set(CURLOPT_HTTP_CONTENT_DECODING, 0L);
    set(CURLOPT_HTTP_TRANSFER_DECODING, 1L);
    // A proxy's answer to CONNECT is not the server's response head.
    set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    // libcurl itself does not read these (its built-in bundle wins); OpenSSL
    // programs and the curl tool do, and so does this layer.
    if (const char* file = NonEmptyEnvironment("SSL_CERT_FILE")) {
        set(CURLOPT_CAINFO, file);
        caFileNotRegular_ = NamesNoRegularFile(file);
    }
    if (const char* folder = NonEmptyEnvironment("SSL_CERT_DIR")) set(CURLOPT_CAPATH, folder);
    if (request.connectTimeoutMs > 0) {
        set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connectTimeoutMs));
    }
    set(CURLOPT_BUFFERSIZE, ReceiveBufferBytes);
    set(CURLOPT_HEADERFUNCTION, &HttpTransfer::OnHeader);
    set(CURLOPT_HEADERDATA, this);
    set(CURLOPT_WRITEFUNCTION, &HttpTransfer::OnBody);
    set(CURLOPT_WRITEDATA, this);
    set(CURLOPT_DEBUGFUNCTION, &HttpTransfer::OnDebug);
    set(CURLOPT_DEBUGDATA, this);
    set(CURLOPT_VERBOSE, 1L);
    set(CURLOPT_PREREQFUNCTION, &HttpTransfer::OnConnected);
    set(CURLOPT_PREREQDATA, this);
    if (secure_) {
        set(CURLOPT_NOPROGRESS, 0L);
        set(CURLOPT_XFERINFOFUNCTION, &HttpTransfer::OnProgress);
        set(CURLOPT_XFERINFODATA, this);
    }
    bodyless_ = request.head;
    // Without NOBODY libcurl would wait for the body a Content-Length
    // announces, which a HEAD response never carries.
    set(request.head ? CURLOPT_NOBODY : CURLOPT_HTTPGET, 1L);
    if (!request.userAgent.empty()) set(CURLOPT_USERAGENT, request.userAgent.c_str());
    set(CURLOPT_HTTPHEADER, headerList_);
    return ok;
}

// A transfer runs only inside its caller's calls, in these states:
//   head:     Start() drives libcurl until the final response head is
//             complete (-> body), or the transfer ends or fails (-> failed).
//   body:     Read() hands out staged bytes first and, while its caller's
//             buffer has room, lets OnBody copy received pieces straight
//             into it: it resumes a paused libcurl and drives it until the
//             buffer is full (body), the body is complete (-> finished) or
//             the transfer fails (-> failed). Once the buffer is full,
//             libcurl is paused (paused_) and OnBody stages the rest of the
//             current receive; a piece that does not fit behind staged bytes
//             is refused, and libcurl holds it. Pieces that arrive outside a
//             Read() (with the head) are staged the same way.
//   finished: Read() hands out what is staged, then zero bytes.
//   failed:   error_ is set for good; Read() hands out what is staged, then
//             fails with it.
// Cancel() from another thread sets cancelled_ and wakes the wait; Drive()
// then fails the transfer with 12017.
bool HttpTransfer::Start(const TransferRequest& request, DWORD& error) {
    sendTimeoutMs_ = request.sendTimeoutMs;
    receiveTimeoutMs_ = request.receiveTimeoutMs;
    secure_ = request.url.compare(0, 8, "https://") == 0;
    easy_ = curl_easy_init();
    // Sticky like any other failure, so that a later read fails too.
    const auto fail = [&](DWORD code) {
        error = error_ = code;
        return false;
    };
    if (multi_ == nullptr || easy_ == nullptr || !Configure(request)) {
        return fail(ERROR_INTERNET_INTERNAL_ERROR);
    }
    if (secure_ && caFileNotRegular_) return fail(ERROR_INTERNET_DECODING_FAILED);
    if (curl_multi_add_handle(multi_, easy_) != CURLM_OK)
        return fail(ERROR_INTERNET_INTERNAL_ERROR);
    attached_ = true;

    Drive(Until::HeadComplete);
    if (headComplete_) return true;
    // The transfer ended without a final response head and without an error
    // of its own: nothing usable came back.
    return fail(error_ != ERROR_SUCCESS ? error_ : ERROR_HTTP_INVALID_SERVER_RESPONSE);
}

bool HttpTransfer::Read(char* buffer, std::size_t capacity, std::size_t& count, DWORD& error) {
    // Staged bytes first; then received pieces go straight into the rest of
    // the caller's buffer.
    reader_ = Reader{buffer, capacity, staging_.Take(buffer, capacity)};
    if (!ReaderFull() && error_ == ERROR_SUCCESS && !finished_) {
        if (paused_) {
            // Resuming hands libcurl's held-back data to OnBody at once,
            // often enough to serve this call without polling.
            paused_ = false;
            const CURLcode result = curl_easy_pause(easy_, CURLPAUSE_CONT);
            if (result != CURLE_OK) error_ = ErrorFromResult(result);
        }
        if (error_ == ERROR_SUCCESS && !ReaderFull()) Drive(Until::ReaderFull);
    }
    count = reader_.filled;
    reader_ = Reader{};
    // What arrived before a failure is handed out first.
    if (count == 0 && error_ != ERROR_SUCCESS) {
        error = error_;
        return false;
    }
    return true;
}

void HttpTransfer::Cancel() {
    cancelled_ = true;
    curl_multi_wakeup(multi_);
}

bool HttpTransfer::Drive(Until until) {
    Clock::time_point idleSince = Clock::now();
    std::uint64_t seen = progress_;
    for (;;) {
        if (cancelled_) {
            error_ = ERROR_INTERNET_OPERATION_CANCELLED;
            return false;
        }
        int running = 0;
        if (curl_multi_perform(multi_, &running) != CURLM_OK) {
            error_ = ERROR_INTERNET_INTERNAL_ERROR;
            return false;
        }
        CollectResult();
        if (until == Until::HeadComplete ? headComplete_ : ReaderFull()) return true;
        if (finished_ || error_ != ERROR_SUCCESS) return false;

        const Clock::time_point now = Clock::now();
        if (progress_ != seen) {
            seen = progress_;
            idleSince = now;
        }
        int waitMs = PollSliceMs;
        const DWORD limitMs = IdleLimitMs();
        if (limitMs > 0) {
            const auto idleMs =
                std::chrono::duration_cast<std::chrono::milliseconds>(now - idleSince).count();
            if (idleMs >= limitMs) {
                error_ = ERROR_INTERNET_TIMEOUT;
                return false;
            }
            waitMs = static_cast<int>(std::min<long long>(limitMs - idleMs, PollSliceMs));
        }
        int ready = 0;
        if (curl_multi_poll(multi_, nullptr, 0, waitMs, &ready) != CURLM_OK) {
            error_ = ERROR_INTERNET_INTERNAL_ERROR;
            return false;
        }
        // A socket that became ready has bytes for libcurl (or took some), so
        // every receive counts, also a part of a header line that libcurl
        // hands over only once it is complete. The wake-up of Cancel() is not
        // counted.
        if (ready > 0) ++progress_;
    }
}

void HttpTransfer::CollectResult() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        finished_ = true;
        if (message->data.result != CURLE_OK && error_ == ERROR_SUCCESS) {
            error_ = ErrorFromResult(message->data.result);
        }
        if (error_ == ERROR_SUCCESS && bodyOverrun_) error_ = ERROR_HTTP_INVALID_SERVER_RESPONSE;
        if (error_ == ERROR_SUCCESS && EndedByUnconfirmedClose()) {
            error_ = ERROR_INTERNET_CONNECTION_ABORTED;
        }
    }
}

DWORD HttpTransfer::IdleLimitMs() {
    // Until the connection stands, libcurl's connect time-out applies.
    if (!connected_) return 0;
    if (!requestSent_) {
        long sent = 0;
        if (curl_easy_getinfo(easy_, CURLINFO_REQUEST_SIZE, &sent) == CURLE_OK && sent > 0) {
            requestSent_ = true;
        } else {
            return sendTimeoutMs_;
        }
    }
    return receiveTimeoutMs_;
}

// A body that only the end of the connection delimits is complete over TLS
// only when the server said so with close_notify first: a bare TCP close can
// come from anyone on the path. libcurl (7.88 with OpenSSL 3) takes either
// for a clean end.
bool HttpTransfer::EndedByUnconfirmedClose() const {
    if (!secure_ || bodyless_ || !headComplete_ || closeNotifyReceived_) return false;
    if (head_.statusCode == 204 || head_.statusCode == 304) return false;
    curl_off_t length = -1;
    if (curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK) {
        return true;
    }
    return length < 0 && !IsChunked(head_);
}

DWORD HttpTransfer::ErrorFromResult(CURLcode result) const {
    if (ownError_ != ERROR_SUCCESS) return ownError_;
    if (result == CURLE_PEER_FAILED_VERIFICATION) {
        long verifyResult = CertificateOk;
        curl_easy_getinfo(easy_, CURLINFO_SSL_VERIFYRESULT, &verifyResult);
        // libcurl checks the name itself, after OpenSSL accepted the chain,
        // and then reports 0 or (7.88) X509_V_ERR_UNSPECIFIED; OpenSSL's own
        // chain check never yields either.
        if (verifyResult == CertificateOk || verifyResult == CertificateNameRefused) {
            return ERROR_INTERNET_SEC_CERT_CN_INVALID;
        }
        return WinInetErrorFromCertificate(verifyResult);
    }
    // The URL is always http or https; after connecting, this result means
    // a reply without a status line (HTTP/0.9), which is refused.
    if (result == CURLE_UNSUPPORTED_PROTOCOL && connected_) {
        return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    }
    // libcurl refuses a single header line beyond its own limit as "out of
    // memory", before OnHeader could count it against MaxHeadBytes.
    if (result == CURLE_OUT_OF_MEMORY && connected_ && !headComplete_) {
        return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    }
    return WinInetErrorFromCurl(result);
}

std::size_t HttpTransfer::OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
    auto* transfer = static_cast<HttpTransfer*>(self);
    const std::size_t bytes = size * count;
    transfer->progress_ += bytes;
    transfer->headerBytes_ += bytes;
    if (transfer->headerBytes_ > MaxHeadBytes) {
        transfer->ownError_ = ERROR_HTTP_INVALID_SERVER_RESPONSE;
        return 0;
    }
    // Trailers of a chunked body come this way too; the head is complete.
    if (transfer->headComplete_) return bytes;

    const std::string_view line = WithoutLineEnd(data, bytes);
    ResponseHead& pending = transfer->pending_;
    if (line.empty()) {
        if (pending.lines.empty()) return bytes;
        if (pending.statusCode >= 100 && pending.statusCode <= 199) {
            // An interim response; the final one follows, within the same
            // bound.
            pending = ResponseHead{};
            return bytes;
        }
        transfer->head_ = std::move(pending);
        transfer->headComplete_ = true;
        transfer->overTls_ = ReadTlsState(transfer->easy_).session;
        transfer->headerBytes_ = 0;
        return bytes;
    }
    if (!AddResponseLine(pending, line)) {
        transfer->ownError_ = ERROR_HTTP_INVALID_SERVER_RESPONSE;
        return 0;
    }
    return bytes;
}

std::size_t HttpTransfer::OnBody(char* data, std::size_t size, std::size_t count, void* self) {
    auto* transfer = static_cast<HttpTransfer*>(self);
    const std::size_t bytes = size * count;
    Reader& reader = transfer->reader_;
    const std::size_t direct = std::min(bytes, reader.capacity - reader.filled);
    // Bytes wait only once the caller's buffer is full, so a piece that does
    // not fit behind them was not touched: libcurl keeps all of it and stops
    // reading until the caller has drained the staging buffer.
    if (direct < bytes && !transfer->staging_.Append(data + direct, bytes - direct)) {
        transfer->paused_ = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (direct > 0) {
        std::memcpy(reader.buffer + reader.filled, data, direct);
        reader.filled += direct;
    }
    transfer->progress_ += bytes;
    if (!transfer->paused_ && transfer->ReaderFull()) {
        // The caller's buffer is full: stop libcurl before it receives
        // again. The rest of the current receive still arrives here and is
        // staged; refusing a piece instead would make libcurl copy the whole
        // remainder aside.
        transfer->paused_ = true;
        curl_easy_pause(transfer->easy_, CURLPAUSE_RECV);
    }
    return bytes;
}

// libcurl reports progress after each round of receiving, also right after it
// has read the end of the connection and before it closes the TLS session;
// that is the last moment to learn whether close_notify came.
int HttpTransfer::OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<HttpTransfer*>(self);
    if (!transfer->headComplete_) return 0;
    const TlsState tls = ReadTlsState(transfer->easy_);
    if (tls.session) transfer->closeNotifyReceived_ = tls.closeNotify;
    return 0;
}

// libcurl ends a body at its Content-Length and drops what came with it
// beyond, saying so only in its verbose text ("Excess found ..."). WinINet
// (measured under Wine) hands such bytes on and the program refuses the
// body; here the read fails instead, with the same code.
int HttpTransfer::OnDebug(CURL*, curl_infotype type, char* data, std::size_t size, void* self) {
    constexpr std::string_view Excess = "Excess found";
    if (type == CURLINFO_TEXT && std::string_view(data, size).starts_with(Excess)) {
        static_cast<HttpTransfer*>(self)->bodyOverrun_ = true;
    }
    return 0;
}

int HttpTransfer::OnConnected(void* self, char*, char*, int, int) {
    auto* transfer = static_cast<HttpTransfer*>(self);
    transfer->connected_ = true;
    transfer->progress_ += 1;
    return CURL_PREREQFUNC_OK;
}

}  // namespace holwerk::posix
