#pragma once

#include <cstdint>
#include <string>

#include "platform/win32.h"

namespace holwerk {

/// True when a file or folder of that name exists and can be queried.
bool FileExists(const std::string& path);

/// Source of the tick count in temporary names; the program passes GetTickCount.
using TickSource = DWORD (*)();

/// Creates path + infix + process ID + "-" + tick count + "-" + attempt
/// exclusively, trying attempts 1 to 20 while the name is taken. tempPath
/// receives the last name tried, handle the open file. On failure
/// invalidName tells a name that cannot be converted from a refused
/// creation, whose code is in error.
bool CreateUniqueFile(const std::string& path, const char* infix, TickSource tickSource,
                      std::string& tempPath, HANDLE& handle, bool& invalidName, DWORD& error);

/// Creates a new, exclusive file beside the target, named target + ".part-"
/// + process ID + "-" + tick count + "-" + attempt; tries up to 20 names.
/// tempPath receives the last name tried, handle the open file.
bool CreateTemporaryOutputFile(const std::string& targetPath, std::string& tempPath, HANDLE& handle,
                               std::string& errorMessage);

/// CreateTemporaryOutputFile with the tick counts taken from tickSource.
bool CreateTemporaryOutputFile(const std::string& targetPath, TickSource tickSource,
                               std::string& tempPath, HANDLE& handle, std::string& errorMessage);

/// Writes all `length` bytes, continuing after short writes.
bool WriteAllBytes(HANDLE handle, const void* data, std::uint32_t length,
                   std::string& errorMessage);

/// Renames the closed temporary file onto the target, write-through; replaces
/// an existing target only when allowed. Empties tempPath on success.
bool CommitOutputFile(std::string& tempPath, const std::string& targetPath, bool replaceExisting,
                      std::string& errorMessage);

/// Removes a temporary file that was not committed (closed, or open where
/// the platform allows it). A file that is already gone has left nothing
/// behind and counts as removed; errorMessage says why one stays.
bool DiscardTemporaryOutputFile(const std::string& tempPath, std::string& errorMessage);

}  // namespace holwerk
