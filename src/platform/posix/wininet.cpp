// WinINet's HTTP client functions over libcurl.
//
// Where this differs from Windows:
// - HTTP/1.1 only; no cache, no cookies, no automatic redirects, no content
//   decoding, no authentication and no dialogs, whatever the flags say. The
//   version given to HttpOpenRequestA is not used.
// - Only INTERNET_OPEN_TYPE_PRECONFIG: the proxy comes from http_proxy,
//   https_proxy and no_proxy, read by libcurl. Certificates come from the
//   system store, or from SSL_CERT_FILE / SSL_CERT_DIR where set; nothing
//   relaxes their check.
// - InternetConnectA takes no user name or password, and requests carry no
//   body (HttpSendRequestA refuses one).
// - Send and receive time-outs are idle limits: a wait fails with 12002 when
//   nothing arrives for that long, however long the whole transfer takes.
// - The request target goes out as given, with bytes up to 0x20, 0x7F, from
//   0x80 and "#" percent-escaped, so that no blank or control byte ever
//   reaches the request line.
// - A body that ends before its Content-Length or its last chunk fails the
//   read with 12030 instead of ending cleanly; so does an HTTPS body that
//   only the end of the connection delimits when the server did not end TLS
//   with close_notify first.
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
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/posix/error_map.h"
#include "platform/posix/header_text.h"
#include "platform/posix/percent_escape.h"
#include "platform/posix/wininet_transfer.h"

namespace holwerk {
namespace {

constexpr DWORD DefaultConnectTimeoutMs = 60000;
constexpr DWORD DefaultSendTimeoutMs = 30000;
constexpr DWORD DefaultReceiveTimeoutMs = 30000;

enum class HandleKind { Root, Connection, Request };

// Every call holds a reference to the object it works on (and the object to
// its parent), so a handle closed meanwhile by another thread is freed only
// when no call is inside it.
struct InternetObject {
    HandleKind kind = HandleKind::Root;
    std::uintptr_t id = 0;
    std::shared_ptr<InternetObject> parent;
    std::vector<std::uintptr_t> children;  // under the table's mutex
    bool closed = false;                   // under the table's mutex

    // Limits set on this handle; an unset one comes from the parent.
    std::optional<DWORD> connectTimeoutMs;
    std::optional<DWORD> sendTimeoutMs;
    std::optional<DWORD> receiveTimeoutMs;

    std::string agent;       // root
    std::string host;        // connection and request
    INTERNET_PORT port = 0;  // connection and request; 0: the scheme's
    std::string method;      // request
    std::string target;      // request, already escaped
    bool secure = false;     // request
    std::vector<std::pair<std::string, std::string>> headers;  // request
    // Request, once sent; set under the table's mutex, so that a close from
    // another thread finds it to cancel.
    std::shared_ptr<HttpTransfer> transfer;
};

using ObjectRef = std::shared_ptr<InternetObject>;

struct HandleTable {
    std::mutex mutex;
    std::map<std::uintptr_t, ObjectRef> objects;
    std::uintptr_t nextId = 0x1000;
};

HandleTable& Handles() {
    static HandleTable table;
    return table;
}

// Null when the parent was closed meanwhile by another thread.
HINTERNET Register(const ObjectRef& object, const ObjectRef& parent) {
    HandleTable& table = Handles();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (parent != nullptr && parent->closed) return nullptr;
    object->id = table.nextId++;
    object->parent = parent;
    if (parent != nullptr) parent->children.push_back(object->id);
    table.objects.emplace(object->id, object);
    return reinterpret_cast<HINTERNET>(object->id);
}

ObjectRef Find(HINTERNET handle) {
    HandleTable& table = Handles();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto found = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == table.objects.end() ? nullptr : found->second;
}

// Children first, so that no request outlives the handles it came from. A
// transfer in progress is cancelled; the objects go to `closed`, to be let go
// outside the lock.
void CloseLocked(HandleTable& table, std::uintptr_t id, std::vector<ObjectRef>& closed) {
    const auto found = table.objects.find(id);
    if (found == table.objects.end()) return;
    const ObjectRef object = found->second;
    for (std::uintptr_t child : std::vector<std::uintptr_t>(object->children)) {
        CloseLocked(table, child, closed);
    }
    if (object->parent != nullptr) std::erase(object->parent->children, id);
    object->closed = true;
    if (object->transfer) object->transfer->Cancel();
    table.objects.erase(found);
    closed.push_back(object);
}

template <typename T>
T Fail(DWORD error, T result) {
    SetLastError(error);
    return result;
}

bool EnsureCurlInitialised() {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return initialised;
}

DWORD EffectiveLimit(const InternetObject* object, std::optional<DWORD> InternetObject::*limit,
                     DWORD fallback) {
    for (; object != nullptr; object = object->parent.get()) {
        if (object->*limit) return *(object->*limit);
    }
    return fallback;
}

bool IsControlOrBlank(unsigned char byte) { return byte <= 0x20 || byte == 0x7F; }

// A token as RFC 9110 defines it: the method and header names.
bool IsToken(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsControlOrBlank(byte) || byte >= 0x80 ||
            std::strchr("\"(),/:;<=>?@[\\]{}", c) != nullptr) {
            return false;
        }
    }
    return true;
}

