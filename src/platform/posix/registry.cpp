// The registry below HKEY_CURRENT_USER as a per-user store of typed values,
// as much of it as the program uses: a key is opened or created, and one
// value is read or set through it.
//
// The store lives in "win32-registry/HKEY_CURRENT_USER" below
// $XDG_CONFIG_HOME (else $HOME/.config). A key is a folder (mode 0700)
// named after the key in lower case, its components nesting as folders do,
// so creating a key creates its missing parents. A value is one file in its
// key's folder, named after the value in lower case with ".value" appended
// (a name no key folder can have, so that a value and a subkey may share a
// name, as on Windows): its type in decimal, a line feed, then the data
// bytes exactly. Setting a value writes a new file
// under a unique temporary name, syncs it and renames it over the old one,
// so a reader sees the old value or the new one, never a mix, and no lock is
// needed: of two writers at once the later rename wins, as the later call
// does on Windows.
//
// Nothing another process leaves in the store can hang a caller: a value
// file is opened without blocking, anything there that is not a regular
// file in the store's format (a FIFO, a device, damaged or foreign bytes, a
// file beyond 64 MiB, a folder) reads as a missing value, and a set renames
// its new file over whatever is there without opening it (a symbolic link
// is replaced, not followed). An entry that is in the way of a set, a folder
// where the value file belongs or anything but a folder where a key's folder
// belongs, is moved aside under a unique ".displaced-" name, so nothing
// planted in the store disables it for good. Temporary names carry the process ID, a tick
// count and an attempt number and are retried when taken, so a file left by
// an earlier process with the same ID is passed over.
//
// Differences from Windows:
// - Only subkeys of HKEY_CURRENT_USER are opened and created
//   (ERROR_INVALID_HANDLE for another parent). A key name holds ASCII
//   letters, digits, "-" and "_" in components that single backslashes
//   separate; a value name holds ASCII letters, digits, "-", "_", "{" and
//   "}" (so there is no unnamed default value). Anything else is refused
//   with ERROR_INVALID_PARAMETER, so no name can leave the store or take
//   the form of a temporary name. Letter case is ignored for ASCII letters.
// - Access rights are not checked. A handle is one that RegOpenKeyExW or
//   RegCreateKeyExW gave, closed once.
// - RegCreateKeyExW reports no disposition (a pointer for one fails with
//   ERROR_INVALID_PARAMETER), and RegQueryValueExW reads type and data
//   together only (a null pointer for either, or for the size, fails with
//   ERROR_INVALID_PARAMETER).
// - RegSetValueExW stores exactly the bytes it is given. Windows adds a
//   terminator to string data that lacks one when the unit after the given
//   size happens to be NUL (it looks past the caller's count); callers here
//   always count the terminator.
// - With neither $XDG_CONFIG_HOME nor $HOME set, every key is missing and
//   creating one fails with ERROR_PATH_NOT_FOUND.
// - The functions return their code but, like Windows, leave the thread's
//   last error alone.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/error_map.h"
#include "platform/posix/support.h"

struct HKEY__ {
    std::string folder;  // the key's folder in the store
};

