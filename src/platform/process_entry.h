#pragma once

// What the entry point hands the platform before the program runs, the same
// call on every build.

#ifdef _WIN32
/// Windows keeps the command line and standard handles itself: nothing to
/// hand over.
inline void HandOverProcessArguments(int, char**) {}
#else
#include "platform/posix/process_arguments.h"

/// Gives argc/argv to the POSIX layer, which reads the command line from
/// them and readies the standard streams.
inline void HandOverProcessArguments(int argc, char** argv) {
    holwerk::posix::SetProcessArguments(argc, argv);
}
#endif
