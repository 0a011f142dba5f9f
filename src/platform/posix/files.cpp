// File functions over POSIX descriptors and paths.
//
// Paths are the UTF-8 bytes of the UTF-16 text; a path with an unpaired
// surrogate is refused with ERROR_INVALID_NAME instead of being turned into
// some other name. Where these functions differ from Windows:
// - Share modes are not enforced: another process may open a file this one
//   holds without sharing. CREATE_NEW (O_CREAT|O_EXCL) still guarantees that
//   no two callers create the same file.
// - Only CREATE_NEW and OPEN_EXISTING are known; security attributes,
//   templates and attribute flags are ignored. New files get mode 0666 and new
//   folders 0777, both reduced by the umask.
// - A missing entry reports ERROR_FILE_NOT_FOUND and a missing folder on the
//   way to it ERROR_PATH_NOT_FOUND, as on Windows; the layer tells the two
//   apart by looking at the parent folder after the call has failed.
// - ReadFile keeps reading until the count or the end of the file.
// - GetFileSize needs the high part (ERROR_INVALID_PARAMETER without it):
//   alone, the low 32 bits would pass a file of 4 GiB as a small one.
// - A file created with CREATE_NEW is remembered by the name it was created
//   under, with the folder it was created in (held open) and its device and
//   inode. A move or deletion of that name works through that folder, so a
//   file whose folder was renamed meanwhile is still found, and first
//   confirms that the name still names that file: a file another process
//   put in its place, or removed, is neither moved nor deleted
//   (ERROR_ACCESS_DENIED; a deletion of a removed file reports
//   ERROR_FILE_NOT_FOUND). Windows' own functions check neither.
// - MoveFileExW with MOVEFILE_REPLACE_EXISTING replaces a file or a symbolic
//   link, also one whose write permission is off (Windows refuses a
//   read-only target); a folder, FIFO, device or socket there is refused
//   with ERROR_ACCESS_DENIED and stays, so nothing is ever written through
//   such an entry. Without the flag the target is refused atomically
//   (renameat2 with RENAME_NOREPLACE, or link and unlink where the file system
//   lacks that). MOVEFILE_WRITE_THROUGH also syncs the target's folder; a
//   folder that cannot be opened for reading or a file system that cannot
//   sync folders is passed over. A sync that fails fails the call, although
//   the file has been renamed by then: a power cut could still undo the
//   rename, so the caller must not take it for done (the download reports
//   its commit as failed, and its clean-up finds the temporary name gone).
// - CreateDirectoryW syncs the folder that holds the new folder, as NTFS
//   journals a creation, so that a folder made on a first run outlives a
//   power cut with what is written into it later. A sync that fails fails
//   the call, although the folder exists by then.
// - Opening a FIFO for reading does not wait for a writer.
// - GetFileAttributesW tells only whether an entry exists: every entry is
//   FILE_ATTRIBUTE_NORMAL, folders and read-only files included. Like
//   Windows it looks at a final symbolic link itself, not at what it points
//   to, so a link that leads nowhere is still an entry.
// - GetTickCount is CLOCK_MONOTONIC, which stops while the machine sleeps.

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/created_files.h"
#include "platform/posix/error_map.h"
#include "platform/posix/handles.h"
#include "platform/posix/support.h"
#include "platform/posix/utf16.h"