// A host that can stand in a URL: no blank, control byte or delimiter. An
// IPv6 literal may come with or without its brackets.
bool IsUsableHost(std::string_view host) {
    if (host.empty()) return false;
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') return false;
        host = host.substr(1, host.size() - 2);
    }
    for (const char c : host) {
        if (IsControlOrBlank(static_cast<unsigned char>(c)) ||
            std::strchr("/\\?#@[]", c) != nullptr) {
            return false;
        }
    }
    return true;
}

std::string EscapeTarget(std::string_view target) {
    // "#" too: libcurl would take it for the start of a fragment.
    const std::string escaped = PercentEscape(target, [](unsigned char byte) {
        return IsControlOrBlank(byte) || byte >= 0x80 || byte == '#';
    });
    return target.empty() || target.front() != '/' ? "/" + escaped : escaped;
}

// Adds "Name: value" lines, separated by CR LF, to a request's headers with
// WinINet's HTTP_ADDREQ_FLAG_ADD / _REPLACE rules.
bool AddHeaders(InternetObject& request, std::string_view text, DWORD modifiers, DWORD& error) {
    const bool replace = (modifiers & HTTP_ADDREQ_FLAG_REPLACE) != 0;
    const bool add = (modifiers & HTTP_ADDREQ_FLAG_ADD) != 0 || !replace;
    std::vector<std::pair<std::string, std::string>> lines;
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\r\n");
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (TrimBlanks(line).empty()) continue;
        const std::size_t colon = line.find(':');
        const std::string_view name = colon == std::string_view::npos
                                          ? std::string_view()
                                          : TrimBlanks(line.substr(0, colon));
        const std::string_view value =
            colon == std::string_view::npos ? line : TrimBlanks(line.substr(colon + 1));
        bool clean = IsToken(name);
        for (const char c : value) {
            const auto byte = static_cast<unsigned char>(c);
            if ((byte < 0x20 && c != '\t') || byte == 0x7F) clean = false;
        }
        if (!clean) {
            error = ERROR_INVALID_PARAMETER;
            return false;
        }
        lines.emplace_back(name, value);
    }
    for (auto& [name, value] : lines) {
        auto& headers = request.headers;
        // A structured binding cannot be captured by clang 14; take a reference.
        const std::string& wanted = name;
        auto existing = std::find_if(headers.begin(), headers.end(), [&](const auto& h) {
            return EqualsIgnoringCase(h.first, wanted);
        });
        if (replace && existing != headers.end()) {
            if (value.empty()) {
                headers.erase(existing);
            } else {
                existing->second = std::move(value);
            }
        } else if (replace && !add) {
            error = ERROR_HTTP_HEADER_NOT_FOUND;
            return false;
        } else if (!value.empty()) {
            headers.emplace_back(std::move(name), std::move(value));
        }
    }
    return true;
}

