#include "platform/posix/created_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/support.h"

namespace holwerk::posix {

struct CreatedFileRecord {
    int folder = -1;
    std::string name;
    dev_t device = 0;
    ino_t inode = 0;
};

namespace {

// Never destroyed: an interruption may remove a file while the process runs
// its exit handlers.
struct CreatedFiles {
    std::mutex mutex;
    std::map<std::string, CreatedFileRecord> byPath;
};

CreatedFiles& Files() {
    static CreatedFiles& files = *new CreatedFiles;
    return files;
}

}  // namespace

int RememberCreatedFile(const std::string& path, const struct stat& status) {
    const int folder = open(ParentFolder(path).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return errno;
    const std::size_t slash = path.rfind('/');
    CreatedFileRecord record{folder, slash == std::string::npos ? path : path.substr(slash + 1),
                             status.st_dev, status.st_ino};
    std::lock_guard<std::mutex> lock(Files().mutex);
    CreatedFileRecord& entry = Files().byPath[path];
    if (entry.folder >= 0) close(entry.folder);
    entry = std::move(record);
    return 0;
}

CreatedFileAddress::CreatedFileAddress(const std::string& path)
    : lock_(Files().mutex), path_(path) {
    const auto found = Files().byPath.find(path);
    if (found != Files().byPath.end()) found_ = &found->second;
}

int CreatedFileAddress::Confirm() const {
    if (found_ == nullptr) return 0;
    struct stat status;
    if (fstatat(found_->folder, found_->name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return ENOENT;
    }
    return status.st_dev == found_->device && status.st_ino == found_->inode ? 0 : EEXIST;
}

int CreatedFileAddress::Folder() const { return found_ != nullptr ? found_->folder : AT_FDCWD; }

const char* CreatedFileAddress::Name() const {
    return found_ != nullptr ? found_->name.c_str() : path_.c_str();
}

void CreatedFileAddress::Forget() {
    if (found_ == nullptr) return;
    close(found_->folder);
    Files().byPath.erase(path_);
    found_ = nullptr;
}

}  // namespace holwerk::posix
