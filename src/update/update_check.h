#pragma once

#include <cstdint>
#include <string>

namespace holwerk {

/// What the start-up update check asks of the run.
enum class UpdateCheckStatus : std::int64_t {
    None = 0,     ///< nothing to say; the download goes on
    Notice = 1,   ///< print the message; the download goes on
    Blocked = 2,  ///< print the message and the download page; no download
};

/// The daily update check with its deadline. Always sets both outputs;
/// failures of the check itself are silent and give None.
UpdateCheckStatus UpdateCheck(std::string& message, std::string& downloadPageUrl);

}  // namespace holwerk
