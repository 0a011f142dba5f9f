#pragma once

#include <cstdint>
#include <string>

namespace holwerk {

/// Splits an http or https URL into what a connection and its request need.
/// Refuses credentials, a missing host and every other scheme; on failure
/// only errorMessage is written.
bool SplitHttpUrl(const std::string& url, std::string& host, std::string& requestTarget,
                  std::uint16_t& port, bool& isHttps, std::string& errorMessage);

/// Resolves a Location value against the URL of the request it answered.
bool ResolveRedirectTarget(const std::string& baseUrl, const std::string& location,
                           std::string& targetUrl, std::string& errorMessage);

/// True when following from currentUrl to nextUrl would leave TLS: the
/// current scheme is https and the next one http (letter case ignored).
bool IsHttpsToHttpRedirect(const std::string& currentUrl, const std::string& nextUrl);

}  // namespace holwerk
