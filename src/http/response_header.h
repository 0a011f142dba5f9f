#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace holwerk {

/// One response header, or the whole header block, by client info level;
/// `occurrence` picks among header lines of the same name (0 is the first).
/// value is "" whenever the result is false, and the last error is then the
/// client's own (12150 for a header that is not there).
bool QueryResponseHeader(HINTERNET request, DWORD infoLevel, std::string& value,
                         DWORD occurrence = 0);

/// Every line of one response header, in order of arrival; false when the
/// client fails otherwise than by reporting that there is no further line.
bool QueryHeaderLines(HINTERNET request, DWORD infoLevel, std::vector<std::string>& values);

}  // namespace holwerk