std::string BuildUrl(const InternetObject& request) {
    std::string url = request.secure ? "https://" : "http://";
    if (request.host.find(':') != std::string::npos && request.host.front() != '[') {
        url += '[' + request.host + ']';
    } else {
        url += request.host;
    }
    const INTERNET_PORT defaultPort =
        request.secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
    if (request.port != INTERNET_INVALID_PORT_NUMBER && request.port != defaultPort) {
        url += ':' + std::to_string(request.port);
    }
    url += request.target;
    return url;
}

bool SendRequest(InternetObject& request, DWORD& error) {
    const InternetObject* root = &request;
    while (root->parent != nullptr) root = root->parent.get();

    TransferRequest transfer;
    transfer.url = BuildUrl(request);
    transfer.method = request.method;
    transfer.userAgent = root->agent;
    bool hasAccept = false;
    bool hasExpect = false;
    for (const auto& [name, value] : request.headers) {
        transfer.headers.push_back(name + ": " + value);
        hasAccept = hasAccept || EqualsIgnoringCase(name, "Accept");
        hasExpect = hasExpect || EqualsIgnoringCase(name, "Expect");
    }
    // libcurl's own defaults; WinINet sends neither unless asked to.
    if (!hasAccept) transfer.headers.emplace_back("Accept:");
    if (!hasExpect) transfer.headers.emplace_back("Expect:");
    transfer.connectTimeoutMs =
        EffectiveLimit(&request, &InternetObject::connectTimeoutMs, DefaultConnectTimeoutMs);
    transfer.sendTimeoutMs =
        EffectiveLimit(&request, &InternetObject::sendTimeoutMs, DefaultSendTimeoutMs);
    transfer.receiveTimeoutMs =
        EffectiveLimit(&request, &InternetObject::receiveTimeoutMs, DefaultReceiveTimeoutMs);

    const auto started = std::make_shared<HttpTransfer>();
    {
        HandleTable& table = Handles();
        std::lock_guard<std::mutex> lock(table.mutex);
        if (request.closed) {
            error = ERROR_INTERNET_OPERATION_CANCELLED;
            return false;
        }
        request.transfer = started;
    }
    return started->Start(transfer, error);
}

// The parts of an absolute http or https URL that a request needs.
bool SplitUrl(std::string_view url, bool& secure, std::string& host, INTERNET_PORT& port,
              std::string& target, DWORD& error) {
    const std::size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string_view::npos) {
        error = ERROR_INTERNET_UNRECOGNIZED_SCHEME;
        return false;
    }
    const std::string_view scheme = url.substr(0, schemeEnd);
    if (EqualsIgnoringCase(scheme, "https")) {
        secure = true;
    } else if (EqualsIgnoringCase(scheme, "http")) {
        secure = false;
    } else {
        error = ERROR_INTERNET_UNRECOGNIZED_SCHEME;
        return false;
    }
    std::string_view rest = url.substr(schemeEnd + 3);
    const std::size_t authorityEnd = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, authorityEnd);
    rest = authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);
    error = ERROR_INTERNET_INVALID_URL;
    if (authority.find('@') != std::string_view::npos) return false;
    port = INTERNET_INVALID_PORT_NUMBER;
    const std::size_t bracketEnd = authority.rfind(']');
    const std::size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos &&
        (bracketEnd == std::string_view::npos || colon > bracketEnd)) {
        const std::string_view digits = authority.substr(colon + 1);
        unsigned long value = 0;
        if (digits.size() > 5) return false;
        for (const char c : digits) {
            if (c < '0' || c > '9') return false;
            value = value * 10 + static_cast<unsigned long>(c - '0');
        }
        if (value > 65535) return false;
        port = static_cast<INTERNET_PORT>(value);
        authority = authority.substr(0, colon);
    }
    if (!IsUsableHost(authority)) return false;
    host = authority;
    target = rest.substr(0, rest.find('#'));
    if (target.empty() || target.front() == '?') target.insert(0, "/");
    return true;
}

