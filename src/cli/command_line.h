#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/records.h"

namespace holwerk {

/// The command-line arguments after the program name, as UTF-8.
using CommandArgs = std::vector<std::string>;

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
