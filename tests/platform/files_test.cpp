// What the program relies on from the file functions: exclusive creation that
// reports a taken name, reads and writes of exact sizes, a flush, a rename
// that replaces or refuses an existing target, and Windows' error codes.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "storage/text_encoding.h"
#include "support/scratch_folder.h"

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

// The last error right after a call that is expected to fail, or a marker.
DWORD ErrorOfFailedOpen(HANDLE handle) {
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return 0xDEADBEEF;
    }
    return GetLastError();
}

class FilesContract : public ::testing::Test {
  protected:
    ScratchFolder scratch;
};

// ------------------------------------------------------------ creating

TEST_F(FilesContract, CreateNewMakesAnEmptyFile) {
    const std::string path = scratch.Path("neu.bin");
    const HANDLE file = CreateNew(path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(ReadWholeFile(path), "");
}

TEST_F(FilesContract, CreateNewOnATakenFileNameFailsWithFileExistsAndKeepsTheFile) {
    const std::string path = scratch.Path("vorhanden.bin");
    WriteWholeFile(path, "alt");
    SetLastError(0);
    EXPECT_EQ(ErrorOfFailedOpen(CreateNew(path)), ERROR_FILE_EXISTS);
    EXPECT_EQ(ReadWholeFile(path), "alt");
}

TEST_F(FilesContract, CreateNewOnAFolderNameFailsWithFileExists) {
    const std::string path = scratch.Path("ordner");
    std::filesystem::create_directory(PathOfUtf8(path));
    EXPECT_EQ(ErrorOfFailedOpen(CreateNew(path)), ERROR_FILE_EXISTS);
    EXPECT_TRUE(std::filesystem::is_directory(PathOfUtf8(path)));
}

TEST_F(FilesContract, CreateNewInAMissingFolderFailsWithPathNotFound) {
    EXPECT_EQ(ErrorOfFailedOpen(CreateNew(scratch.Path("fehlt") + PathSeparator + "x.bin")),
              ERROR_PATH_NOT_FOUND);
}

TEST_F(FilesContract, CreateNewBelowAFileFailsWithPathNotFound) {
    WriteWholeFile(scratch.Path("datei"), "x");
    EXPECT_EQ(ErrorOfFailedOpen(CreateNew(scratch.Path("datei") + PathSeparator + "x.bin")),
              ERROR_PATH_NOT_FOUND);
}

// ------------------------------------------------------------ opening

TEST_F(FilesContract, OpenExistingOfAMissingFileFailsWithFileNotFound) {
    EXPECT_EQ(ErrorOfFailedOpen(OpenForReading(scratch.Path("fehlt.txt"))), ERROR_FILE_NOT_FOUND);
}

TEST_F(FilesContract, OpenExistingInAMissingFolderFailsWithPathNotFound) {
    EXPECT_EQ(ErrorOfFailedOpen(OpenForReading(scratch.Path("fehlt") + PathSeparator + "x.txt")),
              ERROR_PATH_NOT_FOUND);
}

TEST_F(FilesContract, OpenExistingOfAFolderForReadingFailsWithAccessDenied) {
    EXPECT_EQ(ErrorOfFailedOpen(OpenForReading(scratch.path())), ERROR_ACCESS_DENIED);
}

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

TEST_F(FilesContract, WriteToAFileOpenedForReadingFails) {
    const std::string path = scratch.Path("lesen.txt");
    WriteWholeFile(path, "abc");
    const HANDLE file = OpenForReading(path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 99;
    EXPECT_FALSE(WriteFile(file, "x", 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(written, 0u);
    CloseHandle(file);
    EXPECT_EQ(ReadWholeFile(path), "abc");
}

TEST_F(FilesContract, ReadOfTheExactSizeDeliversEveryByteAndThenZero) {
    const std::string path = scratch.Path("lesen.bin");
    std::string data(70000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
    WriteWholeFile(path, data);
    const HANDLE file = OpenForReading(path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileSize(file, nullptr), data.size());
    std::string buffer(data.size(), 'x');
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr));
    EXPECT_EQ(read, data.size());
    EXPECT_EQ(buffer, data);
    EXPECT_TRUE(ReadFile(file, buffer.data(), 10, &read, nullptr));
    EXPECT_EQ(read, 0u);
    CloseHandle(file);
}

TEST_F(FilesContract, GetFileSizeOfAnEmptyFileIsZero) {
    const std::string path = scratch.Path("leer.bin");
    WriteWholeFile(path, "");
    const HANDLE file = OpenForReading(path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD high = 99;
    EXPECT_EQ(GetFileSize(file, &high), 0u);
    EXPECT_EQ(high, 0u);
    CloseHandle(file);
}

TEST_F(FilesContract, GetFileSizeGivesTheHighPartOfAFileOfFourGibibytesAndMore) {
    const std::string path = scratch.Path("gross.bin");
    WriteWholeFile(path, "");
    // Sparse where the file system allows it; no data is written.
    std::filesystem::resize_file(PathOfUtf8(path), 0x100000005ull);
    const HANDLE file = OpenForReading(path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD high = 0;
    EXPECT_EQ(GetFileSize(file, &high), 5u);
    EXPECT_EQ(high, 1u);
#ifndef _WIN32
    // Windows hands back the low part alone; this layer refuses to.
    SetLastError(0);
    EXPECT_EQ(GetFileSize(file, nullptr), INVALID_FILE_SIZE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_TOO_LARGE);
#endif
    CloseHandle(file);
}

// ------------------------------------------------------------ renaming

struct MoveCase {
    const char* name;
    DWORD flags;
};

class MoveOntoExistingTarget : public FilesContract,
                               public ::testing::WithParamInterface<MoveCase> {};

TEST_P(MoveOntoExistingTarget, WithoutReplacingFailsWithAlreadyExistsAndKeepsBoth) {
    const std::string from = scratch.Path("neu.tmp");
    const std::string to = scratch.Path("ziel.txt");
    WriteWholeFile(from, "neu");
    WriteWholeFile(to, "alt");
    SetLastError(0);
    EXPECT_FALSE(MoveFileExW(Wide(from).data(), Wide(to).data(), GetParam().flags));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ReadWholeFile(from), "neu");
    EXPECT_EQ(ReadWholeFile(to), "alt");
}

TEST_P(MoveOntoExistingTarget, WithReplacingReplacesTheTarget) {
    const std::string from = scratch.Path("neu.tmp");
    const std::string to = scratch.Path("ziel.txt");
    WriteWholeFile(from, "neu");
    WriteWholeFile(to, "alt");
    EXPECT_TRUE(MoveFileExW(Wide(from).data(), Wide(to).data(),
                            GetParam().flags | MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(ReadWholeFile(to), "neu");
    EXPECT_FALSE(std::filesystem::exists(PathOfUtf8(from)));
}

TEST_P(MoveOntoExistingTarget, ToAFreeNameMovesTheFile) {
    const std::string from = scratch.Path("neu.tmp");
    const std::string to = scratch.Path("frei.txt");
    WriteWholeFile(from, "neu");
    EXPECT_TRUE(MoveFileExW(Wide(from).data(), Wide(to).data(), GetParam().flags));
    EXPECT_EQ(ReadWholeFile(to), "neu");
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"frei.txt"});
}

INSTANTIATE_TEST_SUITE_P(FlagSets, MoveOntoExistingTarget,
                         ::testing::Values(MoveCase{"Plain", 0},
                                           MoveCase{"WriteThrough", MOVEFILE_WRITE_THROUGH}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FilesContract, MoveWithReplacingOntoAFolderFailsWithAccessDeniedAndKeepsBoth) {
    const std::string from = scratch.Path("neu.tmp");
    const std::string to = scratch.Path("ordner");
    WriteWholeFile(from, "neu");
    std::filesystem::create_directory(PathOfUtf8(to));
    WriteWholeFile(to + PathSeparator + "inhalt.txt", "bleibt");
    SetLastError(0);
    EXPECT_FALSE(MoveFileExW(Wide(from).data(), Wide(to).data(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadWholeFile(from), "neu");
    EXPECT_EQ(ReadWholeFile(to + PathSeparator + "inhalt.txt"), "bleibt");
}

TEST_F(FilesContract, MoveOfAMissingFileFailsWithFileNotFound) {
    EXPECT_FALSE(MoveFileExW(Wide(scratch.Path("fehlt.tmp")).data(),
                             Wide(scratch.Path("ziel.txt")).data(), MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FilesContract, MoveIntoAMissingFolderFailsWithPathNotFound) {
    const std::string from = scratch.Path("neu.tmp");
    WriteWholeFile(from, "neu");
    EXPECT_FALSE(MoveFileExW(Wide(from).data(),
                             Wide(scratch.Path("fehlt") + PathSeparator + "ziel.txt").data(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(ReadWholeFile(from), "neu");
}

// ------------------------------------------------------------ deleting

TEST_F(FilesContract, DeleteRemovesAFile) {
    const std::string path = scratch.Path("weg.txt");
    WriteWholeFile(path, "x");
    EXPECT_TRUE(DeleteFileW(Wide(path).data()));
    EXPECT_TRUE(scratch.Entries().empty());
}

TEST_F(FilesContract, DeleteOfAMissingFileFailsWithFileNotFound) {
    EXPECT_FALSE(DeleteFileW(Wide(scratch.Path("fehlt.txt")).data()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FilesContract, DeleteInAMissingFolderFailsWithPathNotFound) {
    EXPECT_FALSE(DeleteFileW(Wide(scratch.Path("fehlt") + PathSeparator + "x.txt").data()));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(FilesContract, DeleteOfAFolderFailsWithAccessDenied) {
    const std::string path = scratch.Path("ordner");
    std::filesystem::create_directory(PathOfUtf8(path));
    EXPECT_FALSE(DeleteFileW(Wide(path).data()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(std::filesystem::is_directory(PathOfUtf8(path)));
}

// ------------------------------------------------------------ folders

TEST_F(FilesContract, CreateDirectoryMakesTheLastLevel) {
    const std::string path = scratch.Path("neu");
    EXPECT_TRUE(CreateDirectoryW(Wide(path).data(), nullptr));
    EXPECT_TRUE(std::filesystem::is_directory(PathOfUtf8(path)));
}

TEST_F(FilesContract, CreateDirectoryOfATakenNameFailsWithAlreadyExists) {
    WriteWholeFile(scratch.Path("datei"), "x");
    for (const std::string& path : {scratch.path(), scratch.Path("datei")}) {
        SetLastError(0);
        EXPECT_FALSE(CreateDirectoryW(Wide(path).data(), nullptr)) << path;
        EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS) << path;
    }
    EXPECT_EQ(ReadWholeFile(scratch.Path("datei")), "x");
}

TEST_F(FilesContract, CreateDirectoryBelowAMissingFolderFailsWithPathNotFound) {
    EXPECT_FALSE(
        CreateDirectoryW(Wide(scratch.Path("fehlt") + PathSeparator + "neu").data(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

// ------------------------------------------------------------ attributes

TEST_F(FilesContract, AttributesTellFoldersFromFiles) {
    WriteWholeFile(scratch.Path("datei"), "x");
    const DWORD folder = GetFileAttributesW(Wide(scratch.path()).data());
    const DWORD file = GetFileAttributesW(Wide(scratch.Path("datei")).data());
    ASSERT_NE(folder, INVALID_FILE_ATTRIBUTES);
    ASSERT_NE(file, INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(folder & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(file & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST_F(FilesContract, AttributesOfAMissingEntryAreInvalid) {
    EXPECT_EQ(GetFileAttributesW(Wide(scratch.Path("fehlt")).data()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesW(Wide(scratch.Path("fehlt") + PathSeparator + "x").data()),
              INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(FilesContract, AttributesOfAnEmptyPathAreInvalid) {
    const WCHAR empty[1] = {0};
    EXPECT_EQ(GetFileAttributesW(empty), INVALID_FILE_ATTRIBUTES);
}

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
