// Fuzzes the form check of the installation ID, which reads text from the
// registry and from a file in the user's folder, against the rule written
// out plainly here.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "identity/installation_id.h"

namespace holwerk {
namespace {

bool ReferenceIsValid(std::string text) {
    const std::size_t first = text.find_first_not_of(' ');
    text = first == std::string::npos ? ""
                                      : text.substr(first, text.find_last_not_of(' ') + 1 - first);
    if (text.size() != 36) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        const std::size_t position = i + 1;
        if (position == 9 || position == 14 || position == 19 || position == 24) {
            if (c != '-') return false;
        } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        } else if (position == 15 && c != '4') {
            return false;
        } else if (position == 20 && c != '8' && c != '9' && c != 'a' && c != 'b') {
            return false;
        }
    }
    return true;
}

}  // namespace
}  // namespace holwerk

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    holwerk::FuzzCheck(holwerk::IsValidInstallationId(text) == holwerk::ReferenceIsValid(text),
                       "valid exactly for a version-4 UUID with blanks around at most");
    return 0;
}
