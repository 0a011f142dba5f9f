// The registry below HKEY_CURRENT_USER as a per-user store of typed values.
//
// The store lives in "win32-registry/HKEY_CURRENT_USER" below
// $XDG_CONFIG_HOME (else $HOME/.config). Every key is a folder (mode 0700)
// named after the key in lower case, so keys nest as folders do; a key's
// values are one file ".values" in its folder. Each value keeps its type and
// its bytes exactly. A change rewrites that file through a temporary file,
// fsync and rename, under an flock on the key's folder, so a reader sees
// either the old or the new set of values and two writers lose nothing.
//
// Nothing another process leaves in the store can hang a caller or make a
// key unusable for good: every file is opened without blocking and must be a
// regular file (anything else, a FIFO say, fails the call with
// ERROR_ACCESS_DENIED); a lock held by someone else is waited for at most
// two seconds (then ERROR_SHARING_VIOLATION); temporary names carry the
// process ID, a tick count and an attempt number and are retried when taken,
// so a file left by an earlier process with the same ID is passed over; and
// a values file that is not in the store's format (or is absurdly large)
// reads as a key without values, which the next change replaces whole.
//
// Differences from Windows:
// - Keys are opened and created below HKEY_CURRENT_USER only, and values are
//   read and set through such an opened key only (ERROR_INVALID_HANDLE
//   otherwise). RegCreateKeyExW reports no disposition (a pointer for one
//   fails with ERROR_INVALID_PARAMETER), and RegQueryValueExW reads type and
//   data together only (a null pointer for either, or for the size, fails
//   with ERROR_INVALID_PARAMETER).
// - A key name holds ASCII letters, digits, "-" and "_" only, and no empty
//   component (a leading backslash, two in a row); anything else is refused
//   with ERROR_INVALID_PARAMETER. One trailing backslash is ignored.
// - Letter case is ignored in key and value names for ASCII letters only;
//   other letters in value names compare exactly.
// - Access is checked for KEY_QUERY_VALUE and KEY_SET_VALUE only; there are
//   no security descriptors, volatile keys or key classes.
// - RegSetValueExW stores exactly the bytes it is given. Windows adds a
//   terminator to string data that lacks one when the unit after the given
//   size happens to be NUL (it looks past the caller's count); callers here
//   always count the terminator.
// - A key whose values file is damaged starts afresh (see above) instead of
//   failing every later call.
// - With neither $XDG_CONFIG_HOME nor $HOME set, every key is missing and
//   creating one fails with ERROR_PATH_NOT_FOUND.
// - The functions return their code but, like Windows, leave the thread's
//   last error alone.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/posix/error_map.h"

struct HKEY__ {
    std::string folder;  // the key's folder in the store
    REGSAM access = 0;
};

namespace {

constexpr char StoreName[] = "win32-registry/HKEY_CURRENT_USER";
constexpr char ValuesName[] = ".values";
// Windows limits value data to what fits in memory; a store file this large
// is damaged rather than real.
constexpr off_t MaxValuesFileBytes = 64 * 1024 * 1024;
// How long a change waits for another process's lock on the key, and how
// often it looks again meanwhile.
constexpr DWORD LockWaitMilliseconds = 2000;
constexpr long LockPollMilliseconds = 5;
// Names tried for one temporary values file before the change gives up.
constexpr int MaxTemporaryAttempts = 20;

std::mutex openKeysLock;
std::unordered_set<HKEY> openKeys;

bool IsOpen(HKEY key) {
    std::lock_guard<std::mutex> guard(openKeysLock);
    return openKeys.count(key) != 0;
}

// The folder of the store itself, or "" when the user has no home.
std::string StoreFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    // Relative values are to be ignored, as the XDG rules ask.
    if (config != nullptr && config[0] == '/') return std::string(config) + "/" + StoreName;
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.config/" + StoreName;
    return "";
}

char16_t FoldCase(char16_t unit) { return unit >= u'A' && unit <= u'Z' ? unit + 32 : unit; }

const char HexDigits[] = "0123456789abcdef";

