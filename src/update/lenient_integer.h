#pragma once

#include <cstdint>
#include <string>

namespace holwerk {

/// Integer value of `text` read leniently: leading blanks skipped, an
/// optional sign, then digits up to the first other byte; 0 without digits.
/// Clamped to the 32-bit range.
std::int64_t LenientInteger(const std::string& text);

}  // namespace holwerk
