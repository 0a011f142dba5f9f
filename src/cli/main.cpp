// The process entry: everything the program does happens in RunProgram.

#include "cli/run_program.h"

#ifndef _WIN32
#include "platform/posix/process_arguments.h"
#endif

int main([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
#ifndef _WIN32
    PosixSetProcessArguments(argc, argv);
#endif
    return holwerk::RunProgram();
}
