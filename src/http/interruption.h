#pragma once

#include <string>

#include "platform/win32.h"

namespace holwerk {

// An interrupted download must not leave its temporary file behind. On
// Ctrl+C, Ctrl+Break or the console's close (on the native build every
// signal that ends a process by default and can be caught) a handler on a
// thread of its own closes the request the download may be blocked in,
// waits until the download has removed its temporary file, and then lets
// the process end the way that interruption ends it by default. When the
// download's clean-up does not come within the wait (a flush that takes
// long), the handler removes the temporary file itself, which POSIX allows
// for an open file (Windows does not, and there the file stays). The
// download itself prints nothing more.

/// Installs the handler (once per process) and marks a download as running.
void BeginInterruptibleDownload();

/// Hands the open request to the handler; false when an interruption has
/// already come, and then the caller stops.
bool WatchRequest(HINTERNET request);

/// Hands the download's temporary file to the handler, for the case that
/// the download's own clean-up does not come in time.
void WatchTemporaryFile(const std::string& path);

/// Closes a request, handed over or not, unless the handler already has.
void CloseWatchedRequest(HINTERNET request);

/// Whether an interruption has come.
bool DownloadInterrupted();

/// Marks the download's clean-up as done. After an interruption it never
/// returns: the handler ends the process.
void EndInterruptibleDownload();

}  // namespace holwerk
