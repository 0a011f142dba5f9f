#include "update/state_file.h"

namespace holwerk {

std::string GetStateValue(const std::string& text, const std::string& key) {
    const std::size_t found = text.find(key + "=");
    if (found == std::string::npos) return "";
    const std::size_t start = found + key.size() + 1;
    const std::size_t lineEnd = text.find('\n', start);
    std::string value =
        text.substr(start, lineEnd == std::string::npos ? lineEnd : lineEnd - start);
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.pop_back();
    const std::size_t first = value.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return value.substr(first, value.find_last_not_of(' ') - first + 1);
}

void ReadUpdateState(const std::string& text, UpdateState& state) {
    state.lastCheck = GetStateValue(text, "last_check");
    state.newerSeen = GetStateValue(text, "newer_seen");
    state.latestVersion = GetStateValue(text, "latest_version");
    state.downloadUrl = GetStateValue(text, "download_url");
}

std::string FormatUpdateState(const UpdateState& state) {
    return "last_check=" + state.lastCheck + "\r\nnewer_seen=" + state.newerSeen +
           "\r\nlatest_version=" + state.latestVersion + "\r\ndownload_url=" + state.downloadUrl +
           "\r\n";
}

}  // namespace holwerk
