#pragma once

#include <cstdint>
#include <string>

#include "platform/win32.h"
#include "update/state_file.h"

namespace holwerk {

/// What the start-up update check asks of the run.
enum class UpdateCheckStatus : std::int64_t {
    None = 0,     ///< nothing to say; the download goes on
    Notice = 1,   ///< print the message; the download goes on
    Blocked = 2,  ///< print the message and the download page; no download
};

/// Days from the first sighting of a newer version until downloads stop.
inline constexpr std::int64_t UpdateDeadlineDays = 90;

/// The built-in download page on the update server.
std::string DefaultDownloadPageUrl();

/// The daily update check with its deadline. Always sets both outputs;
/// failures of the check itself are silent and give None.
UpdateCheckStatus UpdateCheck(std::string& message, std::string& downloadPageUrl);

/// Forgets the deadline when the stored latest version is one the running
/// version already has (an update was installed since it was seen).
void ForgetMetDeadline(UpdateState& state);

/// Takes what a fetched manifest says into the state and the page address:
/// a valid newer version starts (or keeps) the deadline, a valid current or
/// older one clears it, an invalid one changes nothing.
void ApplyManifest(const std::string& body, const std::string& today, UpdateState& state,
                   std::string& downloadPageUrl);

/// The notice or the refusal that the state gives on `today`.
UpdateCheckStatus DeadlineStatus(const UpdateState& state, const std::string& downloadPageUrl,
                                 const SYSTEMTIME& today, std::string& message);

}  // namespace holwerk