// The folder of a subkey of HKEY_CURRENT_USER, whose folder is `store`:
// each component of the path becomes a folder named after it in lower case.
// Only letters, digits, "-" and "_" are taken, so no name can begin with "."
// or leave the store, and the values file never meets a subkey's folder.
LSTATUS FolderOfSubKey(const std::string& store, LPCWSTR subKey, std::string& folder) {
    folder = store;
    if (subKey == nullptr) return ERROR_SUCCESS;
    std::u16string path(subKey);
    if (!path.empty() && path.back() == u'\\') path.pop_back();
    if (path.empty()) return ERROR_SUCCESS;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find(u'\\', start);
        const std::u16string component = path.substr(start, end - start);
        if (component.empty() || component.size() > 255) return ERROR_INVALID_PARAMETER;
        folder += '/';
        for (char16_t unit : component) {
            unit = FoldCase(unit);
            if (!((unit >= u'a' && unit <= u'z') || (unit >= u'0' && unit <= u'9') ||
                  unit == u'-' || unit == u'_')) {
                return ERROR_INVALID_PARAMETER;
            }
            folder += static_cast<char>(unit);
        }
        if (end == std::u16string::npos) return ERROR_SUCCESS;
        start = end + 1;
    }
}

bool IsFolder(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Creates every missing folder of `path` below "/".
bool MakeFolders(const std::string& path, int& error) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            error = errno;
            return false;
        }
        if (slash == std::string::npos) break;
    }
    if (!IsFolder(path)) {
        error = ENOTDIR;
        return false;
    }
    return true;
}

HKEY NewHandle(const std::string& folder, REGSAM access) {
    HKEY key = new HKEY__{folder, access};
    std::lock_guard<std::mutex> guard(openKeysLock);
    openKeys.insert(key);
    return key;
}

// ------------------------------------------------------------ value files
//
// One line per value: type in decimal, ":", the name's UTF-16 units in hex
// (four digits each), ":", the data bytes in hex, LF.

struct StoredValue {
    DWORD type = REG_NONE;
    std::u16string name;
    std::string data;
};

bool SameName(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    }
    return true;
}

int HexValue(char digit) {
    if (digit >= '0' && digit <= '9') return digit - '0';
    if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
    return -1;
}

bool ParseHex(const std::string& text, std::size_t unitDigits, std::vector<unsigned>& units) {
    units.clear();
    if (text.size() % unitDigits != 0) return false;
    for (std::size_t at = 0; at < text.size(); at += unitDigits) {
        unsigned unit = 0;
        for (std::size_t i = 0; i < unitDigits; ++i) {
            const int digit = HexValue(text[at + i]);
            if (digit < 0) return false;
            unit = unit * 16 + static_cast<unsigned>(digit);
        }
        units.push_back(unit);
    }
    return true;
}

bool ParseValues(const std::string& text, std::vector<StoredValue>& values) {
    values.clear();
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) return false;
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t first = line.find(':');
        const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos || first == 0 || first > 10) return false;
        StoredValue value;
        for (std::size_t i = 0; i < first; ++i) {
            if (line[i] < '0' || line[i] > '9') return false;
            value.type = value.type * 10 + static_cast<DWORD>(line[i] - '0');
        }
        std::vector<unsigned> units;
        if (!ParseHex(line.substr(first + 1, second - first - 1), 4, units)) return false;
        for (unsigned unit : units) value.name += static_cast<char16_t>(unit);
        if (!ParseHex(line.substr(second + 1), 2, units)) return false;
        for (unsigned byte : units) value.data += static_cast<char>(byte);
        values.push_back(std::move(value));
    }
    return true;
}

std::string FormatValues(const std::vector<StoredValue>& values) {
    std::string text;
    for (const StoredValue& value : values) {
        text += std::to_string(value.type) + ":";
        for (char16_t unit : value.name) {
            for (int shift = 12; shift >= 0; shift -= 4) text += HexDigits[(unit >> shift) & 0xF];
        }
        text += ':';
        for (const char raw : value.data) {
            const auto byte = static_cast<unsigned char>(raw);
            text += HexDigits[byte >> 4];
            text += HexDigits[byte & 0xF];
        }
        text += '\n';
    }
    return text;
}

