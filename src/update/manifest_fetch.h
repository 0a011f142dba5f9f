#pragma once

#include <string>

namespace holwerk {

/// One GET of `address` without redirects, over TLS, with short time-outs
/// and a deadline for the whole fetch, so that the update server cannot hold
/// up a download. True when a 2xx answer brought a whole body of at most
/// MaxManifestBytes that LooksLikeManifest; `body` is to be used only then.
bool FetchManifest(const std::string& address, std::string& body);

}  // namespace holwerk
