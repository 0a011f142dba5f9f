#pragma once

#include <string>

namespace holwerk {

/// True for exactly three non-empty groups of 1 to 9 decimal digits joined
/// by "." (leading zeros allowed).
bool IsValidVersion(const std::string& version);

/// -1 if `a` is older than `b`, 1 if newer, 0 if equal: the first three
/// dot-separated groups compared as numbers, a missing group counting as 0.
int CompareVersions(const std::string& a, const std::string& b);

}  // namespace holwerk