namespace holwerk::posix {
namespace {

// The descriptor behind an open handle; -1, with ERROR_INVALID_HANDLE as the
// last error, for null and INVALID_HANDLE_VALUE.
int OpenDescriptor(HANDLE handle) {
    const int descriptor = DescriptorFromHandle(handle);
    if (descriptor < 0) SetLastError(ERROR_INVALID_HANDLE);
    return descriptor;
}

// Strict UTF-16 to UTF-8: an unpaired surrogate fails, so that the layer
// never acts on a name other than the one it was given.
bool NarrowPath(LPCWSTR path, std::string& narrow) {
    narrow.clear();
    if (path == nullptr) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    if (!EncodeUtf8(path, std::char_traits<WCHAR>::length(path), true, narrow)) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    // Windows finds no entry for an empty name and reports the path as missing.
    if (narrow.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    return true;
}

// POSIX says ENOENT both for a missing entry and for a missing folder on the
// way to it; Windows tells the two apart, and so does the program's message.
DWORD ErrorForMissing(const std::string& path) {
    return IsFolder(ParentFolder(path)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

// EBADF for an open descriptor means it is not open for that direction,
// which Windows reports as a denied access.
BOOL FailForDescriptor(int error, int descriptor) {
    if (error == EBADF && fcntl(descriptor, F_GETFL) != -1) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return FailWithErrno(error);
}

BOOL FailForPath(int error, const std::string& path) {
    SetLastError(error == ENOENT ? ErrorForMissing(path) : Win32ErrorFromErrno(error));
    return FALSE;
}

HANDLE FailToOpen(int error, const std::string& path) {
    FailForPath(error, path);
    return INVALID_HANDLE_VALUE;
}

// Renames without ever replacing `to`; EEXIST when it exists, EINVAL or
// ENOSYS when the file system offers no such rename.
int RenameNoReplace(int fromFolder, const char* from, const std::string& to) {
#ifdef RENAME_NOREPLACE
    return renameat2(fromFolder, from, AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
#else
    errno = ENOSYS;
    return -1;
#endif
}

// Only a file or a symbolic link is replaced by a rename: a FIFO or device
// would be replaced by a regular file (/dev/null, for a process that may),
// and Windows refuses to replace a folder.
bool IsReplaceable(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) != 0 || S_ISREG(status.st_mode) || S_ISLNK(status.st_mode);
}

}  // namespace
}  // namespace holwerk::posix

using namespace holwerk::posix;

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD /*shareMode*/,
                   LPSECURITY_ATTRIBUTES /*security*/, DWORD disposition, DWORD /*attributes*/,
                   HANDLE /*templateFile*/) {
    std::string name;
    if (!NarrowPath(path, name)) return INVALID_HANDLE_VALUE;
    // O_NONBLOCK only for the open itself: a FIFO planted under a file's name
    // would otherwise wait for a writer for ever.
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    const bool reading = (access & GENERIC_READ) != 0;
    const bool writing = (access & GENERIC_WRITE) != 0;
    flags |= reading && writing ? O_RDWR : writing ? O_WRONLY : O_RDONLY;
    if (disposition == CREATE_NEW) {
        flags |= O_CREAT | O_EXCL;
    } else if (disposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const int descriptor = RetryAfterSignal([&] { return open(name.c_str(), flags, 0666); });
    if (descriptor < 0) {
        // A taken name, file or folder, is ERROR_FILE_EXISTS here, as
        // Windows reports it for CREATE_NEW.
        if (errno == EEXIST) {
            SetLastError(ERROR_FILE_EXISTS);
            return INVALID_HANDLE_VALUE;
        }
        return FailToOpen(errno, name);
    }
    // open() gives a descriptor for a folder; Windows refuses to open one as a
    // file without backup semantics.
    struct stat status;
    if (fstat(descriptor, &status) != 0 || S_ISDIR(status.st_mode)) {
        close(descriptor);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (disposition == CREATE_NEW) {
        const int error = RememberCreatedFile(name, status);
        if (error != 0) {
            close(descriptor);
            unlink(name.c_str());
            return FailToOpen(error, name);
        }
    }
    fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    return HandleFromDescriptor(descriptor);
}

BOOL WriteFile(HANDLE file, LPCVOID data, DWORD bytes, LPDWORD written, LPOVERLAPPED) {
    if (written != nullptr) *written = 0;
    const int descriptor = OpenDescriptor(file);
    if (descriptor < 0) return FALSE;
    const ssize_t result = RetryAfterSignal([&] { return write(descriptor, data, bytes); });
    if (result < 0) return FailForDescriptor(errno, descriptor);
    if (written != nullptr) *written = static_cast<DWORD>(result);
    return TRUE;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD read, LPOVERLAPPED) {
    if (read != nullptr) *read = 0;
    const int descriptor = OpenDescriptor(file);
    if (descriptor < 0) return FALSE;
    // A synchronous ReadFile on a file delivers the whole count unless the end
    // of the file comes first.
    DWORD total = 0;
    while (total < bytes) {
        const ssize_t result = RetryAfterSignal(
            [&] { return ::read(descriptor, static_cast<char*>(buffer) + total, bytes - total); });
        if (result < 0) return FailForDescriptor(errno, descriptor);
        if (result == 0) break;
        total += static_cast<DWORD>(result);
        if (read != nullptr) *read = total;
    }
    return TRUE;
}

DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) {
    if (sizeHigh == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_SIZE;
    }
    const int descriptor = OpenDescriptor(file);
    if (descriptor < 0) return INVALID_FILE_SIZE;
    struct stat status;
    if (fstat(descriptor, &status) != 0) {
        FailWithErrno(errno);
        return INVALID_FILE_SIZE;
    }
    const auto size = static_cast<std::uint64_t>(status.st_size);
    *sizeHigh = static_cast<DWORD>(size >> 32);
    // A size whose low part looks like the failure value is told apart by the
    // last error, as on Windows.
    if (static_cast<DWORD>(size) == INVALID_FILE_SIZE) SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

BOOL FlushFileBuffers(HANDLE file) {
    const int descriptor = OpenDescriptor(file);
    if (descriptor < 0) return FALSE;
    if (RetryAfterSignal([&] { return fsync(descriptor); }) != 0) return FailWithErrno(errno);
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    const int descriptor = OpenDescriptor(handle);
    if (descriptor < 0) return FALSE;
    // The descriptor is gone after close() even when it reports EINTR.
    if (close(descriptor) != 0 && errno != EINTR) return FailWithErrno(errno);
    return TRUE;
}

BOOL MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
    std::string source;
    std::string target;
    if (!NarrowPath(from, source) || !NarrowPath(to, target)) return FALSE;
    CreatedFileAddress created(source);
    if (created.Confirm() != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const int fromFolder = created.Folder();
    const char* fromName = created.Name();
    int result;
    if (flags & MOVEFILE_REPLACE_EXISTING) {
        if (!IsReplaceable(target)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        result = renameat(fromFolder, fromName, AT_FDCWD, target.c_str());
    } else {
        // Never a check followed by a rename: another process may create the
        // target in between.
        result = RenameNoReplace(fromFolder, fromName, target);
        if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
            result = linkat(fromFolder, fromName, AT_FDCWD, target.c_str(), 0);
            if (result == 0 && unlinkat(fromFolder, fromName, 0) != 0) {
                const int error = errno;
                unlink(target.c_str());
                errno = error;
                result = -1;
            }
        }
    }
    if (result != 0) {
        const int error = errno;
        if (error == EEXIST) {
            SetLastError(ERROR_ALREADY_EXISTS);
            return FALSE;
        }
        if (error == ENOENT) {
            struct stat status;
            // Either the source is missing or the target's folder is.
            if (fstatat(fromFolder, fromName, &status, AT_SYMLINK_NOFOLLOW) != 0) {
                return FailForPath(ENOENT, source);
            }
            SetLastError(ERROR_PATH_NOT_FOUND);
            return FALSE;
        }
        return FailWithErrno(error);
    }
    created.Forget();
    const int error = flags & MOVEFILE_WRITE_THROUGH ? SyncFolder(ParentFolder(target)) : 0;
    return error == 0 ? TRUE : FailWithErrno(error);
}

BOOL DeleteFileW(LPCWSTR path) {
    std::string name;
    if (!NarrowPath(path, name)) return FALSE;
    CreatedFileAddress created(name);
    if (!created.Created()) {
        if (unlink(name.c_str()) != 0) return FailForPath(errno, name);
        return TRUE;
    }
    int error = created.Confirm();
    if (error == 0 && unlinkat(created.Folder(), created.Name(), 0) != 0) error = errno;
    created.Forget();
    if (error == EEXIST) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // Through the folder the file was created in: a missing entry is the
    // file, not a folder on the way to it.
    if (error == ENOENT) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    return error == 0 ? TRUE : FailWithErrno(error);
}

BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES /*security*/) {
    std::string name;
    if (!NarrowPath(path, name)) return FALSE;
    const int error = MakeFolder(name, 0777);
    // Only the last level is made: a missing one above it is a missing path.
    if (error == ENOENT) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    return error == 0 ? TRUE : FailWithErrno(error);
}

DWORD GetFileAttributesW(LPCWSTR path) {
    std::string name;
    if (!NarrowPath(path, name)) return INVALID_FILE_ATTRIBUTES;
    struct stat status;
    if (lstat(name.c_str(), &status) != 0) {
        FailForPath(errno, name);
        return INVALID_FILE_ATTRIBUTES;
    }
    return FILE_ATTRIBUTE_NORMAL;
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

DWORD GetTickCount() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto milliseconds = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                              static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    // Wraps after 49.7 days, as on Windows.
    return static_cast<DWORD>(milliseconds);
}
