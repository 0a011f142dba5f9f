#pragma once

#include <string>

#include "storage/temporary_output.h"

namespace holwerk {

/// Creates the last level of `path`; an existing entry of that name counts.
bool EnsureDirectory(const std::string& path);

/// The program's per-user folder (local application data, then
/// TolvikSoftware, then Holwerk), both levels created when missing.
bool GetUserDataFolder(std::string& folder);

/// Reads a whole file of at most 65536 bytes; content is "" on failure.
bool ReadTextFile(const std::string& path, std::string& content);

/// Replaces the file with exactly `content` through a ".tmp-" file and a
/// rename, so that a reader never sees a partly written file; the tick
/// counts of the temporary name come from tickSource.
bool WriteTextFileAtomic(const std::string& path, const std::string& content,
                         TickSource tickSource = SystemTicks);

}  // namespace holwerk
