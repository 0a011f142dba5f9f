#pragma once

// The one place that asks OpenSSL itself: libcurl hands out its TLS session,
// and only OpenSSL's tells whether the server ended TLS with close_notify.
// The native build therefore needs a libcurl that does its TLS with OpenSSL;
// configuring it checks that. Used by the WinINet functions of this folder
// only.

#include <curl/curl.h>

namespace holwerk::posix {

/// What a transfer's TLS session says, at the moment of asking.
struct TlsState {
    bool session = false;      // the connection speaks TLS now
    bool closeNotify = false;  // the server has announced the end of its data
};

/// The TLS state of the transfer's connection; no session once it is closed.
TlsState ReadTlsState(CURL* easy);

}  // namespace holwerk::posix
