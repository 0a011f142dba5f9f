// Fuzzes the command line: the input is split into arguments at NUL bytes and
// parsed as the program would parse them. Whatever the arguments, a parse
// either fails with one of its German sentences or yields options that the
// download can use as they are.

#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/command_line.h"
#include "cli/target_url.h"
#include "common/ascii.h"
#include "fuzz_check.h"

namespace holwerk {
namespace {

bool IsKnownParseMessage(const std::string& message) {
    static const char* const Known[] = {
        "Ein leeres Argument ist nicht zulässig.",
        "Nach --timeout wird eine ganze Zahl erwartet.",
        "Der Timeout muss zwischen 1 und 300 Sekunden liegen.",
        "Nach --max-redirects wird eine ganze Zahl erwartet.",
        "Die Zahl der Weiterleitungen muss zwischen 0 und 20 liegen.",
        "Zu viele Positionsparameter.",
        "Die URL fehlt.",
        "Die URL darf keine Leerzeichen enthalten.",
        "Unterstützt werden ausschließlich HTTP- und HTTPS-URLs.",
    };
    for (const char* known : Known) {
        if (message == known) return true;
    }
    // The refused argument follows as typed; it is an option word, so it
    // begins with "-".
    return message.starts_with("Unbekannter Parameter: -");
}

bool HasHttpScheme(const std::string& url) {
    const std::string lower = ToAsciiLower(url);
    return lower.starts_with("http://") || lower.starts_with("https://");
}

void CheckParse(const CommandArgs& args) {
    DownloadOptions options;
    CommandAction action = CommandAction::Download;
    std::string message = "stale";
    if (!ParseCommandLine(args, options, action, message)) {
        FuzzCheck(!message.empty(), "a failed parse has a message");
        FuzzCheck(IsKnownParseMessage(message), "a failed parse gives one of its own messages");
        return;
    }
    FuzzCheck(message.empty(), "a successful parse leaves no message");
    FuzzCheck(options.timeoutSeconds >= 1 && options.timeoutSeconds <= 300,
              "time-out within 1..300");
    FuzzCheck(options.maxRedirects >= 0 && options.maxRedirects <= 20,
              "redirect limit within 0..20");
    FuzzCheck(options.method == "GET" || options.method == "HEAD", "method is GET or HEAD");
    if (action != CommandAction::Download) {
        FuzzCheck(action == CommandAction::Help || action == CommandAction::Version,
                  "action is download, help or version");
        return;
    }
    FuzzCheck(HasHttpScheme(options.url), "the URL starts with http:// or https://");
    FuzzCheck(options.url.find(' ') == std::string::npos, "the URL holds no blank");
    FuzzCheck(!options.outputPath.empty(), "an output path is always set");
}

void CheckNormalisation(const std::string& typed) {
    std::string normalized;
    std::string message;
    if (!NormalizeTargetUrl(typed, normalized, message)) {
        FuzzCheck(!message.empty(), "a refused URL has a message");
        return;
    }
    FuzzCheck(HasHttpScheme(normalized), "a normalised URL has an http scheme");
    FuzzCheck(normalized.find(' ') == std::string::npos, "a normalised URL holds no blank");
    // Normalising again changes nothing: the run sequence may print the URL
    // it hands on, and a user who types that back gets the same request.
    std::string again;
    FuzzCheck(NormalizeTargetUrl(normalized, again, message) && again == normalized,
              "normalisation is idempotent");
}

}  // namespace
}  // namespace holwerk

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    holwerk::CommandArgs args;
    if (!input.empty()) {
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = input.find('\0', start);
            args.push_back(input.substr(start, end - start));
            if (end == std::string::npos) break;
            start = end + 1;
        }
    }
    holwerk::CheckParse(args);
    if (!args.empty()) holwerk::CheckNormalisation(args.front());
    return 0;
}
