#pragma once

#include <string>

#include "platform/win32.h"

namespace holwerk {

/// One response header, or the whole header block, by client info level;
/// `occurrence` picks among header lines of the same name (0 is the first).
/// value is "" whenever the result is false, and the last error is then the
/// client's own (12150 for a header that is not there).
bool QueryResponseHeader(HINTERNET request, DWORD infoLevel, std::string& value,
                         DWORD occurrence = 0);

}  // namespace holwerk
