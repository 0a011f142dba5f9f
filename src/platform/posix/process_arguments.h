#pragma once

namespace holwerk::posix {

// The one function of the POSIX layer that Windows does not have: the entry
// point hands over the arguments the process was started with, before the
// program reads its command line or writes a line.

/// Keeps argc/argv for GetCommandLineW/CommandLineToArgvW, ignores SIGPIPE and
/// parks closed standard descriptors so no file the program opens can take
/// their place.
void SetProcessArguments(int argc, char** argv);

}  // namespace holwerk::posix
