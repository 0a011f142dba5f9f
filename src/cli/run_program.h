#pragma once

namespace holwerk {

/// The whole run: reads the command line, shows help or the version, runs the
/// update check and the download and prints every line. Returns the process
/// exit code.
int RunProgram();

}  // namespace holwerk