// Reads the values of the key in `folder`; a key without a values file has
// none, and so has one whose file is not in the store's format. A missing
// folder means the key was never made (or is gone).
LSTATUS ReadValues(const std::string& folder, std::vector<StoredValue>& values) {
    values.clear();
    if (!IsFolder(folder)) return ERROR_FILE_NOT_FOUND;
    const std::string path = folder + "/" + ValuesName;
    // Without O_NONBLOCK a FIFO under this name would wait for a writer.
    int descriptor;
    do {
        descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0)
        return errno == ENOENT ? LSTATUS{ERROR_SUCCESS} : Win32StatusFromErrno(errno);
    struct stat info;
    if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(descriptor);
        return ERROR_ACCESS_DENIED;
    }
    std::string text;
    bool usable = info.st_size <= MaxValuesFileBytes;
    LSTATUS status = ERROR_SUCCESS;
    char buffer[8192];
    while (usable) {
        const ssize_t got = read(descriptor, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            status = Win32StatusFromErrno(errno);
            break;
        }
        if (got == 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
        usable = static_cast<off_t>(text.size()) <= MaxValuesFileBytes;
    }
    close(descriptor);
    if (status == ERROR_SUCCESS && !(usable && ParseValues(text, values))) values.clear();
    return status;
}

bool WriteAll(int descriptor, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = write(descriptor, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote == 0) errno = EIO;
        if (wrote <= 0) return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

std::string UpperHex(unsigned value) {
    std::string text;
    do {
        text.insert(text.begin(), "0123456789ABCDEF"[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return text;
}

// Creates a new temporary file beside `target`, under a name no other
// process uses now: a taken name (a file left by an earlier process with the
// same ID, say) is passed over with a fresh tick count and the next attempt.
int CreateTemporary(const std::string& target, std::string& temporary, int& error) {
    const std::string prefix = target + ".tmp-" + UpperHex(static_cast<unsigned>(getpid())) + "-";
    for (int attempt = 1;; ++attempt) {
        temporary = prefix + UpperHex(GetTickCount()) + "-" + std::to_string(attempt);
        const int descriptor =
            open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600);
        if (descriptor >= 0) return descriptor;
        if ((errno != EEXIST && errno != EINTR) || attempt == MaxTemporaryAttempts) {
            error = errno;
            return -1;
        }
    }
}

// Replaces the values file of `folder` whole: temporary file, fsync,
// rename, fsync of the folder.
LSTATUS ReplaceValues(const std::string& folder, const std::vector<StoredValue>& values) {
    const std::string target = folder + "/" + ValuesName;
    std::string temporary;
    int error = 0;
    const int descriptor = CreateTemporary(target, temporary, error);
    if (descriptor < 0) return Win32StatusFromErrno(error);
    if (!WriteAll(descriptor, FormatValues(values))) error = errno;
    if (error == 0 && fsync(descriptor) != 0) error = errno;
    if (close(descriptor) != 0 && error == 0 && errno != EINTR) error = errno;
    if (error == 0 && rename(temporary.c_str(), target.c_str()) != 0) error = errno;
    if (error != 0) {
        unlink(temporary.c_str());
        return Win32StatusFromErrno(error);
    }
    const int folderDescriptor =
        open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (folderDescriptor >= 0) {
        fsync(folderDescriptor);
        close(folderDescriptor);
    }
    return ERROR_SUCCESS;
}

// Takes the exclusive lock on a key's folder, waiting a bounded time for
// another holder: a process that stopped while holding it (or one that
// keeps it on purpose) must not hold up the program.
LSTATUS LockKey(int folderDescriptor) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (flock(folderDescriptor, LOCK_EX | LOCK_NB) == 0) return ERROR_SUCCESS;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) return Win32StatusFromErrno(errno);
        if (GetTickCount() - start >= LockWaitMilliseconds) return ERROR_SHARING_VIOLATION;
        const struct timespec pause = {0, LockPollMilliseconds * 1000000};
        nanosleep(&pause, nullptr);
    }
}

