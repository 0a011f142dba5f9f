#include "platform/posix/wininet_tls.h"

#include <openssl/ssl.h>

namespace holwerk::posix {

TlsState ReadTlsState(CURL* easy) {
    TlsState state;
    curl_tlssessioninfo* session = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_TLS_SSL_PTR, &session) != CURLE_OK || session == nullptr ||
        session->backend != CURLSSLBACKEND_OPENSSL || session->internals == nullptr) {
        return state;
    }
    state.session = true;
    state.closeNotify =
        (SSL_get_shutdown(static_cast<SSL*>(session->internals)) & SSL_RECEIVED_SHUTDOWN) != 0;
    return state;
}

}  // namespace holwerk::posix
