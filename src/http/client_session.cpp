#include "http/client_session.h"

#include <string>

#include "common/build_config.h"

namespace holwerk {

bool OpenClientSession(std::uint32_t timeoutMilliseconds, HINTERNET& root, SessionStep& failedStep,
                       DWORD& error) {
    const std::string agent = std::string("Holwerk/") + CurrentVersion;
    root = InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (root == nullptr) {
        failedStep = SessionStep::Open;
        error = GetLastError();
        return false;
    }
    const struct {
        DWORD option;
        SessionStep step;
    } timeouts[] = {
        {INTERNET_OPTION_CONNECT_TIMEOUT, SessionStep::ConnectTimeout},
        {INTERNET_OPTION_SEND_TIMEOUT, SessionStep::SendTimeout},
        {INTERNET_OPTION_RECEIVE_TIMEOUT, SessionStep::ReceiveTimeout},
    };
    for (const auto& timeout : timeouts) {
        DWORD value = timeoutMilliseconds;
        if (!InternetSetOptionA(root, timeout.option, &value, sizeof value)) {
            error = GetLastError();
            failedStep = timeout.step;
            InternetCloseHandle(root);
            root = nullptr;
            return false;
        }
    }
    return true;
}

bool CameOverTls(HINTERNET request) {
    DWORD flags = 0;
    DWORD size = sizeof flags;
    return InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, &size) &&
           (flags & SECURITY_FLAG_SECURE) != 0;
}

}  // namespace holwerk