ObjectRef FindRequest(HINTERNET handle, DWORD& error) {
    ObjectRef object = Find(handle);
    if (object == nullptr) {
        error = ERROR_INVALID_HANDLE;
    } else if (object->kind != HandleKind::Request) {
        error = ERROR_INTERNET_INCORRECT_HANDLE_TYPE;
        object = nullptr;
    }
    return object;
}

// The text that HttpQueryInfoA reports for a level; false when the response
// has no such header.
bool QueryText(const ResponseHead& head, DWORD level, DWORD occurrence, std::string& text,
               DWORD& error) {
    const char* name = nullptr;
    switch (level) {
        case HTTP_QUERY_STATUS_CODE: {
            const std::string& statusLine = head.lines.front();
            const std::size_t begin = statusLine.find(' ');
            if (begin == std::string::npos) break;
            text = statusLine.substr(begin + 1, statusLine.find(' ', begin + 1) - begin - 1);
            return true;
        }
        case HTTP_QUERY_RAW_HEADERS_CRLF:
            text.clear();
            for (const std::string& line : head.lines) text += line + "\r\n";
            text += "\r\n";
            return true;
        case HTTP_QUERY_CONTENT_LENGTH:
            name = "Content-Length";
            break;
        case HTTP_QUERY_LOCATION:
            name = "Location";
            break;
        case HTTP_QUERY_TRANSFER_ENCODING:
            name = "Transfer-Encoding";
            break;
        default:
            error = ERROR_INVALID_PARAMETER;
            return false;
    }
    if (name != nullptr) {
        for (std::size_t i = 1; i < head.lines.size(); ++i) {
            const std::string_view line = head.lines[i];
            const std::size_t colon = line.find(':');
            if (colon == std::string_view::npos ||
                !EqualsIgnoringCase(TrimBlanks(line.substr(0, colon)), name)) {
                continue;
            }
            if (occurrence-- == 0) {
                text = TrimBlanks(line.substr(colon + 1));
                return true;
            }
        }
    }
    error = ERROR_HTTP_HEADER_NOT_FOUND;
    return false;
}

}  // namespace
}  // namespace holwerk

using holwerk::Fail;
using holwerk::HandleKind;
using holwerk::InternetObject;
using holwerk::ObjectRef;

namespace {

// A handle below `parent`; fails with ERROR_INVALID_HANDLE when another
// thread closed the parent since it was looked up.
HINTERNET RegisterChild(const ObjectRef& child, const ObjectRef& parent) {
    HINTERNET handle = holwerk::Register(child, parent);
    if (handle == nullptr) SetLastError(ERROR_INVALID_HANDLE);
    return handle;
}

}  // namespace

HINTERNET InternetOpenA(LPCSTR agent, DWORD accessType, LPCSTR proxy, LPCSTR, DWORD) {
    if (accessType != INTERNET_OPEN_TYPE_PRECONFIG || (proxy != nullptr && *proxy != '\0')) {
        return Fail<HINTERNET>(ERROR_INVALID_PARAMETER, nullptr);
    }
    if (!holwerk::EnsureCurlInitialised()) {
        return Fail<HINTERNET>(ERROR_INTERNET_INTERNAL_ERROR, nullptr);
    }
    const auto root = std::make_shared<InternetObject>();
    root->kind = HandleKind::Root;
    root->agent = agent != nullptr ? agent : "";
    return holwerk::Register(root, nullptr);
}

