// What the program relies on from the file functions: exclusive creation that
// reports a taken name, reads and writes of exact sizes, a flush, a rename
// that replaces or refuses an existing target, and Windows' error codes.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "storage/text_encoding.h"
#include "support/scratch_folder.h"

#ifdef __linux__
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <iterator>
#endif

namespace holwerk {
namespace {

std::vector<WCHAR> Wide(const std::string& path) {
    std::vector<WCHAR> wide(PathBufferUnits);
    EXPECT_TRUE(Utf8ToUtf16(path, wide.data(), PathBufferUnits)) << path;
    return wide;
}

HANDLE Open(const std::string& path, DWORD access, DWORD disposition) {
    return CreateFileW(Wide(path).data(), access, access == GENERIC_READ ? FILE_SHARE_READ : 0,
                       nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool Move(const std::string& from, const std::string& to, DWORD flags) {
    return MoveFileExW(Wide(from).data(), Wide(to).data(), flags) != FALSE;
}

class FilesContract : public ::testing::Test {
  protected:
    ScratchFolder scratch;
};

// The name arrives unchanged, a character beyond the Basic Multilingual Plane
// included; the bytes come back exactly, and the size with its high part.
TEST_F(FilesContract, CreateNewWriteFlushAndReadKeepNameAndBytes) {
    const std::string name =
        "Gr\xC3\xBC\xC3\x9F"
        "e \xE2\x82\xAC\xF0\x9F\x98\x80.txt";
    std::string data(70000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
    HANDLE file = Open(scratch.Path(name), GENERIC_WRITE, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD count = 99;
    EXPECT_TRUE(WriteFile(file, "", 0, &count, nullptr));
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &count, nullptr));
    EXPECT_EQ(count, data.size());
    EXPECT_TRUE(FlushFileBuffers(file));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{name});

    file = Open(scratch.Path(name), GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD high = 99;
    EXPECT_EQ(GetFileSize(file, &high), data.size());
    EXPECT_EQ(high, 0u);
    std::string read(data.size() + 10, 'x');
    EXPECT_TRUE(ReadFile(file, read.data(), static_cast<DWORD>(read.size()), &count, nullptr));
    EXPECT_EQ(read.substr(0, count), data);
    EXPECT_TRUE(ReadFile(file, read.data(), 10, &count, nullptr));
    EXPECT_EQ(count, 0u);
    CloseHandle(file);

    // Sparse where the file system allows it; no data is written.
    std::filesystem::resize_file(PathOfUtf8(scratch.Path(name)), 0x100000005ull);
    file = Open(scratch.Path(name), GENERIC_READ, OPEN_EXISTING);
    EXPECT_EQ(GetFileSize(file, &high), 5u);
    EXPECT_EQ(high, 1u);
    CloseHandle(file);
}

TEST_F(FilesContract, MoveToAFreeNameMovesAndWithReplacingReplaces) {
    const std::string from = scratch.Path("neu.tmp");
    for (const DWORD flags : {0u, static_cast<DWORD>(MOVEFILE_WRITE_THROUGH)}) {
        WriteWholeFile(from, "neu");
        EXPECT_TRUE(Move(from, scratch.Path("frei.txt"), flags));
        WriteWholeFile(from, "neuer");
        EXPECT_TRUE(Move(from, scratch.Path("frei.txt"), flags | MOVEFILE_REPLACE_EXISTING));
        EXPECT_EQ(ReadWholeFile(scratch.Path("frei.txt")), "neuer");
        EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"frei.txt"});
        DeleteFileW(Wide(scratch.Path("frei.txt")).data());
    }
}

enum class Op { MakeNew, OpenRead, Move, Remove, MakeFolder, Attributes };

// Every refused call leaves the scene as it was and reports Windows' code.
// "fehlt/x" lies in a missing folder.
TEST_F(FilesContract, RefusedCallsReportWindowsCodesAndChangeNothing) {
    constexpr DWORD Replacing = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    const struct {
        Op op;
        const char* path;
        DWORD error;
        const char* target;
        DWORD flags;
    } cases[] = {
        {Op::MakeNew, "datei.txt", ERROR_FILE_EXISTS, "", 0},
        {Op::MakeNew, "ordner", ERROR_FILE_EXISTS, "", 0},
        {Op::MakeNew, "fehlt/x", ERROR_PATH_NOT_FOUND, "", 0},
        {Op::OpenRead, "fehlt.txt", ERROR_FILE_NOT_FOUND, "", 0},
        {Op::OpenRead, "fehlt/x", ERROR_PATH_NOT_FOUND, "", 0},
        {Op::Move, "neu.tmp", ERROR_ALREADY_EXISTS, "datei.txt", 0},
        {Op::Move, "neu.tmp", ERROR_ALREADY_EXISTS, "datei.txt", MOVEFILE_WRITE_THROUGH},
        {Op::Move, "neu.tmp", ERROR_ACCESS_DENIED, "ordner", Replacing},
        {Op::Move, "fehlt.tmp", ERROR_FILE_NOT_FOUND, "ziel.txt", Replacing},
        {Op::Remove, "fehlt.txt", ERROR_FILE_NOT_FOUND, "", 0},
        {Op::Remove, "fehlt/x", ERROR_PATH_NOT_FOUND, "", 0},
        {Op::MakeFolder, "ordner", ERROR_ALREADY_EXISTS, "", 0},
        {Op::MakeFolder, "fehlt/x", ERROR_PATH_NOT_FOUND, "", 0},
        {Op::Attributes, "fehlt", ERROR_FILE_NOT_FOUND, "", 0},
        {Op::Attributes, "fehlt/x", ERROR_PATH_NOT_FOUND, "", 0},
    };
    WriteWholeFile(scratch.Path("datei.txt"), "alt");
    WriteWholeFile(scratch.Path("neu.tmp"), "neu");
    std::filesystem::create_directory(PathOfUtf8(scratch.Path("ordner")));
    WriteWholeFile(scratch.Path("ordner") + PathSeparator + "inhalt.txt", "bleibt");
    const auto inScene = [&](std::string relative) {
        std::replace(relative.begin(), relative.end(), '/', PathSeparator[0]);
        return scratch.Path(relative);
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + std::to_string(static_cast<int>(c.op)));
        const std::string path = inScene(c.path);
        SetLastError(0);
        bool done = false;
        HANDLE file = INVALID_HANDLE_VALUE;
        switch (c.op) {
            case Op::MakeNew:
            case Op::OpenRead:
                file = c.op == Op::MakeNew ? Open(path, GENERIC_WRITE, CREATE_NEW)
                                           : Open(path, GENERIC_READ, OPEN_EXISTING);
                done = file != INVALID_HANDLE_VALUE;
                break;
            case Op::Move:
                done = Move(path, inScene(c.target), c.flags);
                break;
            case Op::Remove:
                done = DeleteFileW(Wide(path).data()) != FALSE;
                break;
            case Op::MakeFolder:
                done = CreateDirectoryW(Wide(path).data(), nullptr) != FALSE;
                break;
            case Op::Attributes:
                done = GetFileAttributesW(Wide(path).data()) != INVALID_FILE_ATTRIBUTES;
                break;
        }
        EXPECT_FALSE(done);
        EXPECT_EQ(GetLastError(), c.error);
        if (done && file != INVALID_HANDLE_VALUE) CloseHandle(file);
        EXPECT_EQ(scratch.Entries(), (std::vector<std::string>{"datei.txt", "neu.tmp", "ordner"}));
        EXPECT_EQ(ReadWholeFile(scratch.Path("datei.txt")), "alt");
        EXPECT_EQ(ReadWholeFile(inScene("ordner/inhalt.txt")), "bleibt");
    }
    EXPECT_NE(GetFileAttributesW(Wide(scratch.Path("ordner")).data()), INVALID_FILE_ATTRIBUTES);
}

#ifdef __linux__
// Some file systems offer no rename that refuses an existing target; the
// layer then links and unlinks. A child process whose renameat2 reports
// ENOSYS (a seccomp filter) takes that way; its exit code names the first
// check that failed.
int MoveWithoutRenameNoReplace(const std::string& from, const std::string& to,
                               const std::string& free) {
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
    if (Move(from, to, MOVEFILE_WRITE_THROUGH)) return 1;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return 2;
    if (ReadWholeFile(from) != "neu" || ReadWholeFile(to) != "alt") return 3;
    if (!Move(from, free, MOVEFILE_WRITE_THROUGH)) return 4;
    return ReadWholeFile(free) == "neu" && !std::filesystem::exists(from) ? 0 : 5;
}

TEST_F(FilesContract, MoveWithoutReplacingRefusesTheTargetAlsoWithoutRenameNoReplace) {
    WriteWholeFile(scratch.Path("neu.tmp"), "neu");
    WriteWholeFile(scratch.Path("ziel.txt"), "alt");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        _exit(MoveWithoutRenameNoReplace(scratch.Path("neu.tmp"), scratch.Path("ziel.txt"),
                                         scratch.Path("frei.txt")));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 10) GTEST_SKIP() << "no seccomp filter can be installed here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

}  // namespace
}  // namespace holwerk
