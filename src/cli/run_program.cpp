#include "cli/run_program.h"

#include <cstdint>
#include <string>

#include "cli/command_line.h"
#include "cli/console_output.h"
#include "cli/help_text.h"
#include "common/exit_codes.h"
#include "common/records.h"
#include "http/download.h"
#include "platform/win32.h"
#include "update/update_check.h"

namespace holwerk {

namespace {

// The process takes the low 32 bits of the download's exit code.
int ProcessExitCode(std::int64_t code) {
    return static_cast<int>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(code)));
}

}  // namespace

int RunProgram() {
    // The result does not matter: when the output is not a console the bytes
    // are the same UTF-8 either way.
    SetConsoleOutputCP(CP_UTF8);

    DownloadOptions options;
    DownloadResult result;
    CommandArgs args;
    CommandAction action = CommandAction::Download;
    std::string errorMessage;
    std::string updateMessage;
    std::string updateDownloadUrl;

    if (!ReadCommandLine(args, errorMessage)) {
        WriteErrorLine("Fehler: " + errorMessage);
        return ProcessExitCode(ExitBadCommandLine);
    }
    if (!ParseCommandLine(args, options, action, errorMessage)) {
        WriteErrorLine("Fehler: " + errorMessage);
        WriteErrorLine("Verwenden Sie --help für die vollständige Hilfe.");
        return ProcessExitCode(ExitBadCommandLine);
    }
    if (action == CommandAction::Help) {
        PrintHelp();
        return ProcessExitCode(ExitSuccess);
    }
    if (action == CommandAction::Version) {
        PrintVersion();
        return ProcessExitCode(ExitSuccess);
    }

    // Notices and the refusal are shown also with --quiet: they concern the
    // user, not the report of this download.
    const UpdateCheckStatus updateStatus = UpdateCheck(updateMessage, updateDownloadUrl);
    if (static_cast<std::int64_t>(updateStatus) > 0) WriteErrorLine(updateMessage);
    if (updateStatus == UpdateCheckStatus::Blocked) {
        WriteErrorLine("Download: " + updateDownloadUrl);
        return ProcessExitCode(ExitUpdateRequired);
    }

    if (!options.quiet) {
        WriteOutputLine(VersionLine());
        WriteOutputLine(options.method + " " + options.url);
    }

    if (!DownloadToFile(options, result)) {
        WriteErrorLine("Fehler: " + result.errorMessage);
        if (result.httpStatus > 0) {
            WriteErrorLine("HTTP-Status: " + std::to_string(result.httpStatus));
        }
        return ProcessExitCode(result.exitCode);
    }

    if (!options.quiet) {
        WriteOutputLine("Gespeichert: " + options.outputPath);
        WriteOutputLine("Bytes: " + std::to_string(result.byteCount));
        WriteOutputLine("HTTP-Status: " + std::to_string(result.httpStatus));
        if (result.redirectCount > 0) {
            WriteOutputLine("Weiterleitungen: " + std::to_string(result.redirectCount));
            WriteOutputLine("Ziel-URL: " + result.finalUrl);
        }
    }
    return ProcessExitCode(ExitSuccess);
}

}  // namespace holwerk
