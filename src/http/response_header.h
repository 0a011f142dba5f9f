#pragma once

#include <string>

#include "platform/win32.h"

namespace holwerk {

/// One response header, or the whole header block, by client info level;
/// value is "" whenever the result is false.
bool QueryResponseHeader(HINTERNET request, DWORD infoLevel, std::string& value);

}  // namespace holwerk
