#include "platform/posix/wininet_headers.h"

#include <algorithm>
#include <cstring>

#include "platform/posix/support.h"

namespace holwerk::posix {

namespace {

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// A token as RFC 9110 defines it, as header names are.
bool IsToken(std::string_view text) {
    return !text.empty() && std::none_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte >= 0x7F || std::strchr("\"(),/:;<=>?@[\\]{}", c) != nullptr;
    });
}

bool IsFieldValue(std::string_view text) {
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && c != '\t') || byte == 0x7F;
    });
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Splits "Name: value" into its trimmed parts; false without a colon.
bool SplitHeaderLine(std::string_view line, std::string_view& name, std::string_view& value) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    name = TrimBlanks(line.substr(0, colon));
    value = TrimBlanks(line.substr(colon + 1));
    return true;
}

// The status code of a status line "HTTP/1.1 200 OK"; 0 when there is none.
DWORD StatusFromLine(std::string_view line) {
    if (line.substr(0, 5) != "HTTP/") return 0;
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos) return 0;
    DWORD status = 0;
    int digits = 0;
    for (std::size_t i = blank + 1; i < line.size() && digits < 3; ++i, ++digits) {
        if (line[i] < '0' || line[i] > '9') return 0;
        status = status * 10 + static_cast<DWORD>(line[i] - '0');
    }
    return digits == 3 ? status : 0;
}

bool FramesTheBody(std::string_view name) {
    return EqualsIgnoringCase(name, "Content-Length") ||
           EqualsIgnoringCase(name, "Transfer-Encoding");
}

// The value of the `occurrence`th field named `name`.
bool FindResponseHeader(const ResponseHead& head, std::string_view name, DWORD occurrence,
                        std::string_view& value) {
    for (const auto& [fieldName, fieldValue] : head.fields) {
        if (EqualsIgnoringCase(fieldName, name) && occurrence-- == 0) {
            value = fieldValue;
            return true;
        }
    }
    return false;
}

}  // namespace

bool AddResponseLine(ResponseHead& head, std::string_view line) {
    if (head.lines.empty()) {
        head.statusCode = StatusFromLine(line);
    } else if (!line.empty() && IsBlank(line.front())) {
        // A folded line: RFC 9112 asks a user agent to read it as part of
        // the field before. libcurl frames the body by the first line of
        // Content-Length and Transfer-Encoding alone, so a continued one
        // cannot be judged the way the body is read.
        if (head.fields.empty() || FramesTheBody(head.fields.back().first)) return false;
        const std::string_view more = TrimBlanks(line);
        std::string& value = head.fields.back().second;
        if (!more.empty()) value.append(value.empty() ? "" : " ").append(more);
    } else {
        // libcurl takes neither "Name : value" nor a line without a colon
        // for a field, and would frame the body without it.
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0 || IsBlank(line[colon - 1])) {
            return false;
        }
        head.fields.emplace_back(line.substr(0, colon), TrimBlanks(line.substr(colon + 1)));
    }
    head.lines.emplace_back(line);
    return true;
}

bool AddRequestHeaders(RequestHeaders& headers, std::string_view text, DWORD& error) {
    RequestHeaders lines;
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\r\n");
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (TrimBlanks(line).empty()) continue;
        std::string_view name, value;
        if (!SplitHeaderLine(line, name, value) || !IsToken(name) || value.empty() ||
            !IsFieldValue(value)) {
            error = ERROR_INVALID_PARAMETER;
            return false;
        }
        lines.emplace_back(name, value);
    }
    for (auto& line : lines) {
        const auto existing = std::find_if(headers.begin(), headers.end(), [&](const auto& h) {
            return EqualsIgnoringCase(h.first, line.first);
        });
        if (existing != headers.end()) {
            existing->second = std::move(line.second);
        } else {
            headers.push_back(std::move(line));
        }
    }
    return true;
}

bool HasRequestHeader(const RequestHeaders& headers, std::string_view name) {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& header) { return EqualsIgnoringCase(header.first, name); });
}

bool QueryResponseText(const ResponseHead& head, DWORD level, DWORD occurrence, std::string& text,
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
    std::string_view value;
    if (name != nullptr && FindResponseHeader(head, name, occurrence, value)) {
        text = value;
        return true;
    }
    error = ERROR_HTTP_HEADER_NOT_FOUND;
    return false;
}

bool IsChunked(const ResponseHead& head) {
    for (const auto& [name, value] : head.fields) {
        if (!EqualsIgnoringCase(name, "Transfer-Encoding")) continue;
        std::string_view members = value;
        while (!members.empty()) {
            const std::size_t comma = members.find(',');
            if (EqualsIgnoringCase(TrimBlanks(members.substr(0, comma)), "chunked")) return true;
            members =
                comma == std::string_view::npos ? std::string_view() : members.substr(comma + 1);
        }
    }
    return false;
}

}  // namespace holwerk::posix