namespace holwerk::posix {
namespace {

constexpr char StoreName[] = "win32-registry/HKEY_CURRENT_USER";
// Windows limits value data to what fits in memory; a value file this large
// is damaged rather than real.
constexpr off_t MaxValueFileBytes = 64 * 1024 * 1024;
// Names tried for one temporary value file before the set gives up, as many
// as the program tries for its own temporary names.
constexpr int MaxTemporaryAttempts = 20;

// The folder of the store itself, or "" when the user has no home.
std::string StoreFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    // Relative values are to be ignored, as the XDG rules ask.
    if (config != nullptr && config[0] == '/') return std::string(config) + "/" + StoreName;
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.config/" + StoreName;
    return "";
}

// The store's file name for a value name, or (with `keyPath`) its relative
// folder for a key name, whose backslashes become slashes. False for an
// empty name or component and for any unit but those the store takes, so
// no name is "." or "..", holds a "/" or meets a temporary name.
bool NameInStore(LPCWSTR name, bool keyPath, std::string& text) {
    text.clear();
    if (name == nullptr) return false;
    const std::string punctuation = keyPath ? "-_" : "-_{}";
    for (; *name != 0; ++name) {
        const char16_t unit = *name;
        if (keyPath && unit == u'\\') {
            if (text.empty() || text.back() == '/') return false;
            text += '/';
            continue;
        }
        const char c = unit < 0x80 ? LowerAscii(static_cast<char>(unit)) : '\0';
        if ((c < 'a' || c > 'z') && (c < '0' || c > '9') &&
            (c == '\0' || punctuation.find(c) == std::string::npos)) {
            return false;
        }
        text += c;
    }
    return !text.empty() && text.back() != '/';
}

// The store's folder and a subkey's path below it; the store is "" when the
// user has none.
LSTATUS KeyPath(HKEY parent, LPCWSTR subKey, std::string& store, std::string& path) {
    if (parent != HKEY_CURRENT_USER) return ERROR_INVALID_HANDLE;
    if (!NameInStore(subKey, true, path)) return ERROR_INVALID_PARAMETER;
    store = StoreFolder();
    return ERROR_SUCCESS;
}

std::string ValueFile(const std::string& keyFolder, const std::string& name) {
    return keyFolder + "/" + name + ".value";
}

bool IsKey(HKEY key) { return key != nullptr && key != HKEY_CURRENT_USER; }

// Moves an entry that is in the store's way aside, to a new unique name of
// the same kind beside it (a rename onto an empty folder or a file replaces
// it), so that nothing is lost and its name is free. 0, or the errno.
int Displace(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return errno == ENOENT ? 0 : errno;
    const bool folder = S_ISDIR(info.st_mode);
    std::string aside = path + ".displaced-XXXXXX";
    int placeholder = -1;
    if (folder ? mkdtemp(aside.data()) == nullptr
               : (placeholder = mkostemp(aside.data(), O_CLOEXEC)) < 0) {
        return errno;
    }
    if (placeholder >= 0) close(placeholder);
    if (rename(path.c_str(), aside.c_str()) != 0) {
        const int error = errno;
        folder ? rmdir(aside.c_str()) : unlink(aside.c_str());
        return error;
    }
    return 0;
}

// A value file's text: its type in decimal, a line feed, then the data.
bool ParseValue(const std::string& text, DWORD& type, std::string& data) {
    const std::size_t lineEnd = text.find('\n');
    if (lineEnd == std::string::npos) return false;
    const char* end = text.data() + lineEnd;
    const auto [stop, error] = std::from_chars(text.data(), end, type);
    if (error != std::errc() || stop != end) return false;
    data = text.substr(lineEnd + 1);
    return true;
}

// Reads the value file at `path`. A FIFO or device there cannot make the
// call wait (the open does not block) and, like a file that is not in the
// store's format, reads as a missing value.
LSTATUS ReadValue(const std::string& path, DWORD& type, std::string& data) {
    const int descriptor = RetryAfterSignal(
        [&] { return open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK); });
    if (descriptor < 0) return Win32StatusFromErrno(errno);
    std::string text;
    struct stat info;
    bool usable =
        fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= MaxValueFileBytes;
    LSTATUS status = ERROR_SUCCESS;
    char buffer[8192];
    while (usable) {
        const ssize_t got =
            RetryAfterSignal([&] { return read(descriptor, buffer, sizeof buffer); });
        if (got < 0) {
            status = Win32StatusFromErrno(errno);
            break;
        }
        if (got == 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
        usable = static_cast<off_t>(text.size()) <= MaxValueFileBytes;
    }
    close(descriptor);
    if (status != ERROR_SUCCESS) return status;
    return usable && ParseValue(text, type, data) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

bool WriteAll(int descriptor, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = RetryAfterSignal(
            [&] { return write(descriptor, text.data() + done, text.size() - done); });
        if (wrote == 0) errno = EIO;
        if (wrote <= 0) return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

// Creates a new temporary file beside `target`, under a name no other
// process uses now: a taken name (a file left by an earlier process with the
// same ID, say) is passed over with a fresh tick count and the next attempt,
// as the program does with its own temporary names.
int CreateTemporary(const std::string& target, std::string& temporary, int& error) {
    const std::string prefix =
        target + ".tmp-" + UpperHex(static_cast<std::uint32_t>(getpid())) + "-";
    for (int attempt = 1;; ++attempt) {
        temporary = prefix + UpperHex(GetTickCount()) + "-" + std::to_string(attempt);
        const int descriptor = RetryAfterSignal([&] {
            return open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                        0600);
        });
        if (descriptor >= 0) return descriptor;
        if (errno != EEXIST || attempt == MaxTemporaryAttempts) {
            error = errno;
            return -1;
        }
    }
}

// Replaces the file `target` in `folder` whole: temporary file, fsync,
// rename, fsync of the folder. The program takes a value for stored once the
// set succeeds (the installation ID is written to its file only then), so a
// folder sync that fails fails the set, although the value is renamed into
// place by then.
LSTATUS ReplaceFile(const std::string& folder, const std::string& target, const std::string& text) {
    std::string temporary;
    int error = 0;
    const int descriptor = CreateTemporary(target, temporary, error);
    if (descriptor < 0) return Win32StatusFromErrno(error);
    if (!WriteAll(descriptor, text)) error = errno;
    if (error == 0 && RetryAfterSignal([&] { return fsync(descriptor); }) != 0) error = errno;
    if (close(descriptor) != 0 && error == 0 && errno != EINTR) error = errno;
    // A rename replaces anything but a folder.
    struct stat info;
    if (error == 0 && lstat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        error = Displace(target);
    }
    if (error == 0 && rename(temporary.c_str(), target.c_str()) != 0) error = errno;
    if (error != 0) {
        unlink(temporary.c_str());
        return Win32StatusFromErrno(error);
    }
    error = SyncFolder(folder);
    return error == 0 ? LSTATUS{ERROR_SUCCESS} : Win32StatusFromErrno(error);
}

}  // namespace
}  // namespace holwerk::posix

