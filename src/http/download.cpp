#include "http/download.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/exit_codes.h"
#include "common/windows_error.h"
#include "http/client_session.h"
#include "http/interruption.h"
#include "http/response.h"
#include "http/response_header.h"
#include "http/url.h"
#include "platform/win32.h"
#include "storage/temporary_output.h"
#include "storage/text_encoding.h"

namespace holwerk {

namespace {

constexpr DWORD ReadBufferBytes = 65536;
constexpr std::int64_t MillisecondsPerSecond = 1000;
constexpr char RequestHeaders[] = "Accept: */*\r\nAccept-Encoding: identity\r\n";
constexpr DWORD RequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                               INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_UI |
                               INTERNET_FLAG_TRANSFER_BINARY;

// Everything one call holds that the clean-up must release.
struct TransferResources {
    HINTERNET root = nullptr;
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;
    HANDLE file = INVALID_HANDLE_VALUE;
    std::string tempPath;
    bool tempCreated = false;
};

bool Stop(DownloadResult& result, std::int64_t exitCode, std::string message) {
    result.exitCode = exitCode;
    result.errorMessage = std::move(message);
    return false;
}

// Called directly after the failed call, so the last error is still its own.
std::string WithLastError(const char* message) {
    return message + WindowsErrorText(GetLastError());
}

std::string InvalidResponse(const char* message) {
    return message + WindowsErrorText(ERROR_HTTP_INVALID_SERVER_RESPONSE);
}

void CloseRequestAndConnection(TransferResources& resources) {
    if (resources.request != nullptr) CloseWatchedRequest(resources.request);
    resources.request = nullptr;
    if (resources.connection != nullptr) InternetCloseHandle(resources.connection);
    resources.connection = nullptr;
}

// How a GET response's body ends. The client's own reading of a malformed
// length ("2 0" as 2, "0x14" as 0) or of an unknown coding (read to the
// close) would commit a short body as complete, so the program judges every
// framing line itself before anything is stored.
bool ReadFraming(HINTERNET request, DownloadResult& result, bool& lengthKnown,
                 std::uint64_t& length) {
    lengthKnown = false;
    std::vector<std::string> lengths, encodings;
    if (!QueryHeaderLines(request, HTTP_QUERY_CONTENT_LENGTH, lengths) ||
        !QueryHeaderLines(request, HTTP_QUERY_TRANSFER_ENCODING, encodings)) {
        return Stop(result, ExitNetworkFailure,
                    WithLastError("Fehler beim Lesen der HTTP-Antwort: "));
    }
    const BodyFraming framing = ReadBodyFraming(lengths, encodings, length);
    if (framing == BodyFraming::Invalid) {
        return Stop(result, ExitNetworkFailure,
                    InvalidResponse("Fehler beim Lesen der HTTP-Antwort: "));
    }
    lengthKnown = framing == BodyFraming::Length;
    return true;
}

// Opens the client session with the command line's time-out.
bool OpenRoot(const DownloadOptions& options, DownloadResult& result,
              TransferResources& resources) {
    // By SessionStep: what failed.
    static constexpr const char* Failures[] = {
        "WinINet kann nicht initialisiert werden: ",
        "Verbindungs-Timeout kann nicht gesetzt werden: ",
        "Sende-Timeout kann nicht gesetzt werden: ",
        "Empfangs-Timeout kann nicht gesetzt werden: ",
    };
    SessionStep failedStep = SessionStep::Open;
    DWORD error = ERROR_SUCCESS;
    const auto timeout = static_cast<std::uint32_t>(options.timeoutSeconds * MillisecondsPerSecond);
    if (OpenClientSession(timeout, resources.root, failedStep, error)) return true;
    return Stop(result, ExitNetworkFailure,
                Failures[static_cast<int>(failedStep)] + WindowsErrorText(error));
}

// One request pass: connect, open, add headers, send, read the status.
bool SendRequest(const DownloadOptions& options, const std::string& url, DownloadResult& result,
                 TransferResources& resources, std::uint32_t& status) {
    std::string host, requestTarget, message;
    std::uint16_t port = 0;
    bool isHttps = false;
    if (!SplitHttpUrl(url, host, requestTarget, port, isHttps, message)) {
        return Stop(result, ExitUnusableUrl, message);
    }
    resources.connection = InternetConnectA(resources.root, host.c_str(), port, nullptr, nullptr,
                                            INTERNET_SERVICE_HTTP, 0, 0);
    if (resources.connection == nullptr) {
        return Stop(result, ExitNetworkFailure,
                    WithLastError("Verbindung zum Host kann nicht geöffnet werden: "));
    }
    const DWORD flags = RequestFlags | (isHttps ? INTERNET_FLAG_SECURE : 0);
    resources.request =
        HttpOpenRequestA(resources.connection, options.method.c_str(), requestTarget.c_str(),
                         "HTTP/1.1", nullptr, nullptr, flags, 0);
    if (resources.request == nullptr) {
        return Stop(result, ExitNetworkFailure,
                    WithLastError("HTTP-Anfrage kann nicht angelegt werden: "));
    }
    if (!WatchRequest(resources.request)) {
        return Stop(result, ExitNetworkFailure,
                    "HTTP-Anfrage ist fehlgeschlagen: " +
                        WindowsErrorText(ERROR_INTERNET_OPERATION_CANCELLED));
    }
    if (!HttpAddRequestHeadersA(resources.request, RequestHeaders, static_cast<DWORD>(-1),
                                HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE)) {
        return Stop(result, ExitNetworkFailure,
                    WithLastError("HTTP-Header können nicht gesetzt werden: "));
    }
    if (!HttpSendRequestA(resources.request, nullptr, 0, nullptr, 0)) {
        return Stop(result, ExitNetworkFailure, WithLastError("HTTP-Anfrage ist fehlgeschlagen: "));
    }
    if (isHttps && !CameOverTls(resources.request)) {
        return Stop(
            result, ExitNetworkFailure,
            "HTTP-Anfrage ist fehlgeschlagen: " + WindowsErrorText(ERROR_INTERNET_DECODING_FAILED));
    }
    DWORD value = 0;
    DWORD size = sizeof(value);
    DWORD index = 0;
    if (!HttpQueryInfoA(resources.request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value,
                        &size, &index)) {
        return Stop(result, ExitNetworkFailure,
                    WithLastError("HTTP-Status kann nicht gelesen werden: "));
    }
    // A client may report success with a status of 0 for a server that
    // closed without answering; only a three-digit code was read.
    if (value < 100 || value > 599) {
        return Stop(result, ExitNetworkFailure,
                    InvalidResponse("HTTP-Status kann nicht gelesen werden: "));
    }
    status = value;
    result.httpStatus = value;
    return true;
}

// Streams the body into the file. Where the response announced its length,
// a body that ends short or runs long is a failed read: clients report a
// connection closed early as a clean end of data.
bool StoreBody(HINTERNET request, bool lengthKnown, std::uint64_t announced, HANDLE file,
               DownloadResult& result) {
    // Not zero-filled: every byte written comes from a read first.
    const auto buffer = std::make_unique_for_overwrite<char[]>(ReadBufferBytes);
    std::string message;
    for (;;) {
        DWORD read = 0;
        if (!InternetReadFile(request, buffer.get(), ReadBufferBytes, &read)) {
            return Stop(result, ExitNetworkFailure,
                        WithLastError("Fehler beim Lesen der HTTP-Antwort: "));
        }
        if (lengthKnown) {
            const DWORD error = BodyLengthError(announced, result.byteCount + read, read == 0);
            if (error != ERROR_SUCCESS) {
                return Stop(result, ExitNetworkFailure,
                            "Fehler beim Lesen der HTTP-Antwort: " + WindowsErrorText(error));
            }
        }
        if (read == 0) return true;
        if (!WriteAllBytes(file, buffer.get(), read, message))
            return Stop(result, ExitFileFailure, message);
        result.byteCount += read;
    }
}

// Every step up to the commit; returns false after setting the result's
// code and message. The caller releases what `resources` holds.
bool Transfer(const DownloadOptions& options, DownloadResult& result,
              TransferResources& resources) {
    if (!options.force && FileExists(options.outputPath)) {
        return Stop(result, ExitFileFailure,
                    "Die Zieldatei existiert bereits. Verwenden Sie --force zum Ersetzen.");
    }
    if (!OpenRoot(options, result, resources)) return false;

    std::string currentUrl = options.url;
    std::uint32_t status = 0;
    for (;;) {
        if (result.redirectCount > options.maxRedirects) {
            return Stop(result, ExitRedirectFailure, "Zu viele Weiterleitungen.");
        }
        if (!SendRequest(options, currentUrl, result, resources, status)) return false;
        if (!IsRedirectStatus(status)) break;

        // The redirect's body is never read: closing the request drops it.
        std::string location, nextUrl, message;
        if (!QueryResponseHeader(resources.request, HTTP_QUERY_LOCATION, location)) {
            return Stop(result, ExitRedirectFailure,
                        "Weiterleitung ohne gültigen Location-Header.");
        }
        if (!ResolveRedirectTarget(currentUrl, location, nextUrl, message)) {
            return Stop(result, ExitRedirectFailure, message);
        }
        if (IsHttpsToHttpRedirect(currentUrl, nextUrl)) {
            return Stop(result, ExitRedirectFailure,
                        "Eine Weiterleitung von HTTPS auf unverschlüsseltes HTTP wurde blockiert.");
        }
        ++result.redirectCount;
        currentUrl = nextUrl;
        result.finalUrl = nextUrl;
        CloseRequestAndConnection(resources);
    }
    if (!IsSuccessStatus(status)) {
        return Stop(result, ExitHttpError, "HTTP-Fehler " + std::to_string(status) + ".");
    }

    const bool isHead = options.method == "HEAD";
    // A 204 has no body whatever its headers say, and some clients hand out
    // whatever follows it: nothing after it is read.
    const bool hasBody = !isHead && status != 204;
    bool lengthKnown = false;
    std::uint64_t announced = 0;
    if (hasBody && !ReadFraming(resources.request, result, lengthKnown, announced)) return false;

    std::string message;
    if (!CreateTemporaryOutputFile(options.outputPath, resources.tempPath, resources.file,
                                   message)) {
        return Stop(result, ExitFileFailure, message);
    }
    resources.tempCreated = true;
    WatchTemporaryFile(resources.tempPath);
    if (isHead) {
        std::string headers;
        if (!QueryResponseHeader(resources.request, HTTP_QUERY_RAW_HEADERS_CRLF, headers)) {
            return Stop(result, ExitNetworkFailure,
                        WithLastError("Antwort-Header können nicht gelesen werden: "));
        }
        if (!WriteAllBytes(resources.file, headers.data(),
                           static_cast<std::uint32_t>(headers.size()), message)) {
            return Stop(result, ExitFileFailure, message);
        }
        result.byteCount = headers.size();
    } else if (hasBody &&
               !StoreBody(resources.request, lengthKnown, announced, resources.file, result)) {
        return false;
    }
    if (!FlushFileBuffers(resources.file)) {
        return Stop(result, ExitFileFailure,
                    WithLastError("Ausgabedatei kann nicht vollständig gespeichert werden: "));
    }
    CloseHandle(resources.file);
    resources.file = INVALID_HANDLE_VALUE;
    if (DownloadInterrupted()) return Stop(result, ExitNetworkFailure, "");
    if (!CommitOutputFile(resources.tempPath, options.outputPath, options.force, message)) {
        return Stop(result, ExitFileFailure, message);
    }
    result.finalUrl = currentUrl;
    result.exitCode = ExitSuccess;
    return true;
}

}  // namespace

bool DownloadToFile(const DownloadOptions& options, DownloadResult& result) {
    result = DownloadResult{};
    result.finalUrl = options.url;
    result.exitCode = ExitNetworkFailure;

    BeginInterruptibleDownload();
    TransferResources resources;
    const bool committed = Transfer(options, result, resources);

    // One clean-up for every outcome, in reverse order of acquisition.
    if (resources.file != INVALID_HANDLE_VALUE) CloseHandle(resources.file);
    CloseRequestAndConnection(resources);
    if (resources.root != nullptr) InternetCloseHandle(resources.root);
    std::string message;
    if (resources.tempCreated && !resources.tempPath.empty() &&
        !DiscardTemporaryOutputFile(resources.tempPath, message)) {
        result.errorMessage += " " + message;
    }
    EndInterruptibleDownload();
    return committed;
}

}  // namespace holwerk
