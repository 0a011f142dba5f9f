// WinINet's HTTP client functions over libcurl, as far as the program uses
// them.
//
// Where this differs from Windows:
// - HTTP/1.1 only; no cache, no cookies, no automatic redirects, no content
//   decoding, no authentication and no dialogs, whatever the flags say. The
//   version given to HttpOpenRequestA is not used.
// - Only INTERNET_OPEN_TYPE_PRECONFIG: the proxy comes from http_proxy,
//   https_proxy and no_proxy, read by libcurl. Certificates come from the
//   system store, or from SSL_CERT_FILE / SSL_CERT_DIR where set; nothing
//   relaxes their check.
// - The verbs are GET and HEAD. Requests carry no body, no referrer, no
//   accept types and no headers given to HttpSendRequestA or
//   InternetOpenUrlA; InternetConnectA takes no user name or password, and a
//   URL for InternetOpenUrlA none either. HttpAddRequestHeadersA knows only
//   HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE and takes no line with
//   an empty value (which would delete the header). Each of these fails
//   with ERROR_INVALID_PARAMETER.
// - A host stands as it would in a URL: an IPv6 literal only in brackets,
//   and no blank, control byte or delimiter (ERROR_INVALID_PARAMETER when
//   connecting).
// - Time-outs are set on the handle of InternetOpenA, for every request
//   below it; another handle fails with ERROR_INTERNET_INCORRECT_HANDLE_TYPE.
// - InternetQueryOptionA knows INTERNET_OPTION_SECURITY_FLAGS of a request
//   only: SECURITY_FLAG_SECURE when its response head came over TLS, no
//   other flag. A proxy's answer to CONNECT is never taken for a response.
// - A CA file named by SSL_CERT_FILE that is not a regular file (a FIFO,
//   say) fails every HTTPS send at once with 12175 instead of blocking.
// - A header line without a colon or with a blank or tab before its colon,
//   and a folded line that continues no field or continues Content-Length
//   or Transfer-Encoding, fail the send with 12152; other folded lines are
//   part of the field before them. The raw header block keeps every line.
// - Name resolution counts against the connect time-out, and closing a
//   request never waits for a resolver that has not answered.
// - Send and receive time-outs are idle limits: a wait fails with 12002 when
//   nothing arrives for that long, however long the whole transfer takes.
// - The request target goes out as given, with bytes up to 0x20, 0x7F, from
//   0x80 and "#" percent-escaped, so that no blank or control byte ever
//   reaches the request line.
// - A body that ends before its Content-Length or its last chunk fails the
//   read with 12030 instead of ending cleanly; so does an HTTPS body that
//   only the end of the connection delimits when the server did not end TLS
//   with close_notify first. That is asked of OpenSSL's session, which
//   libcurl hands out, so libcurl must do its TLS with OpenSSL 3: configuring
//   the native build fails with another TLS library. A body that runs past
//   its Content-Length fails the read with 12152 once the announced bytes
//   are handed out (Windows hands on the rest, and the program refuses the
//   body itself); libcurl says so only in its verbose text.
// - The response head, interim responses included, and the trailers after
//   the last chunk may each be 64 KiB; past that the send or the read fails
//   with 12152.
// - Handles are numbers, not pointers. A handle is used by one thread at a
//   time, except that InternetCloseHandle may come from any thread at any
//   moment: closing a request (or a handle it came from) while another
//   thread waits inside HttpSendRequestA, InternetOpenUrlA or
//   InternetReadFile on it makes that call fail promptly with 12017, and
//   every later call on the closed handle fails with ERROR_INVALID_HANDLE.
//   Closing a handle closes its children, as on Windows.

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/posix/error_map.h"
#include "platform/posix/support.h"
#include "platform/posix/url_parts.h"
#include "platform/posix/wininet_handles.h"

