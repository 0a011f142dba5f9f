#pragma once

#include <string>

namespace holwerk {

/// "Holwerk " and the running version: the version output and the help's
/// first line.
std::string VersionLine();

/// Writes the version line to standard output.
void PrintVersion();

/// Writes the help text to standard output.
void PrintHelp();

}  // namespace holwerk
