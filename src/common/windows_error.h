#pragma once

#include <cstdint>
#include <string>

namespace holwerk {

/// "Windows-Fehler " followed by the code as an unsigned decimal number.
std::string WindowsErrorText(std::uint32_t code);

}  // namespace holwerk
