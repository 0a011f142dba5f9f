#include "update/update_check.h"

#include "common/build_config.h"
#include "identity/installation_id.h"
#include "platform/path_separator.h"
#include "storage/user_data.h"
#include "update/day_arithmetic.h"
#include "update/manifest.h"
#include "update/manifest_fetch.h"
#include "update/version_number.h"

namespace holwerk {

std::string DefaultDownloadPageUrl() {
    return std::string("https://") + UpdateServerHost + "/tolvik-software/Holwerk/";
}

void ForgetMetDeadline(UpdateState& state) {
    if (IsValidVersion(state.latestVersion) &&
        CompareVersions(state.latestVersion, CurrentVersion) <= 0) {
        state.newerSeen.clear();
    }
}

void ApplyManifest(const std::string& body, const std::string& today, UpdateState& state,
                   std::string& downloadPageUrl) {
    const std::string version = GetJsonStringValue(body, "version");
    const std::string page = GetJsonStringValue(body, "download_url");
    if (!IsValidVersion(version)) return;
    if (IsUsableDownloadPageUrl(page)) downloadPageUrl = page;
    if (CompareVersions(CurrentVersion, version) < 0) {
        // The deadline runs from the first sighting, even when a still
        // newer version is announced later.
        if (state.newerSeen.empty()) state.newerSeen = today;
    } else {
        state.newerSeen.clear();
    }
    state.latestVersion = version;
}

UpdateCheckStatus DeadlineStatus(const UpdateState& state, const std::string& downloadPageUrl,
                                 const SYSTEMTIME& today, std::string& message) {
    message.clear();
    if (state.newerSeen.empty()) return UpdateCheckStatus::None;
    const std::int64_t days = DaysSinceDate(state.newerSeen, today);
    if (days < UpdateDeadlineDays) {
        message = "Eine neuere Version " + state.latestVersion +
                  " ist verfügbar. Verbleibende Aktualisierungsfrist: " +
                  std::to_string(UpdateDeadlineDays - days) + " Tage. " + downloadPageUrl;
        return UpdateCheckStatus::Notice;
    }
    message = "Diese Version ist seit " + std::to_string(days) +
              " Tagen als veraltet erkannt. Vor dem nächsten Download ist die Aktualisierung "
              "auf " +
              state.latestVersion + " erforderlich.";
    return UpdateCheckStatus::Blocked;
}

UpdateCheckStatus UpdateCheck(std::string& message, std::string& downloadPageUrl) {
    message.clear();
    downloadPageUrl = DefaultDownloadPageUrl();

    std::string folder;
    if (!GetUserDataFolder(folder)) return UpdateCheckStatus::None;
    std::string id;
    if (!GetInstallationId(folder, id)) return UpdateCheckStatus::None;

    const std::string statePath = folder + PathSeparator + UpdateStateFileName;
    std::string text;
    ReadTextFile(statePath, text);  // any failure reads as an empty file
    // One reading of the clock for the whole check, so that the due check
    // and the day count agree even when the run straddles midnight.
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    const std::string today = DateText(now);

    UpdateState state;
    ReadUpdateState(text, state);
    ForgetMetDeadline(state);
    if (IsUsableDownloadPageUrl(state.downloadUrl)) downloadPageUrl = state.downloadUrl;

    if (state.lastCheck != today) {
        std::string body;
        if (FetchManifest(BuildManifestRequestUrl(GetManifestUrl(), id), body)) {
            ApplyManifest(body, today, state, downloadPageUrl);
        }
        // Also after a failed request, so that it is not retried before
        // tomorrow.
        state.lastCheck = today;
        state.downloadUrl = downloadPageUrl;
        WriteTextFileAtomic(statePath, FormatUpdateState(state));
    }
    return DeadlineStatus(state, downloadPageUrl, now, message);
}

}  // namespace holwerk
