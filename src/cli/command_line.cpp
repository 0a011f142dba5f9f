#include "cli/command_line.h"

#include "cli/target_url.h"
#include "common/ascii.h"
#include "platform/win32.h"
#include "storage/text_encoding.h"

namespace holwerk {

namespace {

struct NumberOption {
    std::int64_t lowest;
    std::int64_t highest;
    const char* missingMessage;
    std::string rangeMessage;
};

const NumberOption TimeoutOption = {
    MinTimeoutSeconds, MaxTimeoutSeconds, "Nach --timeout wird eine ganze Zahl erwartet.",
    "Der Timeout muss zwischen " + std::to_string(MinTimeoutSeconds) + " und " +
        std::to_string(MaxTimeoutSeconds) + " Sekunden liegen."};
const NumberOption RedirectOption = {
    MinRedirectLimit, MaxRedirectLimit, "Nach --max-redirects wird eine ganze Zahl erwartet.",
    "Die Zahl der Weiterleitungen muss zwischen " + std::to_string(MinRedirectLimit) + " und " +
        std::to_string(MaxRedirectLimit) + " liegen."};

// Takes the argument after position `at` as the option's value and moves `at`
// onto it. Any argument counts as the value, even an option word.
bool ReadNumberValue(const CommandArgs& args, std::size_t& at, const NumberOption& option,
                     std::int64_t& value, std::string& errorMessage) {
    if (at + 1 >= args.size() || !IsAllDigits(args[at + 1])) {
        errorMessage = option.missingMessage;
        return false;
    }
    ++at;
    // Stop reading once past the upper bound, so any number of digits stays
    // out of range instead of wrapping around into it.
    std::int64_t number = 0;
    for (const char digit : args[at]) {
        number = number * 10 + (digit - '0');
        if (number > option.highest) break;
    }
    if (number < option.lowest || number > option.highest) {
        errorMessage = option.rangeMessage;
        return false;
    }
    value = number;
    return true;
}

}  // namespace

bool ReadCommandLine(CommandArgs& args, std::string& errorMessage) {
    errorMessage.clear();
    args.clear();
    int count = 0;
    LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
    const bool readable = list != nullptr && count > 0;
    if (readable) {
        // Element 0 is the program name.
        for (int i = 1; i < count; ++i) args.push_back(Utf16ToUtf8(list[i]));
    }
    if (list != nullptr) LocalFree(list);
    if (!readable) errorMessage = "Die Windows-Kommandozeile kann nicht gelesen werden.";
    return readable;
}

bool ParseCommandLine(const CommandArgs& args, DownloadOptions& options, CommandAction& action,
                      std::string& errorMessage) {
    options.url.clear();
    options.outputPath.clear();
    options.method = "GET";
    options.timeoutSeconds = DefaultTimeoutSeconds;
    options.maxRedirects = DefaultRedirectLimit;
    options.force = false;
    options.quiet = false;
    action = CommandAction::Download;
    errorMessage.clear();

    if (args.empty()) {
        action = CommandAction::Help;
        return true;
    }
    bool endOfOptions = false;
    for (std::size_t at = 0; at < args.size(); ++at) {
        const std::string& arg = args[at];
        if (arg.empty()) {
            errorMessage = "Ein leeres Argument ist nicht zulässig.";
            return false;
        }
        if (!endOfOptions) {
            const std::string key = ToAsciiLower(arg);
            if (key == "--") {
                endOfOptions = true;
                continue;
            }
            if (key == "-h" || key == "--help" || key == "/?") {
                action = CommandAction::Help;
                return true;
            }
            if (key == "--version") {
                action = CommandAction::Version;
                return true;
            }
            if (key == "-head" || key == "--head") {
                options.method = "HEAD";
                continue;
            }
            if (key == "--force") {
                options.force = true;
                continue;
            }
            if (key == "--quiet") {
                options.quiet = true;
                continue;
            }
            if (key == "--timeout") {
                if (!ReadNumberValue(args, at, TimeoutOption, options.timeoutSeconds,
                                     errorMessage)) {
                    return false;
                }
                continue;
            }
            if (key == "--max-redirects") {
                if (!ReadNumberValue(args, at, RedirectOption, options.maxRedirects,
                                     errorMessage)) {
                    return false;
                }
                continue;
            }
            if (key.front() == '-') {
                errorMessage = "Unbekannter Parameter: " + arg;
                return false;
            }
        }
        if (options.url.empty()) {
            options.url = arg;
        } else if (options.outputPath.empty()) {
            options.outputPath = arg;
        } else {
            errorMessage = "Zu viele Positionsparameter.";
            return false;
        }
    }

    std::string normalizedUrl;
    if (!NormalizeTargetUrl(options.url, normalizedUrl, errorMessage)) return false;
    options.url = normalizedUrl;
    if (options.outputPath.empty()) options.outputPath = "holwerk.out";
    return true;
}

bool IsAllDigits(const std::string& text) {
    if (text.empty()) return false;
    for (const char byte : text) {
        if (byte < '0' || byte > '9') return false;
    }
    return true;
}

}  // namespace holwerk
