#pragma once

// Header lines of the WinINet functions: the request headers a caller adds,
// and the response head HttpQueryInfoA answers from. Used by the WinINet
// functions of this folder only.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/posix/win32_api.h"

namespace holwerk {

/// A request's own headers, names as given, in order of adding.
using RequestHeaders = std::vector<std::pair<std::string, std::string>>;

/// The response head as received: status line first, then the header lines,
/// each without its line end.
struct ResponseHead {
    std::vector<std::string> lines;
    DWORD statusCode = 0;
};

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
/// Transfer-Encoding line.
bool IsChunked(const ResponseHead& head);

}  // namespace holwerk
