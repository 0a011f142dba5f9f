#pragma once

#include <cstdint>
#include <string>

#include "platform/win32.h"

namespace holwerk {

// A temporary file's whole life: created exclusively beside its target,
// written, flushed and closed by its owner, then committed onto the target
// or discarded. The download's files take the infix ".part-", the per-user
// files ".tmp-".

/// True when a file or folder of that name exists and can be queried.
bool FileExists(const std::string& path);

/// Names tried for one temporary file before its creation gives up.
inline constexpr int MaxTemporaryNameAttempts = 20;

/// Where the tick counts of temporary names come from: the program's is the
/// system's tick count; a unit test may count instead.
using TickSource = DWORD (*)();

/// The system's tick count, GetTickCount.
DWORD SystemTicks();

/// Creates path + infix + process ID + "-" + tick count + "-" + attempt
/// exclusively, with a fresh tick count for every attempt, trying the next
/// attempt while the name is taken, up to MaxTemporaryNameAttempts.
/// tempPath receives the last name tried, handle the open file.
bool CreateTemporaryFile(const std::string& path, const char* infix, TickSource tickSource,
                         std::string& tempPath, HANDLE& handle, std::string& errorMessage);

/// CreateTemporaryFile of the download: target + ".part-" + ..., with the
/// system's tick count.
bool CreateTemporaryOutputFile(const std::string& targetPath, std::string& tempPath, HANDLE& handle,
                               std::string& errorMessage);

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
