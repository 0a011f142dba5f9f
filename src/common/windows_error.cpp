#include "common/windows_error.h"

namespace holwerk {

std::string WindowsErrorText(std::uint32_t code) {
    return "Windows-Fehler " + std::to_string(code);
}

}  // namespace holwerk
