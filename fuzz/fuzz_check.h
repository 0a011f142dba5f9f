#pragma once

// What every fuzz target does when an invariant breaks: say which one, show
// the input's size, and abort so libFuzzer keeps the input as a crash.

#include <cstddef>
#include <cstdio>
#include <cstdlib>

namespace holwerk {

/// Aborts with `what` when `holds` is false.
inline void FuzzCheck(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

}  // namespace holwerk