BOOL InternetSetOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD bufferBytes) {
    const ObjectRef object = holwerk::Find(handle);
    if (object == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
    std::optional<DWORD> InternetObject::*limit = nullptr;
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

HINTERNET InternetConnectA(HINTERNET root, LPCSTR host, INTERNET_PORT port, LPCSTR userName,
                           LPCSTR password, DWORD service, DWORD, DWORD_PTR) {
    const ObjectRef parent = holwerk::Find(root);
    if (parent == nullptr) return Fail<HINTERNET>(ERROR_INVALID_HANDLE, nullptr);
    if (parent->kind != HandleKind::Root) {
        return Fail<HINTERNET>(ERROR_INTERNET_INCORRECT_HANDLE_TYPE, nullptr);
    }
    if (service != INTERNET_SERVICE_HTTP || (userName != nullptr && *userName != '\0') ||
        (password != nullptr && *password != '\0')) {
        return Fail<HINTERNET>(ERROR_INVALID_PARAMETER, nullptr);
    }
    if (host == nullptr || !holwerk::IsUsableHost(host)) {
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
    const ObjectRef parent = holwerk::Find(connection);
    if (parent == nullptr) return Fail<HINTERNET>(ERROR_INVALID_HANDLE, nullptr);
    if (parent->kind != HandleKind::Connection) {
        return Fail<HINTERNET>(ERROR_INTERNET_INCORRECT_HANDLE_TYPE, nullptr);
    }
    const std::string method = verb != nullptr && *verb != '\0' ? verb : "GET";
    if (!holwerk::IsToken(method)) return Fail<HINTERNET>(ERROR_INVALID_PARAMETER, nullptr);

    const auto request = std::make_shared<InternetObject>();
    request->kind = HandleKind::Request;
    request->host = parent->host;
    request->port = parent->port;
    request->secure = (flags & INTERNET_FLAG_SECURE) != 0;
    request->method = method;
    request->target = holwerk::EscapeTarget(target != nullptr ? target : "");
    DWORD error = ERROR_SUCCESS;
    if (referrer != nullptr && *referrer != '\0' &&
        !holwerk::AddHeaders(*request, std::string("Referer: ") + referrer,
                             HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE, error)) {
        return Fail<HINTERNET>(error, nullptr);
    }
    if (acceptTypes != nullptr && *acceptTypes != nullptr) {
        std::string accept = "Accept: ";
        for (LPCSTR* type = acceptTypes; *type != nullptr; ++type) {
            if (type != acceptTypes) accept += ", ";
            accept += *type;
        }
        if (!holwerk::AddHeaders(*request, accept, HTTP_ADDREQ_FLAG_ADD, error)) {
            return Fail<HINTERNET>(error, nullptr);
        }
    }
    return RegisterChild(request, parent);
}

BOOL HttpAddRequestHeadersA(HINTERNET request, LPCSTR headers, DWORD headersLength,
                            DWORD modifiers) {
    DWORD error = ERROR_SUCCESS;
    const ObjectRef object = holwerk::FindRequest(request, error);
    if (object == nullptr) return Fail(error, FALSE);
    if (object->transfer) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE, FALSE);
    if (headers == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const std::size_t length =
        headersLength == static_cast<DWORD>(-1) ? std::strlen(headers) : headersLength;
    if (!holwerk::AddHeaders(*object, std::string_view(headers, length), modifiers, error)) {
        return Fail(error, FALSE);
    }
    return TRUE;
}

BOOL HttpSendRequestA(HINTERNET request, LPCSTR headers, DWORD headersLength, LPVOID,
                      DWORD bodyLength) {
    DWORD error = ERROR_SUCCESS;
    const ObjectRef object = holwerk::FindRequest(request, error);
    if (object == nullptr) return Fail(error, FALSE);
    if (object->transfer) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE, FALSE);
    if (bodyLength != 0) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (headers != nullptr && headersLength != 0) {
        const std::size_t length =
            headersLength == static_cast<DWORD>(-1) ? std::strlen(headers) : headersLength;
        if (!holwerk::AddHeaders(*object, std::string_view(headers, length),
                                 HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE, error)) {
            return Fail(error, FALSE);
        }
    }
    if (!holwerk::SendRequest(*object, error)) return Fail(error, FALSE);
    return TRUE;
}

HINTERNET InternetOpenUrlA(HINTERNET root, LPCSTR url, LPCSTR headers, DWORD headersLength,
                           DWORD flags, DWORD_PTR) {
    const ObjectRef parent = holwerk::Find(root);
    if (parent == nullptr) return Fail<HINTERNET>(ERROR_INVALID_HANDLE, nullptr);
    if (parent->kind != HandleKind::Root) {
        return Fail<HINTERNET>(ERROR_INTERNET_INCORRECT_HANDLE_TYPE, nullptr);
    }
    if (url == nullptr) return Fail<HINTERNET>(ERROR_INVALID_PARAMETER, nullptr);

    const auto request = std::make_shared<InternetObject>();
    request->kind = HandleKind::Request;
    request->method = "GET";
    std::string target;
    DWORD error = ERROR_SUCCESS;
    if (!holwerk::SplitUrl(url, request->secure, request->host, request->port, target, error)) {
        return Fail<HINTERNET>(error, nullptr);
    }
    (void)flags;  // the scheme decides about TLS; no flag relaxes anything
    request->target = holwerk::EscapeTarget(target);
    if (headers != nullptr && headersLength != 0) {
        const std::size_t length =
            headersLength == static_cast<DWORD>(-1) ? std::strlen(headers) : headersLength;
        if (!holwerk::AddHeaders(*request, std::string_view(headers, length),
                                 HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE, error)) {
            return Fail<HINTERNET>(error, nullptr);
        }
    }
    HINTERNET handle = RegisterChild(request, parent);
    if (handle == nullptr) return nullptr;
    if (!holwerk::SendRequest(*request, error)) {
        // Closed already when another thread closed the root meanwhile.
        InternetCloseHandle(handle);
        return Fail<HINTERNET>(error, nullptr);
    }
    return handle;
}

BOOL HttpQueryInfoA(HINTERNET request, DWORD infoLevel, LPVOID buffer, LPDWORD bufferBytes,
                    LPDWORD index) {
    DWORD error = ERROR_SUCCESS;
    const ObjectRef object = holwerk::FindRequest(request, error);
    if (object == nullptr) return Fail(error, FALSE);
    // Also after a send that failed: there is no response to ask about.
    if (!object->transfer || !object->transfer->HeadReceived()) {
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE, FALSE);
    }
    if (bufferBytes == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);

    const DWORD level = infoLevel & 0xFFFF;
    const bool number = (infoLevel & HTTP_QUERY_FLAG_NUMBER) != 0;
    if ((infoLevel & ~(0xFFFF | HTTP_QUERY_FLAG_NUMBER)) != 0) {
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    std::string text;
    if (!holwerk::QueryText(object->transfer->Head(), level, index != nullptr ? *index : 0, text,
                            error)) {
        return Fail(error, FALSE);
    }
    if (number) {
        if (buffer == nullptr || *bufferBytes < sizeof(DWORD)) {
            *bufferBytes = sizeof(DWORD);
            return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
        }
        DWORD value = 0;
        for (const char c : text) {
            if (c < '0' || c > '9') break;
            value = value * 10 + static_cast<DWORD>(c - '0');
        }
        std::memcpy(buffer, &value, sizeof value);
        *bufferBytes = sizeof(DWORD);
    } else {
        if (buffer == nullptr || *bufferBytes < text.size() + 1) {
            *bufferBytes = static_cast<DWORD>(text.size() + 1);
            return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
        }
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        *bufferBytes = static_cast<DWORD>(text.size());
    }
    if (index != nullptr) ++*index;
    return TRUE;
}

BOOL InternetReadFile(HINTERNET request, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead) {
    if (bytesRead == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    *bytesRead = 0;
    DWORD error = ERROR_SUCCESS;
    const ObjectRef object = holwerk::FindRequest(request, error);
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
    holwerk::HandleTable& table = holwerk::Handles();
    std::vector<ObjectRef> closed;
    {
        std::lock_guard<std::mutex> lock(table.mutex);
        const auto id = reinterpret_cast<std::uintptr_t>(handle);
        if (table.objects.find(id) == table.objects.end()) {
            return Fail(ERROR_INVALID_HANDLE, FALSE);
        }
        holwerk::CloseLocked(table, id, closed);
    }
    // A call still inside one of these objects keeps it alive; the last one
    // out frees it, never while the table is locked.
    closed.clear();
    return TRUE;
}
