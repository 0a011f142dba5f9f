#pragma once

#include "common/records.h"

namespace holwerk {

/// Downloads options.url into options.outputPath through a temporary file,
/// following redirects itself. True exactly when the target was committed;
/// result says what happened either way.
bool DownloadToFile(const DownloadOptions& options, DownloadResult& result);

}  // namespace holwerk
