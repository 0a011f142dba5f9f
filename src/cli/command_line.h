#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/records.h"

namespace holwerk {

/// The command-line arguments after the program name, as UTF-8.
using CommandArgs = std::vector<std::string>;

/// --timeout: the network time-out in seconds, its range and default.
inline constexpr std::int64_t MinTimeoutSeconds = 1;
inline constexpr std::int64_t MaxTimeoutSeconds = 300;
inline constexpr std::int64_t DefaultTimeoutSeconds = 30;

/// --max-redirects: the most redirects followed, its range and default.
inline constexpr std::int64_t MinRedirectLimit = 0;
inline constexpr std::int64_t MaxRedirectLimit = 20;
inline constexpr std::int64_t DefaultRedirectLimit = 5;

/// What the command line asks the program to do.
enum class CommandAction : std::int64_t {
    Download = 0,
    Help = 1,
    Version = 2,
};

/// Splits the process command line into arguments, without the program name.
bool ReadCommandLine(CommandArgs& args, std::string& errorMessage);

/// Fills options and action from the arguments, left to right; on failure
/// errorMessage holds the German sentence for the first failing argument.
bool ParseCommandLine(const CommandArgs& args, DownloadOptions& options, CommandAction& action,
                      std::string& errorMessage);

/// True when the text is not empty and every byte is an ASCII digit.
bool IsAllDigits(const std::string& text);

}  // namespace holwerk
