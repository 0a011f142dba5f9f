#pragma once

#include <string>

namespace holwerk {

/// Registry key below HKEY_CURRENT_USER that holds the installation ID.
inline constexpr char InstallationRegistryKey[] = "Software\\TolvikSoftware\\Holwerk";

/// Name of the registry value that holds the installation ID.
inline constexpr char InstallationIdValueName[] = "{3b7c9e14-5a2d-4f86-b0c3-91d4e6a72f58}";

/// Name of the file in the per-user folder that holds a copy of the ID.
inline constexpr char InstallationIdFileName[] = "installation-id.txt";

/// The installation ID for the per-user `folder`, reconciled between the
/// registry and the file (the registry wins; either restores the other; a
/// new ID is made only when neither holds one).
bool GetInstallationId(const std::string& folder, std::string& id);

/// A new random ID: a version-4 GUID as 36 lower-case characters.
bool NewInstallationId(std::string& id);

/// True when `text`, without blanks at either end and in lower case, is a
/// version-4 UUID of 36 characters.
bool IsValidInstallationId(const std::string& text);

/// The ID held in the registry, lower case and without surrounding blanks;
/// "" and false when there is none of the right type and form.
bool ReadRegistryInstallationId(std::string& id);

/// Stores a valid ID as the registry's REG_SZ value, creating the key.
bool WriteRegistryInstallationId(const std::string& id);

}  // namespace holwerk
