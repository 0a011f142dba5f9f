// GetFileAttributesW until the file family of this layer provides it: a weak
// definition, so the file family's own one replaces it without a clash. This
// source goes away once that definition is in. Where it differs from Windows:
// only the directory attribute is reported; everything else is "normal".

#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "platform/posix/error_map.h"
#include "platform/posix/win32_api.h"

__attribute__((weak)) DWORD GetFileAttributesW(LPCWSTR path) {
    if (path == nullptr || path[0] == 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, path, -1, nullptr, 0, nullptr, nullptr);
    std::string name(static_cast<std::size_t>(bytes > 0 ? bytes : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, path, -1, name.data(), bytes, nullptr, nullptr);
    struct stat status {};
    if (stat(name.c_str(), &status) != 0) {
        FailWithErrno(errno);
        return INVALID_FILE_ATTRIBUTES;
    }
    return S_ISDIR(status.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}
