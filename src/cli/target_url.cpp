#include "cli/target_url.h"

#include "common/ascii.h"

namespace holwerk {

bool NormalizeTargetUrl(const std::string& typedUrl, std::string& normalizedUrl,
                        std::string& errorMessage) {
    // Only the blank counts: a tab is left for the URL decomposition to judge.
    const std::size_t first = typedUrl.find_first_not_of(' ');
    std::string normalized;
    if (first != std::string::npos) {
        normalized = typedUrl.substr(first, typedUrl.find_last_not_of(' ') - first + 1);
    }
    if (normalized.empty()) {
        errorMessage = "Die URL fehlt.";
        return false;
    }
    if (normalized.find(' ') != std::string::npos) {
        errorMessage = "Die URL darf keine Leerzeichen enthalten.";
        return false;
    }
    const std::string lower = ToAsciiLower(normalized);
    if (lower.starts_with("http://") || lower.starts_with("https://")) {
        normalizedUrl = normalized;
        return true;
    }
    if (lower.find("://") != std::string::npos) {
        errorMessage = "Unterstützt werden ausschließlich HTTP- und HTTPS-URLs.";
        return false;
    }
    normalizedUrl = "https://" + normalized;
    return true;
}

}  // namespace holwerk
