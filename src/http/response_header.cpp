#include "http/response_header.h"

#include <vector>

namespace holwerk {

bool QueryResponseHeader(HINTERNET request, DWORD infoLevel, std::string& value, DWORD occurrence) {
    value.clear();
    // The first call only asks how large the value is; its result says
    // nothing more than the size does.
    DWORD size = 0;
    DWORD index = occurrence;
    HttpQueryInfoA(request, infoLevel, nullptr, &size, &index);
    if (size == 0) return false;

    std::vector<char> buffer(static_cast<std::size_t>(size) + 1, '\0');
    DWORD length = size + 1;
    index = occurrence;
    if (!HttpQueryInfoA(request, infoLevel, buffer.data(), &length, &index)) {
        value.clear();
        return false;
    }
    if (length > buffer.size()) length = static_cast<DWORD>(buffer.size());
    value.assign(buffer.data(), length);
    const std::size_t zero = value.find('\0');
    if (zero != std::string::npos) value.erase(zero);
    return true;
}

bool QueryHeaderLines(HINTERNET request, DWORD infoLevel, std::vector<std::string>& values) {
    values.clear();
    for (DWORD occurrence = 0;; ++occurrence) {
        std::string value;
        if (!QueryResponseHeader(request, infoLevel, value, occurrence)) {
            return GetLastError() == ERROR_HTTP_HEADER_NOT_FOUND;
        }
        values.push_back(value);
    }
}

}  // namespace holwerk
