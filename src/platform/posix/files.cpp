// File functions over POSIX descriptors.

#include <unistd.h>

#include <cerrno>

#include "platform/posix/error_map.h"
#include "platform/posix/handles.h"

BOOL WriteFile(HANDLE file, LPCVOID data, DWORD bytes, LPDWORD written, LPOVERLAPPED) {
    if (written != nullptr) *written = 0;
    const int descriptor = DescriptorFromHandle(file);
    if (descriptor < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ssize_t result;
    do {
        result = write(descriptor, data, bytes);
    } while (result < 0 && errno == EINTR);
    if (result < 0) return FailWithErrno(errno);
    if (written != nullptr) *written = static_cast<DWORD>(result);
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    const int descriptor = DescriptorFromHandle(handle);
    if (descriptor < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // The descriptor is gone after close() even when it reports EINTR.
    if (close(descriptor) != 0 && errno != EINTR) return FailWithErrno(errno);
    return TRUE;
}
