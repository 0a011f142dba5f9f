#pragma once

#include <cstdint>
#include <string>

namespace holwerk {

/// The largest manifest body accepted, in bytes.
inline constexpr std::int64_t MaxManifestBytes = 65536;

/// "https://" + the update server's host + the manifest's path.
std::string GetManifestUrl();

/// `base` with "installation_id=" + `id` joined as a query parameter, in
/// front of any fragment.
std::string BuildManifestRequestUrl(const std::string& base, const std::string& id);

/// One GET of `address` without redirects, with 5-second time-outs. True
/// when a 2xx answer brought a body of at most MaxManifestBytes that,
/// without surrounding spaces, starts with "{" and ends with "}"; `body` is
/// to be used only then.
bool FetchManifest(const std::string& address, std::string& body);

/// The text between the quotes of the first string after `"key"` and a
/// colon; no escapes are read. "" when the key or a delimiter is missing.
std::string GetJsonStringValue(const std::string& json, const std::string& key);

/// True when `address` begins with "https://", in any letter case.
bool IsHttpsUrl(const std::string& address);

/// True for a download page the program may print and store: an https
/// address without control bytes or blanks.
bool IsUsableDownloadPageUrl(const std::string& address);

}  // namespace holwerk
