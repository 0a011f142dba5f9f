#pragma once

#include <cstdint>

#include "platform/win32.h"

namespace holwerk {

/// The steps of opening a client session, in order.
enum class SessionStep { Open, ConnectTimeout, SendTimeout, ReceiveTimeout };

/// Opens the client's root handle for the download and the update check
/// alike: the program's user agent, the system's proxy settings, and one
/// limit for connecting, sending and receiving. On failure nothing stays
/// open, `failedStep` names the step and `error` is the client's code.
bool OpenClientSession(std::uint32_t timeoutMilliseconds, HINTERNET& root, SessionStep& failedStep,
                       DWORD& error);

/// True when the request's response came over TLS. Asked of every HTTPS
/// request once it is sent: a proxy may answer the CONNECT itself, and some
/// clients take that answer for the server's.
bool CameOverTls(HINTERNET request);

}  // namespace holwerk