namespace holwerk::posix {
namespace {

template <typename T>
T Fail(DWORD error, T result) {
    SetLastError(error);
    return result;
}

bool IsControlOrBlank(unsigned char byte) { return byte <= 0x20 || byte == 0x7F; }

bool IsUsableHost(std::string_view host) {
    const bool bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
    if (bracketed) host = host.substr(1, host.size() - 2);
    return !host.empty() && std::none_of(host.begin(), host.end(), [&](char c) {
        return IsControlOrBlank(static_cast<unsigned char>(c)) ||
               std::strchr("/\\?#@[]", c) != nullptr || (c == ':' && !bracketed);
    });
}

std::string EscapeTarget(std::string_view target) {
    // "#" too: libcurl would take it for the start of a fragment.
    const std::string escaped = PercentEscape(target, [](unsigned char byte) {
        return IsControlOrBlank(byte) || byte >= 0x80 || byte == '#';
    });
    return target.empty() || target.front() != '/' ? "/" + escaped : escaped;
}

// The handle's object, when it is one of `kind`; null with the error to fail
// with otherwise.
ObjectRef FindObject(HINTERNET handle, HandleKind kind, DWORD& error) {
    ObjectRef object = FindHandle(handle);
    if (object == nullptr) {
        error = ERROR_INVALID_HANDLE;
    } else if (object->kind != kind) {
        error = ERROR_INTERNET_INCORRECT_HANDLE_TYPE;
        object = nullptr;
    }
    return object;
}

// A handle below `parent`; fails with ERROR_INVALID_HANDLE when another
// thread closed the parent since it was looked up.
HINTERNET RegisterChild(const ObjectRef& child, const ObjectRef& parent) {
    HINTERNET handle = RegisterHandle(child, parent);
    if (handle == nullptr) SetLastError(ERROR_INVALID_HANDLE);
    return handle;
}

bool SendRequest(InternetObject& request, DWORD& error) {
    const InternetObject* root = &request;
    while (root->parent != nullptr) root = root->parent.get();

    TransferRequest transfer;
    transfer.url = (request.secure ? "https://" : "http://") + request.host;
    if (request.port != 0) transfer.url += ':' + std::to_string(request.port);
    transfer.url += request.target;
    transfer.head = request.head;
    transfer.userAgent = root->agent;
    for (const auto& [name, value] : request.headers)
        transfer.headers.push_back(name + ": " + value);
    // libcurl's own default; WinINet sends none unless asked to.
    if (!HasRequestHeader(request.headers, "Accept")) {
        transfer.headers.emplace_back("Accept:");
    }
    transfer.connectTimeoutMs = root->connectTimeoutMs;
    transfer.sendTimeoutMs = root->sendTimeoutMs;
    transfer.receiveTimeoutMs = root->receiveTimeoutMs;

    const auto started = std::make_shared<HttpTransfer>();
    if (!AttachTransfer(request, started)) {
        error = ERROR_INTERNET_OPERATION_CANCELLED;
        return false;
    }
    return started->Start(transfer, error);
}

// Copies a query's answer into the caller's buffer, as a DWORD or as text.
bool CopyQueryResult(const std::string& text, bool number, LPVOID buffer, LPDWORD bufferBytes,
                     DWORD& error) {
    const std::size_t needed = number ? sizeof(DWORD) : text.size() + 1;
    if (buffer == nullptr || *bufferBytes < needed) {
        *bufferBytes = static_cast<DWORD>(needed);
        error = ERROR_INSUFFICIENT_BUFFER;
        return false;
    }
    if (number) {
        DWORD value = 0;
        for (const char c : text) {
            if (c < '0' || c > '9') break;
            value = value * 10 + static_cast<DWORD>(c - '0');
        }
        std::memcpy(buffer, &value, sizeof value);
        *bufferBytes = sizeof(DWORD);
    } else {
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        *bufferBytes = static_cast<DWORD>(text.size());
    }
    return true;
}

}  // namespace
}  // namespace holwerk::posix

using namespace holwerk::posix;

HINTERNET InternetOpenA(LPCSTR agent, DWORD accessType, LPCSTR proxy, LPCSTR, DWORD) {
    if (accessType != INTERNET_OPEN_TYPE_PRECONFIG || proxy != nullptr) {
        return Fail<HINTERNET>(ERROR_INVALID_PARAMETER, nullptr);
    }
    static const bool curlReady = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    if (!curlReady) return Fail<HINTERNET>(ERROR_INTERNET_INTERNAL_ERROR, nullptr);
    const auto root = std::make_shared<InternetObject>();
    root->kind = HandleKind::Root;
    root->agent = agent != nullptr ? agent : "";
    return RegisterHandle(root, nullptr);
}

