#pragma once

// Header lines of the WinINet functions: the request headers a caller adds,
// and the response head HttpQueryInfoA answers from. Used by the WinINet
// functions of this folder only.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/posix/win32_api.h"

namespace holwerk::posix {

/// A request's own headers, names as given, in order of adding.
using RequestHeaders = std::vector<std::pair<std::string, std::string>>;

/// A response head: its lines as received, status line first, each without
/// its line end, and the header fields they make.
struct ResponseHead {
    std::vector<std::string> lines;
    /// Name and value of each field, without the blanks around the value; a
    /// folded line's text is part of the field before it.
    std::vector<std::pair<std::string, std::string>> fields;
    DWORD statusCode = 0;  // 0 when the status line holds no three-digit code
};

/// Takes the next line of a response head, without its line end; the first
/// is the status line. False, with nothing taken, for a line the program
/// cannot read the way the client frames the body: one without a colon, one
/// with a blank or tab before its colon, and a folded line (one that begins
/// with a blank or tab) that would continue no field or the Content-Length
/// or Transfer-Encoding (the client frames the body by their first line).
bool AddResponseLine(ResponseHead& head, std::string_view line);

/// Adds "Name: value" lines, separated by CR LF, the way
/// HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE does: a line replaces
/// the header of its name (in any letter case) or is added. A line without
/// a name or value, or with a control byte, fails the whole call with
/// ERROR_INVALID_PARAMETER and adds nothing.
bool AddRequestHeaders(RequestHeaders& headers, std::string_view text, DWORD& error);

/// Whether `headers` has one named `name`, in any letter case.
bool HasRequestHeader(const RequestHeaders& headers, std::string_view name);

/// The text HttpQueryInfoA reports for `level` and the `occurrence`th (from
/// 0) header of that name; false with ERROR_HTTP_HEADER_NOT_FOUND when there
/// is none, with ERROR_INVALID_PARAMETER for an unknown level.
bool QueryResponseText(const ResponseHead& head, DWORD level, DWORD occurrence, std::string& text,
                       DWORD& error);

/// Whether the body comes in chunks: "chunked" is a member of any
/// Transfer-Encoding field.
bool IsChunked(const ResponseHead& head);

}  // namespace holwerk::posix
