#pragma once

#include <string>

namespace holwerk {

/// What the update check remembers between runs, as kept in
/// "update-state.txt" in the per-user folder.
struct UpdateState {
    std::string lastCheck;      ///< date of the last run with a due check
    std::string newerSeen;      ///< date a newer version was first seen
    std::string latestVersion;  ///< last version accepted from the manifest
    std::string downloadUrl;    ///< download page named in notices
};

/// Name of the state file in the per-user folder.
inline constexpr char UpdateStateFileName[] = "update-state.txt";

/// The value after the first "key=" anywhere in `text`, up to the line end,
/// without trailing CR/LF and surrounding spaces; "" when the key is absent.
std::string GetStateValue(const std::string& text, const std::string& key);

/// Takes the four values from the state file's text.
void ReadUpdateState(const std::string& text, UpdateState& state);

/// The state file's four CR LF-terminated lines, values byte for byte.
std::string FormatUpdateState(const UpdateState& state);

}  // namespace holwerk
