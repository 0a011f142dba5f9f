// The process entry: everything the program does happens in RunProgram.

#include "cli/run_program.h"
#include "platform/process_entry.h"

int main(int argc, char** argv) {
    HandOverProcessArguments(argc, argv);
    return holwerk::RunProgram();
}
