// What the program relies on from the file functions: exclusive creation that
// reports a taken name, reads and writes of exact sizes, a flush, a rename
// that replaces or refuses an existing target, and Windows' error codes.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "storage/text_encoding.h"
#include "support/scratch_folder.h"

#ifdef __linux__
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#endif

namespace holwerk {
namespace {

std::vector<WCHAR> Wide(const std::string& path) {
    std::vector<WCHAR> wide;
    EXPECT_TRUE(Utf8ToUtf16Path(path, wide)) << path;
    return wide;
}

HANDLE Open(const std::string& path, DWORD access, DWORD disposition) {
    return CreateFileW(Wide(path).data(), access, access == GENERIC_READ ? FILE_SHARE_READ : 0,
                       nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool CreateNew(const std::string& path) {
    const HANDLE file = Open(path, GENERIC_WRITE, CREATE_NEW);
    return file != INVALID_HANDLE_VALUE && CloseHandle(file);
}

bool Move(const std::string& from, const std::string& to, DWORD flags) {
    return MoveFileExW(Wide(from).data(), Wide(to).data(), flags) != FALSE;
}

bool Delete(const std::string& path) { return DeleteFileW(Wide(path).data()) != FALSE; }

// The name arrives unchanged, a character beyond the Basic Multilingual Plane
// included; the bytes come back exactly, and the size with its high part.
TEST(FilesContract, CreateNewWriteFlushAndReadKeepNameAndBytes) {
    ScratchFolder scratch;
    const std::string name = "Gr\u00FC\u00DFe \U0001F600.txt";
    const std::string path = scratch.Path(name);
    const std::string data(70000, '\xA5');
    HANDLE file = Open(path, GENERIC_WRITE, CREATE_NEW);
    DWORD count = 99;
    EXPECT_TRUE(WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &count, nullptr));
    EXPECT_EQ(count, data.size());
    EXPECT_TRUE(FlushFileBuffers(file));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(Entries(scratch.path()), std::vector<std::string>{name});
    for (const unsigned long long size : {70000ull, 0x100000005ull}) {
        // Sparse where the file system allows it; no data is written.
        std::filesystem::resize_file(PathOfUtf8(path), size);
        file = Open(path, GENERIC_READ, OPEN_EXISTING);
        DWORD high = 99;
        EXPECT_EQ(GetFileSize(file, &high), static_cast<DWORD>(size));
        EXPECT_EQ(high, size >> 32);
        std::string read(data.size() + 10, 'x');
        EXPECT_TRUE(ReadFile(file, read.data(), 10, &count, nullptr) && count == 10);
        EXPECT_TRUE(ReadFile(file, read.data(), static_cast<DWORD>(read.size()), &count, nullptr));
        EXPECT_EQ(count, size == 70000 ? data.size() - 10 : read.size());
        EXPECT_EQ(read.find_first_not_of('\xA5'), data.size() - 10);
        CloseHandle(file);
    }
}

// A taken name, by a file or a folder, refuses exclusive creation and a move
// without replacing; nothing changes, and Windows' code tells why.
TEST(FilesContract, RefusedCallsReportWindowsCodesAndChangeNothing) {
    ScratchFolder scratch;
    const std::string alt = scratch.Path("alt"), neu = scratch.Path("neu");
    const std::string folder = scratch.Path("ordner"), gone = scratch.Path("fehlt");
    const std::string inGone = gone + PathSeparator + "x";
    WriteWholeFile(alt, "alt");
    WriteWholeFile(neu, "neu");
    std::filesystem::create_directory(PathOfUtf8(folder));
    const struct {
        std::function<bool()> call;
        DWORD error;
    } cases[] = {
        {[&] { return CreateNew(alt); }, ERROR_FILE_EXISTS},
        {[&] { return CreateNew(folder); }, ERROR_FILE_EXISTS},
        {[&] { return CreateNew(inGone); }, ERROR_PATH_NOT_FOUND},
        {[&] { return Move(neu, alt, MOVEFILE_WRITE_THROUGH); }, ERROR_ALREADY_EXISTS},
        {[&] { return Move(neu, folder, MOVEFILE_REPLACE_EXISTING); }, ERROR_ACCESS_DENIED},
        // A clean-up that finds its file gone has nothing left behind.
        {[&] { return Delete(gone); }, ERROR_FILE_NOT_FOUND},
        {[&] { return Delete(inGone); }, ERROR_PATH_NOT_FOUND},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SetLastError(0);
        EXPECT_FALSE(cases[i].call()) << "case " << i;
        EXPECT_EQ(GetLastError(), cases[i].error) << "case " << i;
        EXPECT_EQ(Entries(scratch.path()), (std::vector<std::string>{"alt", "neu", "ordner"}));
        EXPECT_EQ(ReadWholeFile(alt) + ReadWholeFile(neu), "altneu");
    }
}

#ifdef __linux__
// The exit code of `body` run in a child process; -1 if the child did not exit.
int ExitCodeInChild(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) _exit(body());
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// Windows has no FIFOs in the file system; one planted under a small file's
// name (the update state, the installation ID) must not hang the program.
TEST(FilesContract, OpeningAFifoForReadingDoesNotWaitForAWriter) {
    ScratchFolder scratch;
    ASSERT_EQ(mkfifo(scratch.Path("fifo").c_str(), 0600), 0);
    const int code = ExitCodeInChild([&] {
        alarm(5);
        const HANDLE file = Open(scratch.Path("fifo"), GENERIC_READ, OPEN_EXISTING);
        char buffer[8];
        DWORD read = 99;
        const bool done = file != INVALID_HANDLE_VALUE &&
                          ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read == 0;
        return done ? 0 : 1;
    });
    EXPECT_EQ(code, 0) << "the open or the read waited";
}

// A name the process created exclusively names that file until it is moved
// or removed: a file another process put in its place, or its removal,
// makes a move or deletion fail, and a file whose folder was renamed is
// still removed. A FIFO (or a device) is never replaced. Windows' own
// functions check none of it, and Windows has no FIFOs.
TEST(FilesContract, MovesAndDeletionsActOnlyOnTheFileTheNameWasCreatedFor) {
    const struct {
        std::string change;
        DWORD moveError;
        bool deleted;
        DWORD deleteError;
        std::vector<std::string> left;  // in the created file's folder
    } cases[] = {
        {"swapped", ERROR_ACCESS_DENIED, false, ERROR_ACCESS_DENIED, {"neu"}},
        {"removed", ERROR_ACCESS_DENIED, false, ERROR_FILE_NOT_FOUND, {}},
        {"folder renamed", ERROR_PATH_NOT_FOUND, true, 0, {}},
        {"fifo target", ERROR_ACCESS_DENIED, true, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.change);
        ScratchFolder scratch;
        std::filesystem::create_directory(scratch.Path("a"));
        const std::string created = scratch.Path("a/neu");
        // Beside the created file, or for the FIFO outside its folder.
        const std::string target = scratch.Path(c.change == "fifo target" ? "ziel" : "a/ziel");
        ASSERT_TRUE(CreateNew(created));
        if (c.change == "swapped") {
            WriteWholeFile(scratch.Path("fremd"), "fremd");
            std::filesystem::rename(scratch.Path("fremd"), created);
        } else if (c.change == "removed") {
            std::filesystem::remove(created);
        } else if (c.change == "folder renamed") {
            std::filesystem::rename(scratch.Path("a"), scratch.Path("b"));
        } else {
            ASSERT_EQ(mkfifo(target.c_str(), 0600), 0);
        }
        SetLastError(0);
        EXPECT_FALSE(Move(created, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
        EXPECT_EQ(GetLastError(), c.moveError);
        SetLastError(0);
        EXPECT_EQ(Delete(created), c.deleted);
        EXPECT_EQ(GetLastError(), c.deleteError);
        EXPECT_EQ(Entries(scratch.Path(c.change == "folder renamed" ? "b" : "a")), c.left);
        EXPECT_EQ(ReadWholeFile(created), c.change == "swapped" ? "fremd" : "<missing>");
        struct stat status;
        EXPECT_EQ(lstat(target.c_str(), &status) == 0 && S_ISFIFO(status.st_mode),
                  c.change == "fifo target");
    }
}

// Some file systems offer no rename that refuses an existing target; the
// layer then links and unlinks. A child process whose renameat2 reports
// ENOSYS (a seccomp filter) takes that way.
TEST(FilesContract, MoveWithoutReplacingRefusesTheTargetAlsoWithoutRenameNoReplace) {
    ScratchFolder scratch;
    WriteWholeFile(scratch.Path("neu"), "neu");
    WriteWholeFile(scratch.Path("alt"), "alt");
    const int code = ExitCodeInChild([&] {
        struct sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_renameat2, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        struct sock_fprog program = {static_cast<unsigned short>(std::size(filter)), filter};
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
            prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
            return 10;
        }
        if (Move(scratch.Path("neu"), scratch.Path("alt"), MOVEFILE_WRITE_THROUGH) ||
            GetLastError() != ERROR_ALREADY_EXISTS) {
            return 1;
        }
        return Move(scratch.Path("neu"), scratch.Path("frei"), MOVEFILE_WRITE_THROUGH) ? 0 : 1;
    });
    if (code == 10) GTEST_SKIP() << "no seccomp filter can be installed here";
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadWholeFile(scratch.Path("alt")) + ReadWholeFile(scratch.Path("frei")), "altneu");
    EXPECT_EQ(Entries(scratch.path()), (std::vector<std::string>{"alt", "frei"}));
}
#endif

}  // namespace
}  // namespace holwerk
