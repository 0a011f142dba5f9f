#pragma once

#include <cstdint>
#include <string>

namespace holwerk {

/// The parsed command line; read by the download and the run sequence.
struct DownloadOptions {
    std::string url;
    std::string outputPath;
    std::string method;
    std::int64_t timeoutSeconds = 0;
    std::int64_t maxRedirects = 0;
    bool force = false;
    bool quiet = false;
};

/// The outcome of one download, filled by DownloadToFile.
struct DownloadResult {
    std::int64_t httpStatus = 0;
    std::int64_t redirectCount = 0;
    std::uint64_t byteCount = 0;
    std::string finalUrl;
    std::int64_t exitCode = 0;
    std::string errorMessage;
};

}  // namespace holwerk
