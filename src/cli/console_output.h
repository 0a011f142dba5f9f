#pragma once

#include <string>

#include "platform/win32.h"

namespace holwerk {

/// Writes every byte to the handle, continuing partial writes. False when the
/// handle is null or invalid, or a write fails or takes no byte.
bool WriteAllToHandle(HANDLE handle, const std::string& bytes);

/// Writes text and CR LF to standard output. Once a line could not be written
/// whole, it and every later standard output line are dropped.
void WriteOutputLine(const std::string& text);

/// Writes text and CR LF to standard error with one WriteFile, unchecked.
void WriteErrorLine(const std::string& text);

}  // namespace holwerk
