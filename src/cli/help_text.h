#pragma once

#include <string>
#include <vector>

namespace holwerk {

/// "Holwerk " and the running version: the version output and the help's
/// first line.
std::string VersionLine();

/// The help text, one entry per line, without line ends.
std::vector<std::string> HelpLines();

/// Writes the version line to standard output.
void PrintVersion();

/// Writes the help text to standard output.
void PrintHelp();

}  // namespace holwerk
