// SHGetFolderPathW for the local application-data folder only.
//
// Where it differs from Windows:
// - CSIDL_LOCAL_APPDATA is $XDG_DATA_HOME when that is set to an absolute
//   path, else $HOME/.local/share; any other folder (CSIDL_FLAG_* bits
//   included), a missing or relative HOME, or text that is not valid UTF-8
//   fails with E_FAIL.
// - On Windows that folder always exists. Here it is created (mode 0700 for
//   every missing level, as the XDG rules ask, each made durable by a sync
//   of the folder that holds it) when it is missing; an entry that is not a
//   folder, or a failed sync, fails.
// - The result has no trailing slash; one that does not fit into MAX_PATH
//   units fails with E_FAIL.

#include <cstdlib>
#include <string>

#include "platform/posix/support.h"
#include "platform/posix/win32_api.h"

namespace holwerk::posix {
namespace {

std::string DataHome() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/') return dataHome;
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') return "";
    return std::string(home) + "/.local/share";
}

}  // namespace
}  // namespace holwerk::posix

using namespace holwerk::posix;

HRESULT SHGetFolderPathW(HWND /*owner*/, int folder, HANDLE /*token*/, DWORD /*flags*/,
                         LPWSTR path) {
    if (folder != CSIDL_LOCAL_APPDATA || path == nullptr) return E_FAIL;
    std::string base = DataHome();
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    if (base.empty() || MakeFolders(base, 0700) != 0) return E_FAIL;
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, base.data(),
                                          static_cast<int>(base.size()), path, MAX_PATH - 1);
    if (units == 0) return E_FAIL;
    path[units] = 0;
    return S_OK;
}
