#pragma once

#include <cstdint>
#include <string>

#include "platform/win32.h"

namespace holwerk {

/// Creates a new, exclusive file beside the target, named target + ".part-"
/// + process ID + "-" + tick count + "-" + attempt; tries up to 20 names.
/// tempPath receives the last name tried, handle the open file.
bool CreateTemporaryOutputFile(const std::string& targetPath, std::string& tempPath,
                               HANDLE& handle, std::string& errorMessage);

/// Writes all `length` bytes, continuing after short writes.
bool WriteAllBytes(HANDLE handle, const void* data, std::uint32_t length,
                   std::string& errorMessage);

/// Renames the closed temporary file onto the target, write-through; replaces
/// an existing target only when allowed. Empties tempPath on success.
bool CommitOutputFile(std::string& tempPath, const std::string& targetPath, bool replaceExisting,
                      std::string& errorMessage);

}  // namespace holwerk
