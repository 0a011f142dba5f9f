// One fuzz program for every parser of input from outside the program: the
// first byte chooses the parser (modulo 8; the quotient is a parameter), the
// rest is its input. Each oracle judges what the parser hands back by what
// its caller relies on, never by a second copy of the parser's rules; a
// broken property aborts, so libFuzzer keeps the input.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "cli/command_line.h"
#include "common/ascii.h"
#include "http/response.h"
#include "http/url.h"
#include "identity/installation_id.h"
#include "platform/posix/wininet_headers.h"
#include "storage/text_encoding.h"
#include "update/manifest.h"
#include "update/state_file.h"

namespace holwerk {
namespace {

void Check(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

std::vector<std::string> Split(const std::string& text, char at) {
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(at, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

// The blanks of a header line.
constexpr char Blanks[] = " \t";

bool IsBlankByte(char c) { return c == ' ' || c == '\t'; }

// No control byte, blank or DEL, nor a byte from `limit` on.
bool Clean(const std::string& text, unsigned limit = 0x100) {
    return std::ranges::none_of(
        text, [&](unsigned char byte) { return byte <= 0x20 || byte == 0x7F || byte >= limit; });
}

void CommandLine(const std::string& input, unsigned) {
    const CommandArgs args = input.empty() ? CommandArgs{} : Split(input, '\0');
    DownloadOptions o;
    CommandAction action = CommandAction::Download;
    std::string message;
    if (!ParseCommandLine(args, o, action, message)) return Check(!message.empty(), "message");
    Check(o.timeoutSeconds >= MinTimeoutSeconds && o.timeoutSeconds <= MaxTimeoutSeconds &&
              o.maxRedirects >= MinRedirectLimit && o.maxRedirects <= MaxRedirectLimit,
          "time-out and redirect limit within their ranges");
    if (action != CommandAction::Download) return;
    const std::string url = ToAsciiLower(o.url);
    Check(url.starts_with("http:") || url.starts_with("https:"), "an http or https URL");
    Check(o.url.find(' ') == std::string::npos && !o.outputPath.empty(), "URL and path usable");
}

// Round trips show a conversion that accepts what is not UTF-8 (an overlong
// form or a surrogate comes back different); each buffer is exactly the
// size the call is told, so AddressSanitizer sees any write past it.
void TextEncoding(const std::string& text, unsigned parameter) {
    const auto capacity =
        std::max<std::int64_t>(1, std::ssize(text) + 1 - static_cast<int>(parameter % 4));
    std::vector<WCHAR> buffer(static_cast<std::size_t>(capacity));
    if (Utf8ToUtf16(text, buffer.data(), capacity)) {
        Check(Utf16ToUtf8(buffer.data()) == text.substr(0, text.find('\0')), "exact round trip");
    }
    // The same bytes as UTF-16 (zero-filled, so terminated): lone surrogates
    // and all must come out as valid UTF-8.
    std::vector<WCHAR> units(text.size() / 2 + 1);
    std::memcpy(units.data(), text.data(), text.size() / 2 * sizeof(WCHAR));
    const std::string back = Utf16ToUtf8(units.data());
    std::vector<WCHAR> again(back.size() + 1);
    Check(Utf8ToUtf16(back, again.data(), std::ssize(again)), "UTF-16 converts to valid UTF-8");
}

void Url(const std::string& input, unsigned) {
    const std::vector<std::string> parts = Split(input, '\0');
    std::string host, requestTarget, message, target;
    std::uint16_t port = 0;
    bool isHttps = false;
    const bool split = SplitHttpUrl(parts[0], host, requestTarget, port, isHttps, message);
    if (split) {
        Check(!host.empty() && port != 0 && requestTarget.starts_with("/"), "host, port, path");
        Check(requestTarget.find('#') == std::string::npos, "the fragment is never sent");
    }
    const bool fromHttps = split && isHttps;
    if (parts.size() < 2 || !ResolveRedirectTarget(parts[0], parts[1], target, message)) return;
    if (SplitHttpUrl(target, host, requestTarget, port, isHttps, message)) {
        Check(Clean(requestTarget) && Clean(host), "nothing of a Location breaks a request");
        Check(!fromHttps || isHttps || IsHttpsToHttpRedirect(parts[0], target),
              "no redirect from https to a URL read as http passes the check");
    }
}

void StateFile(const std::string& text, unsigned) {
    for (const char* key : {"last_check", "newer_seen", "latest_version", "download_url"}) {
        const std::string value = GetStateValue(text, key);
        Check(value.find('\n') == value.npos && value == TrimmedOf(value, " "),
              "a value is one line's rest, trimmed");
    }
}

void Manifest(const std::string& json, unsigned) {
    const std::string page = GetJsonStringValue(json, "download_url");
    Check((GetJsonStringValue(json, "version") + page).find('"') == std::string::npos,
          "a value never holds a quote");
    Check(!IsUsableDownloadPageUrl(page) || (IsHttpsUrl(page) && Clean(page, 0x80)),
          "a usable download page is printable ASCII https");
}

// A valid ID goes into the request URL and a file line as it is: it must be
// the text of a version-4 UUID, whatever the letter case.
void InstallationId(const std::string& text, unsigned) {
    if (!IsValidInstallationId(text)) return;
    const std::string id = ToAsciiLower(TrimmedOf(text, " "));
    std::vector<std::size_t> groups;
    for (const std::string& group : Split(id, '-')) groups.push_back(group.size());
    Check(groups == std::vector<std::size_t>{8, 4, 4, 4, 12} &&
              id.find_first_not_of("0123456789abcdef-") == id.npos && id[14] == '4',
          "a valid ID is a version-4 UUID's text");
}

// Lines "L<Content-Length>" and "T<Transfer-Encoding>". A length the program
// trusts is what every member of every line says, a chunked body is one
// chunked coding, and one plain length is always trusted.
void Framing(const std::string& text, unsigned) {
    std::vector<std::string> lengths, encodings;
    for (const std::string& line : Split(text, '\n')) {
        if (line.starts_with("L")) lengths.push_back(line.substr(1));
        if (line.starts_with("T")) encodings.push_back(line.substr(1));
    }
    std::uint64_t length = 0;
    switch (ReadBodyFraming(lengths, encodings, length)) {
        case BodyFraming::Length:
            Check(encodings.empty(), "no coding beside a length");
            for (const std::string& line : lengths) {
                for (const std::string& member : Split(line, ',')) {
                    const std::string digits = TrimmedOf(member, Blanks);
                    Check(!digits.empty() && digits.find_first_not_of("0123456789") == digits.npos,
                          "a length is digits");
                    const std::size_t first =
                        std::min(digits.find_first_not_of('0'), digits.size() - 1);
                    Check(digits.substr(first) == std::to_string(length),
                          "every member says the length");
                }
            }
            break;
        case BodyFraming::Chunked:
            Check(
                encodings.size() == 1 && ToAsciiLower(TrimmedOf(encodings[0], Blanks)) == "chunked",
                "chunked is one chunked coding");
            break;
        case BodyFraming::UntilClose:
            Check(lengths.empty() && encodings.empty(), "only nothing leaves the end to the close");
            break;
        case BodyFraming::Invalid:
            Check(lengths.size() != 1 || encodings.size() != 0 ||
                      lengths[0] != std::to_string(std::strtoull(lengths[0].c_str(), nullptr, 10)),
                  "a plain length is trusted");
            break;
    }
}

// Lines of a response head, the status line first, as the native client
// hands them over: a line is taken whole or not at all, a field is its
// line's name and trimmed value, and a framing field is never continued.
void ResponseLines(const std::string& text, unsigned) {
    posix::ResponseHead head;
    std::vector<std::string> taken;
    std::vector<std::pair<std::string, std::string>> fields;  // as their own lines say
    for (const std::string& line : Split(text, '\n')) {
        const posix::ResponseHead before = head;
        const std::size_t colon = line.find(':');
        const bool folded = !taken.empty() && !line.empty() && IsBlankByte(line.front());
        const bool malformed = !taken.empty() && !folded &&
                               (colon == line.npos || colon == 0 || IsBlankByte(line[colon - 1]));
        if (!posix::AddResponseLine(head, line)) {
            Check(head.lines == before.lines && head.fields == before.fields,
                  "a refused line changes nothing");
            continue;
        }
        Check(!malformed, "a line without a colon, or a blank before it, is refused");
        taken.push_back(line);
        if (!folded && taken.size() > 1) {
            fields.emplace_back(line.substr(0, colon), TrimmedOf(line.substr(colon + 1), Blanks));
            Check(head.fields.back() == fields.back(), "a field is its line's name and value");
        }
    }
    Check(head.lines == taken, "the raw lines are those taken, as they came");
    Check(head.fields.size() == fields.size(), "a folded line is never a field of its own");
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const auto& [name, value] = head.fields[i];
        Check(!name.empty() && name == TrimmedOf(name, Blanks) && value == TrimmedOf(value, Blanks),
              "no blank around a field's name or value");
        const std::string lower = ToAsciiLower(name);
        if (lower == "content-length" || lower == "transfer-encoding") {
            Check(head.fields[i] == fields[i], "a framing field is exactly its own line");
        }
    }
}

}  // namespace
}  // namespace holwerk

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    using Parser = void (*)(const std::string&, unsigned);
    const Parser parsers[] = {holwerk::CommandLine, holwerk::TextEncoding, holwerk::Url,
                              holwerk::StateFile,   holwerk::Manifest,     holwerk::InstallationId,
                              holwerk::Framing,     holwerk::ResponseLines};
    parsers[data[0] % std::size(parsers)](input,
                                          data[0] / static_cast<unsigned>(std::size(parsers)));
    return 0;
}
