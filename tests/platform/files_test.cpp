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

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#ifdef __linux__
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

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

HANDLE CreateNew(const std::string& path) {
    return CreateFileW(Wide(path).data(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE OpenForReading(const std::string& path) {
    return CreateFileW(Wide(path).data(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Closes a handle that should not have been opened; keeps the last error.
bool Succeeded(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) return false;
    CloseHandle(handle);
    return true;
}

class FilesContract : public ::testing::Test {
  protected:
    ScratchFolder scratch;
};

// ------------------------------------------------------------ creating

TEST_F(FilesContract, CreateNewMakesAnEmptyFileUnderTheNameUnchanged) {
    // "Grüße €" and a character beyond the Basic Multilingual Plane.
    const std::string name =
        "Gr\xC3\xBC\xC3\x9F"
        "e \xE2\x82\xAC\xF0\x9F\x98\x80.txt";
    const HANDLE file = CreateNew(scratch.Path(name));
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{name});
    EXPECT_EQ(ReadWholeFile(scratch.Path(name)), "");
}

#ifndef _WIN32
TEST_F(FilesContract, NameWithAnUnpairedSurrogateIsRefused) {
    // Windows takes such a name as it is; UTF-8 has no bytes for it, and the
    // layer will not act on a substitute name.
    std::vector<WCHAR> wide = Wide(scratch.Path("x"));
    std::size_t end = 0;
    while (wide[end] != 0) ++end;
    wide[end - 1] = 0xD800;
    EXPECT_FALSE(Succeeded(CreateFileW(wide.data(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr)));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
    EXPECT_TRUE(scratch.Entries().empty());
}
#endif

#ifndef _WIN32
TEST_F(FilesContract, OpeningAFifoForReadingDoesNotWaitForAWriter) {
    // Windows has no FIFOs in the file system; one planted under a small
    // file's name must not hang the program. The child gets five seconds.
    const std::string path = scratch.Path("fifo");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(5);
        const HANDLE file = OpenForReading(path);
        char buffer[8];
        DWORD read = 99;
        const bool empty = file != INVALID_HANDLE_VALUE &&
                           ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read == 0;
        _exit(empty ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << "the open or the read waited";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

// ------------------------------------------------------ reading and writing

TEST_F(FilesContract, WriteReportsTheCountAndZeroLengthWritesNothing) {
    const std::string path = scratch.Path("daten.bin");
    const HANDLE file = CreateNew(path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 99;
    EXPECT_TRUE(WriteFile(file, "", 0, &written, nullptr));
    EXPECT_EQ(written, 0u);
    const std::string data(100000, 'q');
    EXPECT_TRUE(WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr));
    EXPECT_EQ(written, data.size());
    EXPECT_TRUE(FlushFileBuffers(file));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(ReadWholeFile(path), data);
}

TEST_F(FilesContract, WriteAndReadNeedTheMatchingAccess) {
    const std::string path = scratch.Path("lesen.txt");
    WriteWholeFile(path, "abc");
    const HANDLE reading = OpenForReading(path);
    ASSERT_NE(reading, INVALID_HANDLE_VALUE);
    DWORD count = 99;
    EXPECT_FALSE(WriteFile(reading, "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(count, 0u);
    CloseHandle(reading);
    EXPECT_EQ(ReadWholeFile(path), "abc");

    const HANDLE writing = CreateNew(scratch.Path("schreiben.txt"));
    ASSERT_NE(writing, INVALID_HANDLE_VALUE);
    char buffer[4];
    count = 99;
    EXPECT_FALSE(ReadFile(writing, buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(count, 0u);
    CloseHandle(writing);
}

TEST_F(FilesContract, ReadOfTheExactSizeDeliversEveryByteAndThenZero) {
    const std::string path = scratch.Path("lesen.bin");
    std::string data(70000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
    WriteWholeFile(path, data);
    const HANDLE file = OpenForReading(path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD high = 99;
    EXPECT_EQ(GetFileSize(file, &high), data.size());
    EXPECT_EQ(high, 0u);
    std::string buffer(data.size(), 'x');
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr));
    EXPECT_EQ(read, data.size());
    EXPECT_EQ(buffer, data);
    EXPECT_TRUE(ReadFile(file, buffer.data(), 10, &read, nullptr));
    EXPECT_EQ(read, 0u);
    CloseHandle(file);
}

TEST_F(FilesContract, GetFileSizeGivesTheHighPartOfAFileOfFourGibibytesAndMore) {
    const std::string path = scratch.Path("gross.bin");
    WriteWholeFile(path, "");
    HANDLE file = OpenForReading(path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD high = 99;
    EXPECT_EQ(GetFileSize(file, &high), 0u);
    EXPECT_EQ(high, 0u);
    CloseHandle(file);
    // Sparse where the file system allows it; no data is written.
    std::filesystem::resize_file(PathOfUtf8(path), 0x100000005ull);
    file = OpenForReading(path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileSize(file, &high), 5u);
    EXPECT_EQ(high, 1u);
    CloseHandle(file);
}

// ------------------------------------------------------------ renaming

struct MoveCase {
    const char* name;
    DWORD flags;
};

class Moving : public FilesContract, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(Moving, ToAFreeNameMovesAndWithReplacingReplacesAnExistingTarget) {
    const std::string from = scratch.Path("neu.tmp");
    const std::string to = scratch.Path("ziel.txt");
    WriteWholeFile(from, "neu");
    EXPECT_TRUE(MoveFileExW(Wide(from).data(), Wide(to).data(), GetParam().flags));
    EXPECT_EQ(ReadWholeFile(to), "neu");
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"ziel.txt"});
    WriteWholeFile(from, "neuer");
    EXPECT_TRUE(MoveFileExW(Wide(from).data(), Wide(to).data(),
                            GetParam().flags | MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(ReadWholeFile(to), "neuer");
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"ziel.txt"});
}

INSTANTIATE_TEST_SUITE_P(FlagSets, Moving,
                         ::testing::Values(MoveCase{"Plain", 0},
                                           MoveCase{"WriteThrough", MOVEFILE_WRITE_THROUGH}),
                         [](const auto& instance) { return std::string(instance.param.name); });

TEST_F(FilesContract, MoveWithReplacingOntoAReadOnlyFile) {
#ifdef _WIN32
    if (RunningUnderWine()) {
        GTEST_SKIP() << "Wine replaces a read-only target; Windows refuses it with "
                        "ERROR_ACCESS_DENIED";
    }
#endif
    const std::string from = scratch.Path("neu.tmp");
    const std::string to = scratch.Path("schreibgeschuetzt.txt");
    WriteWholeFile(from, "neu");
    WriteWholeFile(to, "alt");
    std::filesystem::permissions(PathOfUtf8(to), std::filesystem::perms::owner_read);
    ASSERT_EQ(
        std::filesystem::status(PathOfUtf8(to)).permissions() & std::filesystem::perms::owner_write,
        std::filesystem::perms::none);
    const BOOL moved = MoveFileExW(Wide(from).data(), Wide(to).data(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
#ifdef _WIN32
    EXPECT_FALSE(moved);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadWholeFile(to), "alt");
#else
    // A rename needs only the folder's permission: the target is replaced.
    EXPECT_TRUE(moved);
    EXPECT_EQ(ReadWholeFile(to), "neu");
#endif
    std::error_code ignored;
    std::filesystem::permissions(PathOfUtf8(to), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add, ignored);
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
    if (MoveFileExW(Wide(from).data(), Wide(to).data(), MOVEFILE_WRITE_THROUGH)) return 1;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return 2;
    if (ReadWholeFile(from) != "neu" || ReadWholeFile(to) != "alt") return 3;
    if (!MoveFileExW(Wide(from).data(), Wide(free).data(), MOVEFILE_WRITE_THROUGH)) return 4;
    if (ReadWholeFile(free) != "neu" || std::filesystem::exists(from)) return 5;
    return 0;
}

TEST_F(FilesContract, MoveWithoutReplacingRefusesTheTargetAlsoWithoutRenameNoReplace) {
    const std::string from = scratch.Path("neu.tmp");
    const std::string to = scratch.Path("ziel.txt");
    const std::string free = scratch.Path("frei.txt");
    WriteWholeFile(from, "neu");
    WriteWholeFile(to, "alt");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(MoveWithoutRenameNoReplace(from, to, free));
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 10) GTEST_SKIP() << "no seccomp filter can be installed here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(scratch.Entries(), (std::vector<std::string>{"frei.txt", "ziel.txt"}));
}
#endif

// ------------------------------------------------ deleting, folders,
// attributes

TEST_F(FilesContract, DeleteCreateDirectoryAndAttributesActOnTheNamedEntry) {
    const std::string file = scratch.Path("datei");
    const std::string folder = scratch.Path("neu");
    WriteWholeFile(file, "x");
    EXPECT_TRUE(CreateDirectoryW(Wide(folder).data(), nullptr));
    EXPECT_NE(GetFileAttributesW(Wide(folder).data()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesW(Wide(file).data()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(DeleteFileW(Wide(file).data()));
    EXPECT_EQ(GetFileAttributesW(Wide(file).data()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"neu"});
    EXPECT_TRUE(std::filesystem::is_directory(PathOfUtf8(folder)));
}

// ------------------------------------------------------------ refusals

// Every refused call leaves this scene as it was and reports Windows' code.
void MakeScene(const ScratchFolder& scratch) {
    WriteWholeFile(scratch.Path("datei.txt"), "alt");
    WriteWholeFile(scratch.Path("neu.tmp"), "neu");
    std::filesystem::create_directory(PathOfUtf8(scratch.Path("leer")));
    std::filesystem::create_directory(PathOfUtf8(scratch.Path("ordner")));
    WriteWholeFile(scratch.Path("ordner") + PathSeparator + "inhalt.txt", "bleibt");
}

void ExpectSceneUnchanged(const ScratchFolder& scratch) {
    EXPECT_EQ(scratch.Entries(),
              (std::vector<std::string>{"datei.txt", "leer", "neu.tmp", "ordner"}));
    EXPECT_EQ(ReadWholeFile(scratch.Path("datei.txt")), "alt");
    EXPECT_EQ(ReadWholeFile(scratch.Path("neu.tmp")), "neu");
    EXPECT_TRUE(std::filesystem::is_empty(PathOfUtf8(scratch.Path("leer"))));
    EXPECT_EQ(ReadWholeFile(scratch.Path("ordner") + PathSeparator + "inhalt.txt"), "bleibt");
}

enum class Op { MakeNew, OpenRead, Move, Remove, MakeFolder, Attributes };

struct Refusal {
    const char* name;
    Op op;
    const char* path;  // in the scene, "/" between levels; "" is the empty path
    DWORD error;
    const char* target = "";  // where Op::Move moves to
    DWORD flags = 0;
};

constexpr DWORD Replacing = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

// "fehlt/x" lies in a missing folder.
const Refusal Refusals[] = {
    {"CreateNewOverAFile", Op::MakeNew, "datei.txt", ERROR_FILE_EXISTS},
    {"CreateNewOverAFolder", Op::MakeNew, "leer", ERROR_FILE_EXISTS},
    {"CreateNewInAMissingFolder", Op::MakeNew, "fehlt/x", ERROR_PATH_NOT_FOUND},
    {"CreateNewBelowAFile", Op::MakeNew, "datei.txt/x", ERROR_PATH_NOT_FOUND},
    {"OpenAMissingFile", Op::OpenRead, "fehlt.txt", ERROR_FILE_NOT_FOUND},
    {"OpenInAMissingFolder", Op::OpenRead, "fehlt/x", ERROR_PATH_NOT_FOUND},
    {"OpenAFolderForReading", Op::OpenRead, "leer", ERROR_ACCESS_DENIED},
    {"OpenAnEmptyPath", Op::OpenRead, "", ERROR_PATH_NOT_FOUND},
    {"MoveOntoAFileWithoutReplacing", Op::Move, "neu.tmp", ERROR_ALREADY_EXISTS, "datei.txt"},
    {"MoveOntoAFileWithoutReplacingWriteThrough", Op::Move, "neu.tmp", ERROR_ALREADY_EXISTS,
     "datei.txt", MOVEFILE_WRITE_THROUGH},
    {"MoveOntoAnEmptyFolderWithoutReplacing", Op::Move, "neu.tmp", ERROR_ALREADY_EXISTS, "leer",
     MOVEFILE_WRITE_THROUGH},
    {"MoveOntoAFolderReplacing", Op::Move, "neu.tmp", ERROR_ACCESS_DENIED, "ordner", Replacing},
    {"MoveAMissingFile", Op::Move, "fehlt.tmp", ERROR_FILE_NOT_FOUND, "ziel.txt", Replacing},
    {"MoveIntoAMissingFolder", Op::Move, "neu.tmp", ERROR_PATH_NOT_FOUND, "fehlt/x", Replacing},
    {"DeleteAMissingFile", Op::Remove, "fehlt.txt", ERROR_FILE_NOT_FOUND},
    {"DeleteInAMissingFolder", Op::Remove, "fehlt/x", ERROR_PATH_NOT_FOUND},
    {"DeleteAFolder", Op::Remove, "leer", ERROR_ACCESS_DENIED},
    {"CreateDirectoryOverAFolder", Op::MakeFolder, "ordner", ERROR_ALREADY_EXISTS},
    {"CreateDirectoryOverAFile", Op::MakeFolder, "datei.txt", ERROR_ALREADY_EXISTS},
    {"CreateDirectoryBelowAMissingFolder", Op::MakeFolder, "fehlt/x", ERROR_PATH_NOT_FOUND},
    {"AttributesOfAMissingEntry", Op::Attributes, "fehlt", ERROR_FILE_NOT_FOUND},
    {"AttributesInAMissingFolder", Op::Attributes, "fehlt/x", ERROR_PATH_NOT_FOUND},
    {"AttributesOfAnEmptyPath", Op::Attributes, "", ERROR_PATH_NOT_FOUND},
};

std::string InScene(const ScratchFolder& scratch, std::string relative) {
    if (relative.empty()) return relative;
    std::replace(relative.begin(), relative.end(), '/', PathSeparator[0]);
    return scratch.Path(relative);
}

// Whether the refused call succeeded after all; the last error stays as the
// call left it.
bool Perform(const ScratchFolder& scratch, const Refusal& refusal) {
    const std::string path = InScene(scratch, refusal.path);
    switch (refusal.op) {
        case Op::MakeNew:
            return Succeeded(CreateNew(path));
        case Op::OpenRead:
            return Succeeded(OpenForReading(path));
        case Op::Move:
            return MoveFileExW(Wide(path).data(), Wide(InScene(scratch, refusal.target)).data(),
                               refusal.flags) != FALSE;
        case Op::Remove:
            return DeleteFileW(Wide(path).data()) != FALSE;
        case Op::MakeFolder:
            return CreateDirectoryW(Wide(path).data(), nullptr) != FALSE;
        case Op::Attributes:
            return GetFileAttributesW(Wide(path).data()) != INVALID_FILE_ATTRIBUTES;
    }
    return true;
}

class RefusedCall : public FilesContract, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedCall, ReportsWindowsCodeAndChangesNothing) {
    MakeScene(scratch);
    SetLastError(0);
    const bool succeeded = Perform(scratch, GetParam());
    const DWORD error = GetLastError();
    EXPECT_FALSE(succeeded);
    EXPECT_EQ(error, GetParam().error);
    ExpectSceneUnchanged(scratch);
}

INSTANTIATE_TEST_SUITE_P(Files, RefusedCall, ::testing::ValuesIn(Refusals),
                         [](const auto& instance) { return std::string(instance.param.name); });

// ------------------------------------------------------------ unique names

TEST(ProcessAndTicksContract, TickCountAdvancesInMilliseconds) {
    const DWORD first = GetTickCount();
    DWORD later = first;
    for (int i = 0; i < 100000000 && later - first < 20; ++i) later = GetTickCount();
    EXPECT_GE(later - first, 20u);
    EXPECT_LT(later - first, 1000u);
    EXPECT_NE(GetCurrentProcessId(), 0u);
}

}  // namespace
}  // namespace holwerk