BOOL InternetSetOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD bufferBytes) {
    DWORD error = ERROR_SUCCESS;
    const ObjectRef object = FindObject(handle, HandleKind::Root, error);
    if (object == nullptr) return Fail(error, FALSE);
    DWORD InternetObject::*limit = nullptr;
    switch (option) {
        case INTERNET_OPTION_CONNECT_TIMEOUT:
            limit = &InternetObject::connectTimeoutMs;
            break;
        case INTERNET_OPTION_SEND_TIMEOUT:
            limit = &InternetObject::sendTimeoutMs;
            break;
        case INTERNET_OPTION_RECEIVE_TIMEOUT:
            limit = &InternetObject::receiveTimeoutMs;
            break;
        default:
            return Fail(ERROR_INTERNET_INVALID_OPTION, FALSE);
    }
    if (buffer == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (bufferBytes < sizeof(DWORD)) return Fail(ERROR_INTERNET_BAD_OPTION_LENGTH, FALSE);
    DWORD value = 0;
    std::memcpy(&value, buffer, sizeof value);
    (*object).*limit = value;
    return TRUE;
}

BOOL InternetQueryOptionA(HINTERNET handle, DWORD option, LPVOID buffer, LPDWORD bufferBytes) {
    DWORD error = ERROR_SUCCESS;
    const ObjectRef object = FindObject(handle, HandleKind::Request, error);
    if (object == nullptr) return Fail(error, FALSE);
    if (option != INTERNET_OPTION_SECURITY_FLAGS) return Fail(ERROR_INTERNET_INVALID_OPTION, FALSE);
    if (bufferBytes == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (buffer == nullptr || *bufferBytes < sizeof(DWORD)) {
        *bufferBytes = sizeof(DWORD);
        return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    const DWORD flags =
        object->transfer && object->transfer->HeadOverTls() ? SECURITY_FLAG_SECURE : 0;
    std::memcpy(buffer, &flags, sizeof flags);
    *bufferBytes = sizeof(DWORD);
    return TRUE;
}

HINTERNET InternetConnectA(HINTERNET root, LPCSTR host, INTERNET_PORT port, LPCSTR userName,
                           LPCSTR password, DWORD service, DWORD, DWORD_PTR) {
    DWORD error = ERROR_SUCCESS;
    const ObjectRef parent = FindObject(root, HandleKind::Root, error);
    if (parent == nullptr) return Fail<HINTERNET>(error, nullptr);
    if (service != INTERNET_SERVICE_HTTP || userName != nullptr || password != nullptr ||
        host == nullptr || !IsUsableHost(host)) {
        return Fail<HINTERNET>(ERROR_INVALID_PARAMETER, nullptr);
    }
    const auto connection = std::make_shared<InternetObject>();
    connection->kind = HandleKind::Connection;
    connection->host = host;
    connection->port = port;
    return RegisterChild(connection, parent);
}

HINTERNET HttpOpenRequestA(HINTERNET connection, LPCSTR verb, LPCSTR target, LPCSTR,
                           LPCSTR referrer, LPCSTR* acceptTypes, DWORD flags, DWORD_PTR) {
    DWORD error = ERROR_SUCCESS;
    const ObjectRef parent = FindObject(connection, HandleKind::Connection, error);
    if (parent == nullptr) return Fail<HINTERNET>(error, nullptr);
    const bool head = verb != nullptr && std::strcmp(verb, "HEAD") == 0;
    if ((!head && (verb == nullptr || std::strcmp(verb, "GET") != 0)) || referrer != nullptr ||
        acceptTypes != nullptr) {
        return Fail<HINTERNET>(ERROR_INVALID_PARAMETER, nullptr);
    }
    const auto request = std::make_shared<InternetObject>();
    request->kind = HandleKind::Request;
    request->host = parent->host;
    request->port = parent->port;
    request->head = head;
    request->secure = (flags & INTERNET_FLAG_SECURE) != 0;
    request->target = EscapeTarget(target != nullptr ? target : "");
    return RegisterChild(request, parent);
}

BOOL HttpAddRequestHeadersA(HINTERNET request, LPCSTR headers, DWORD headersLength,
                            DWORD modifiers) {
    DWORD error = ERROR_SUCCESS;
    const ObjectRef object = FindObject(request, HandleKind::Request, error);
    if (object == nullptr) return Fail(error, FALSE);
    if (object->transfer) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE, FALSE);
    if (headers == nullptr || modifiers != (HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE)) {
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    const std::size_t length =
        headersLength == static_cast<DWORD>(-1) ? std::strlen(headers) : headersLength;
    if (!AddRequestHeaders(object->headers, std::string_view(headers, length), error)) {
        return Fail(error, FALSE);
    }
    return TRUE;
}

BOOL HttpSendRequestA(HINTERNET request, LPCSTR headers, DWORD, LPVOID, DWORD bodyLength) {
    DWORD error = ERROR_SUCCESS;
    const ObjectRef object = FindObject(request, HandleKind::Request, error);
    if (object == nullptr) return Fail(error, FALSE);
    if (object->transfer) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE, FALSE);
    if (headers != nullptr || bodyLength != 0) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (!SendRequest(*object, error)) return Fail(error, FALSE);
    return TRUE;
}

HINTERNET InternetOpenUrlA(HINTERNET root, LPCSTR url, LPCSTR headers, DWORD, DWORD, DWORD_PTR) {
    DWORD error = ERROR_SUCCESS;
    const ObjectRef parent = FindObject(root, HandleKind::Root, error);
    if (parent == nullptr) return Fail<HINTERNET>(error, nullptr);
    if (url == nullptr || headers != nullptr) {
        return Fail<HINTERNET>(ERROR_INVALID_PARAMETER, nullptr);
    }
    CrackedUrl parts;
    if (!CrackUrl(url, parts, error)) return Fail<HINTERNET>(error, nullptr);
    const bool secure = EqualsIgnoringCase(parts.scheme, "https");
    if (!secure && !EqualsIgnoringCase(parts.scheme, "http")) {
        return Fail<HINTERNET>(ERROR_INTERNET_UNRECOGNIZED_SCHEME, nullptr);
    }
    if (!parts.userName.empty() || !parts.password.empty() || !IsUsableHost(parts.host)) {
        return Fail<HINTERNET>(ERROR_INTERNET_INVALID_URL, nullptr);
    }
    // The scheme decides about TLS; no flag relaxes anything.
    const auto request = std::make_shared<InternetObject>();
    request->kind = HandleKind::Request;
    request->host = parts.host;
    request->port = parts.port;
    request->secure = secure;
    std::string target(parts.path);
    target.append(parts.extra.substr(0, parts.extra.find('#')));
    request->target = EscapeTarget(target);

    HINTERNET handle = RegisterChild(request, parent);
    if (handle == nullptr) return nullptr;
    if (!SendRequest(*request, error)) {
        // Closed already when another thread closed the root meanwhile.
        InternetCloseHandle(handle);
        return Fail<HINTERNET>(error, nullptr);
    }
    return handle;
}

BOOL HttpQueryInfoA(HINTERNET request, DWORD infoLevel, LPVOID buffer, LPDWORD bufferBytes,
                    LPDWORD index) {
    DWORD error = ERROR_SUCCESS;
    const ObjectRef object = FindObject(request, HandleKind::Request, error);
    if (object == nullptr) return Fail(error, FALSE);
    // Also after a send that failed: there is no response to ask about.
    if (!object->transfer || !object->transfer->HeadReceived()) {
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE, FALSE);
    }
    if (bufferBytes == nullptr || (infoLevel & ~(0xFFFF | HTTP_QUERY_FLAG_NUMBER)) != 0) {
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    std::string text;
    if (!QueryResponseText(object->transfer->Head(), infoLevel & 0xFFFF,
                           index != nullptr ? *index : 0, text, error) ||
        !CopyQueryResult(text, (infoLevel & HTTP_QUERY_FLAG_NUMBER) != 0, buffer, bufferBytes,
                         error)) {
        return Fail(error, FALSE);
    }
    if (index != nullptr) ++*index;
    return TRUE;
}

BOOL InternetReadFile(HINTERNET request, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead) {
    if (bytesRead == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    *bytesRead = 0;
    DWORD error = ERROR_SUCCESS;
    const ObjectRef object = FindObject(request, HandleKind::Request, error);
    if (object == nullptr) return Fail(error, FALSE);
    if (!object->transfer) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE, FALSE);
    if (buffer == nullptr && bytesToRead > 0) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    std::size_t count = 0;
    if (!object->transfer->Read(static_cast<char*>(buffer), bytesToRead, count, error)) {
        return Fail(error, FALSE);
    }
    *bytesRead = static_cast<DWORD>(count);
    return TRUE;
}

BOOL InternetCloseHandle(HINTERNET handle) {
    return CloseHandleTree(handle) ? TRUE : Fail(ERROR_INVALID_HANDLE, FALSE);
}
