#pragma once

// The handle table of the WinINet functions: what each HINTERNET stands for,
// who holds it and how a close from another thread reaches a call in
// progress. Used by the WinINet functions of this folder only.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/win32_api.h"
#include "platform/posix/wininet_transfer.h"

namespace holwerk::posix {

enum class HandleKind { Root, Connection, Request };

/// What one handle stands for. Every call holds a reference to the object
/// it works on (and the object one to its parent), so that an object closed
/// meanwhile by another thread is freed only when no call is inside it.
struct InternetObject {
    HandleKind kind = HandleKind::Root;
    std::uintptr_t id = 0;
    std::shared_ptr<InternetObject> parent;
    std::vector<std::uintptr_t> children;  // under the table's lock
    bool closed = false;                   // under the table's lock

    std::string agent;  // root
    // Root: the limits of every request below it, as WinINet sets them
    // until InternetSetOptionA changes one.
    DWORD connectTimeoutMs = 60000;
    DWORD sendTimeoutMs = 30000;
    DWORD receiveTimeoutMs = 30000;

    std::string host;        // connection and request; an IPv6 literal in brackets
    INTERNET_PORT port = 0;  // connection and request; 0: the scheme's
    bool head = false;       // request: HEAD instead of GET
    bool secure = false;     // request
    std::string target;      // request, already escaped
    std::vector<std::pair<std::string, std::string>> headers;  // request
    // Request, once sent; set under the table's lock (AttachTransfer), so
    // that a close from another thread finds it to cancel.
    std::shared_ptr<HttpTransfer> transfer;
};

using ObjectRef = std::shared_ptr<InternetObject>;

/// Enters `object` below `parent` (null for a root) and returns its handle;
/// null when another thread closed the parent meanwhile.
HINTERNET RegisterHandle(const ObjectRef& object, const ObjectRef& parent);

/// The object behind a handle, or null when there is none (any more).
ObjectRef FindHandle(HINTERNET handle);

/// Gives `request` its transfer unless the request was closed meanwhile.
bool AttachTransfer(InternetObject& request, const std::shared_ptr<HttpTransfer>& transfer);

/// Closes a handle and every handle below it, cancelling their transfers;
/// false when there is no such handle.
bool CloseHandleTree(HINTERNET handle);

}  // namespace holwerk::posix