// Runs a read-modify-write of one key's values under an exclusive lock on
// its folder, so that concurrent writers of other values lose nothing.
template <typename Change>
LSTATUS ChangeValues(const std::string& folder, Change change) {
    const int lock = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (lock < 0)
        return errno == ENOENT ? LSTATUS{ERROR_FILE_NOT_FOUND} : Win32StatusFromErrno(errno);
    LSTATUS status = LockKey(lock);
    std::vector<StoredValue> values;
    if (status == ERROR_SUCCESS) status = ReadValues(folder, values);
    if (status == ERROR_SUCCESS) status = change(values);
    if (status == ERROR_SUCCESS) status = ReplaceValues(folder, values);
    close(lock);  // also releases the lock
    return status;
}

}  // namespace

LSTATUS RegOpenKeyExW(HKEY parent, LPCWSTR subKey, DWORD, REGSAM access, PHKEY result) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (parent != HKEY_CURRENT_USER) return ERROR_INVALID_HANDLE;
    const std::string store = StoreFolder();
    std::string folder;
    const LSTATUS named = FolderOfSubKey(store, subKey, folder);
    if (named != ERROR_SUCCESS) return named;
    if (store.empty() || !IsFolder(folder)) return ERROR_FILE_NOT_FOUND;
    *result = NewHandle(folder, access);
    return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyExW(HKEY parent, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM access,
                        LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
    if (result == nullptr || disposition != nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (parent != HKEY_CURRENT_USER) return ERROR_INVALID_HANDLE;
    const std::string store = StoreFolder();
    std::string folder;
    const LSTATUS named = FolderOfSubKey(store, subKey, folder);
    if (named != ERROR_SUCCESS) return named;
    if (store.empty()) return ERROR_PATH_NOT_FOUND;
    int error = 0;
    // On Windows HKEY_CURRENT_USER always exists; here its folder is made
    // on first use, together with any missing parent keys.
    if (!IsFolder(folder) && !MakeFolders(folder, error)) return Win32StatusFromErrno(error);
    *result = NewHandle(folder, access);
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataBytes) {
    if (reserved != nullptr || type == nullptr || data == nullptr || dataBytes == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!IsOpen(key)) return ERROR_INVALID_HANDLE;
    if ((key->access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
    std::vector<StoredValue> values;
    const LSTATUS status = ReadValues(key->folder, values);
    if (status != ERROR_SUCCESS) return status;
    const std::u16string name = valueName != nullptr ? valueName : u"";
    for (const StoredValue& value : values) {
        if (!SameName(value.name, name)) continue;
        *type = value.type;
        const DWORD capacity = *dataBytes;
        *dataBytes = static_cast<DWORD>(value.data.size());
        if (capacity < value.data.size()) return ERROR_MORE_DATA;
        if (!value.data.empty()) std::memcpy(data, value.data.data(), value.data.size());
        return ERROR_SUCCESS;
    }
    return ERROR_FILE_NOT_FOUND;
}

LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data,
                       DWORD dataBytes) {
    if (data == nullptr && dataBytes != 0) return ERROR_INVALID_PARAMETER;
    if (!IsOpen(key)) return ERROR_INVALID_HANDLE;
    if ((key->access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
    StoredValue stored;
    stored.type = type;
    stored.name = valueName != nullptr ? valueName : u"";
    if (stored.name.size() > 16383) return ERROR_INVALID_PARAMETER;
    if (dataBytes != 0) stored.data.assign(reinterpret_cast<const char*>(data), dataBytes);
    return ChangeValues(key->folder, [&stored](std::vector<StoredValue>& values) -> LSTATUS {
        for (StoredValue& value : values) {
            if (SameName(value.name, stored.name)) {
                // Windows keeps the letter case the value was created with.
                value.type = stored.type;
                value.data = stored.data;
                return ERROR_SUCCESS;
            }
        }
        values.push_back(stored);
        return ERROR_SUCCESS;
    });
}

LSTATUS RegCloseKey(HKEY key) {
    {
        std::lock_guard<std::mutex> guard(openKeysLock);
        if (openKeys.erase(key) == 0) return ERROR_INVALID_HANDLE;
    }
    delete key;
    return ERROR_SUCCESS;
}
