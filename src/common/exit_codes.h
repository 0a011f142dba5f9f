#pragma once

#include <cstdint>

namespace holwerk {

// The process's exit codes, one per class of failure. Scripts act on them,
// so their values never change.
constexpr std::int64_t ExitSuccess = 0;
constexpr std::int64_t ExitBadCommandLine = 2;
constexpr std::int64_t ExitNetworkFailure = 3;  // no connection, request or read failed
constexpr std::int64_t ExitHttpError = 4;       // a final status outside 200 to 299
constexpr std::int64_t ExitFileFailure = 5;     // the target or its temporary file
constexpr std::int64_t ExitRedirectFailure = 6;
constexpr std::int64_t ExitUnusableUrl = 7;
constexpr std::int64_t ExitUpdateRequired = 8;

}  // namespace holwerk
