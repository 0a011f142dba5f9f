#pragma once

// Test helpers: a private folder per test, and whole-file reads and writes
// that go through the standard library rather than the code under test.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "platform/path_separator.h"
#include "platform/win32.h"

namespace holwerk {

/// The UTF-8 text of a standard-library path.
inline std::string Utf8Of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

/// A standard-library path for UTF-8 text.
inline std::filesystem::path PathOfUtf8(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

/// A new empty folder below the system's temporary folder, removed with its
/// contents at the end of the test.
class ScratchFolder {
  public:
    ScratchFolder() {
        std::filesystem::path folder;
        for (unsigned attempt = 0; folder.empty() || !std::filesystem::create_directory(folder);) {
            folder = std::filesystem::temp_directory_path() /
                     ("holwerk-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                      std::to_string(GetTickCount()) + "-" + std::to_string(attempt++));
        }
        path_ = Utf8Of(folder);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(PathOfUtf8(path_), ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    /// The folder's own path, UTF-8, without a trailing separator.
    const std::string& path() const { return path_; }

    /// The path of `name` inside the folder.
    std::string Path(const std::string& name) const { return path_ + PathSeparator + name; }

  private:
    std::string path_;
};

/// The names in the folder at `path`, sorted.
inline std::vector<std::string> Entries(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(PathOfUtf8(path)))
        names.push_back(Utf8Of(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}

/// Writes `bytes` as the whole file at `path`.
inline void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream file(PathOfUtf8(path), std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

/// The whole file at `path`; "<missing>" when it cannot be opened.
inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(PathOfUtf8(path), std::ios::binary);
    if (!file) return "<missing>";
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace holwerk
