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

/// True for a body that is an object: "{" first and "}" last. Anything
/// else is a server's error page or a stand-in; only spaces (and trailing
/// NULs) are forgiven around it.
bool LooksLikeManifest(const std::string& body);

/// The text between the quotes of the first string after `"key"` and a
/// colon; no escapes are read. "" when the key or a delimiter is missing.
std::string GetJsonStringValue(const std::string& json, const std::string& key);

/// True when `address` begins with "https://", in any letter case.
bool IsHttpsUrl(const std::string& address);

/// True for a download page the program may print and store: an https
/// address without control bytes or blanks.
bool IsUsableDownloadPageUrl(const std::string& address);

}  // namespace holwerk
