#include "update/manifest.h"

#include "common/ascii.h"
#include "common/build_config.h"

namespace holwerk {

std::string GetManifestUrl() {
    return std::string("https://") + UpdateServerHost +
           "/tolvik-software/Holwerk/holwerk-version.json";
}

std::string BuildManifestRequestUrl(const std::string& base, const std::string& id) {
    std::string address = base;
    std::string fragment;
    const std::size_t hash = address.find('#');
    if (hash != std::string::npos) {
        fragment = address.substr(hash);
        address.resize(hash);
    }
    const char* separator = address.find('?') == std::string::npos ? "?" : "&";
    return address + separator + "installation_id=" + id + fragment;
}

bool LooksLikeManifest(const std::string& body) {
    const std::size_t first = body.find_first_not_of(' ');
    const std::size_t last = body.find_last_not_of(std::string(" \0", 2));
    return first != std::string::npos && body[first] == '{' && body[last] == '}';
}

std::string GetJsonStringValue(const std::string& json, const std::string& key) {
    const std::string needle = "\"" + key + "\"";
    const std::size_t found = json.find(needle);
    if (found == std::string::npos) return "";
    const std::size_t colon = json.find(':', found + needle.size());
    if (colon == std::string::npos) return "";
    const std::size_t open = json.find('"', colon + 1);
    if (open == std::string::npos) return "";
    const std::size_t close = json.find('"', open + 1);
    if (close == std::string::npos) return "";
    return json.substr(open + 1, close - open - 1);
}

bool IsHttpsUrl(const std::string& address) {
    return ToAsciiLower(address.substr(0, 8)) == "https://";
}

bool IsUsableDownloadPageUrl(const std::string& address) {
    // The address is printed to the console and stored in a line-based
    // file: a line end, an escape sequence (C1 controls included) or a blank
    // from the server must reach neither. A URL is ASCII; anything else must
    // come percent-encoded.
    for (const char raw : address) {
        const auto c = static_cast<unsigned char>(raw);
        if (IsControlOrBlank(c) || c >= 0x80) return false;
    }
    return IsHttpsUrl(address);
}

}  // namespace holwerk
