#include "http/download.h"

namespace holwerk {

bool DownloadToFile(const DownloadOptions& options, DownloadResult& result) {
    result = DownloadResult{};
    result.finalUrl = options.url;
    result.exitCode = 3;
    result.errorMessage = "Das Herunterladen ist in diesem Build nicht verfügbar.";
    return false;
}

}  // namespace holwerk
