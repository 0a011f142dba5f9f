#pragma once

#include <string>

namespace holwerk {

/// Trims blanks around the typed URL, refuses a missing URL, inner blanks and
/// schemes other than http and https, and puts "https://" in front of a URL
/// without a scheme. On failure errorMessage holds the German sentence.
bool NormalizeTargetUrl(const std::string& typedUrl, std::string& normalizedUrl,
                        std::string& errorMessage);

}  // namespace holwerk
