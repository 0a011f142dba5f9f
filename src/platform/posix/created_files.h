#pragma once

// The files this process created exclusively (CreateFileW with CREATE_NEW),
// by the path each was created under: the folder it was created in, held
// open, its name there, and its device and inode. A move or deletion of such
// a path works through that folder, so a file whose folder was renamed is
// still found, and first confirms that the name still names that file, so a
// file another process put in its place is never taken for it. Used by the
// file functions of this folder only.

#include <sys/stat.h>

#include <map>
#include <mutex>
#include <string>

namespace holwerk::posix {

/// Remembers the file just created at `path` with `status` (of its open
/// descriptor). 0, or the errno of opening its folder.
int RememberCreatedFile(const std::string& path, const struct stat& status);

struct CreatedFileRecord;

/// A path as the move and delete functions reach it, holding the list of
/// created files locked for as long as it lives.
class CreatedFileAddress {
  public:
    explicit CreatedFileAddress(const std::string& path);

    /// Whether the process created the file at this path.
    bool Created() const { return found_ != nullptr; }

    /// 0 when the path was not created here or still names the created
    /// file; ENOENT when that file is gone, EEXIST when another is there.
    int Confirm() const;

    /// The folder and name that reach the file: the created file's folder,
    /// or AT_FDCWD and the path as given.
    int Folder() const;
    const char* Name() const;

    /// Drops the record of a created file that was moved or removed.
    void Forget();

  private:
    std::unique_lock<std::mutex> lock_;
    const std::string& path_;
    CreatedFileRecord* found_ = nullptr;
};

}  // namespace holwerk::posix