using namespace holwerk::posix;

LSTATUS RegOpenKeyExW(HKEY parent, LPCWSTR subKey, DWORD, REGSAM, PHKEY result) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::string store, path;
    const LSTATUS status = KeyPath(parent, subKey, store, path);
    if (status != ERROR_SUCCESS) return status;
    const std::string folder = store + "/" + path;
    if (store.empty() || !IsFolder(folder)) return ERROR_FILE_NOT_FOUND;
    *result = new HKEY__{folder};
    return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyExW(HKEY parent, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM,
                        LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
    if (result == nullptr || disposition != nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::string store, path;
    const LSTATUS status = KeyPath(parent, subKey, store, path);
    if (status != ERROR_SUCCESS) return status;
    if (store.empty()) return ERROR_PATH_NOT_FOUND;
    const std::string folder = store + "/" + path;
    // On Windows HKEY_CURRENT_USER always exists; here its folder is made
    // on first use, together with any missing parent keys. Below the store's
    // own folder every level is the store's, and anything but a folder where
    // a key belongs is moved aside.
    const int error =
        IsFolder(folder) ? 0 : MakeFolders(folder, 0700, [&](const std::string& level) {
            return level.size() > store.size() ? Displace(level) : ENOTDIR;
        });
    if (error != 0) return Win32StatusFromErrno(error);
    *result = new HKEY__{folder};
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataBytes) {
    if (!IsKey(key)) return ERROR_INVALID_HANDLE;
    std::string name;
    if (reserved != nullptr || type == nullptr || data == nullptr || dataBytes == nullptr ||
        !NameInStore(valueName, false, name)) {
        return ERROR_INVALID_PARAMETER;
    }
    DWORD storedType = REG_NONE;
    std::string stored;
    const LSTATUS status = ReadValue(ValueFile(key->folder, name), storedType, stored);
    if (status != ERROR_SUCCESS) return status;
    *type = storedType;
    const DWORD capacity = *dataBytes;
    *dataBytes = static_cast<DWORD>(stored.size());
    if (capacity < stored.size()) return ERROR_MORE_DATA;
    if (!stored.empty()) std::memcpy(data, stored.data(), stored.size());
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data,
                       DWORD dataBytes) {
    if (!IsKey(key)) return ERROR_INVALID_HANDLE;
    std::string name;
    if ((data == nullptr && dataBytes != 0) || !NameInStore(valueName, false, name)) {
        return ERROR_INVALID_PARAMETER;
    }
    std::string text = std::to_string(type) + "\n";
    if (dataBytes != 0) text.append(reinterpret_cast<const char*>(data), dataBytes);
    return ReplaceFile(key->folder, ValueFile(key->folder, name), text);
}

LSTATUS RegCloseKey(HKEY key) {
    if (!IsKey(key)) return ERROR_INVALID_HANDLE;
    delete key;
    return ERROR_SUCCESS;
}
