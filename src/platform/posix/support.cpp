#include "platform/posix/support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace holwerk::posix {

std::string ParentFolder(const std::string& path) {
    std::size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') --end;
    const std::size_t slash = path.rfind('/', end - 1);
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool IsFolder(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

int SyncFolder(const std::string& folder) {
    const int descriptor =
        RetryAfterSignal([&] { return open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (descriptor < 0) return 0;
    int error = RetryAfterSignal([&] { return fsync(descriptor); }) == 0 ? 0 : errno;
    close(descriptor);
    // Some file systems cannot sync a folder at all.
    if (error == EINVAL) error = 0;
    return error;
}

int MakeFolder(const std::string& path, mode_t mode) {
    if (mkdir(path.c_str(), mode) != 0) return errno;
    return SyncFolder(ParentFolder(path));
}

int MakeFolders(const std::string& path, mode_t mode,
                const std::function<int(const std::string&)>& clearWay) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string level = path.substr(0, slash);
        int error = MakeFolder(level, mode);
        if (error == EEXIST && !IsFolder(level)) {
            error = clearWay ? clearWay(level) : ENOTDIR;
            if (error == 0) error = MakeFolder(level, mode);
        }
        if (error != 0 && error != EEXIST) return error;
        if (slash == std::string::npos) return 0;
    }
}

std::string UpperHex(std::uint32_t value) {
    std::string text;
    do {
        text.insert(text.begin(), HexDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return text;
}

bool EqualsIgnoringCase(std::string_view left, std::string_view right) {
    if (left.size() != right.size()) return false;
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (LowerAscii(left[i]) != LowerAscii(right[i])) return false;
    }
    return true;
}

}  // namespace holwerk::posix
