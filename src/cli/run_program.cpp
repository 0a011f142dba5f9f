#include "cli/run_program.h"

#include <cstdint>
#include <string>

#include "cli/command_line.h"
#include "cli/console_output.h"
#include "cli/help_text.h"
#include "common/records.h"
#include "http/download.h"
#include "platform/win32.h"
#include "update/update_check.h"

namespace holwerk {

namespace {

constexpr int ExitSuccess = 0;
constexpr int ExitBadCommandLine = 2;
constexpr int ExitUpdateRequired = 8;

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
        return ExitBadCommandLine;
    }
    if (!ParseCommandLine(args, options, action, errorMessage)) {
        WriteErrorLine("Fehler: " + errorMessage);
        WriteErrorLine("Verwenden Sie --help für die vollständige Hilfe.");
        return ExitBadCommandLine;
    }
    if (action == CommandAction::Help) {
        PrintHelp();
        return ExitSuccess;
    }
    if (action == CommandAction::Version) {
        PrintVersion();
        return ExitSuccess;
    }

    // Notices and the refusal are shown also with --quiet: they concern the
    // user, not the report of this download.
    const UpdateCheckStatus updateStatus = UpdateCheck(updateMessage, updateDownloadUrl);
    if (static_cast<std::int64_t>(updateStatus) > 0) WriteErrorLine(updateMessage);
    if (updateStatus == UpdateCheckStatus::Blocked) {
        WriteErrorLine("Download: " + updateDownloadUrl);
        return ExitUpdateRequired;
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
    return ExitSuccess;
}

}  // namespace holwerk
