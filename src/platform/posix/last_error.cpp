#include "platform/posix/win32_api.h"

namespace holwerk::posix {
namespace {
// Per thread, as on Windows; the program has one thread, the tests may not.
thread_local DWORD lastError = ERROR_SUCCESS;
}  // namespace
}  // namespace holwerk::posix

using namespace holwerk::posix;

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD code) { lastError = code; }
