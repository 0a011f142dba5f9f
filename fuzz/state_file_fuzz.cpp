// Fuzzes the reading of the update state file. The file lies in the user's
// folder and may hold anything: whatever its bytes, each value is one line's
// rest without line ends or surrounding blanks, and a state the program wrote
// reads back as written.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "update/state_file.h"

namespace holwerk {
namespace {

const char* const Keys[] = {"last_check", "newer_seen", "latest_version", "download_url"};

void CheckValue(const std::string& text, const std::string& key) {
    const std::string value = GetStateValue(text, key);
    const std::size_t found = text.find(key + "=");
    if (found == std::string::npos) {
        FuzzCheck(value.empty(), "an absent key reads as empty");
        return;
    }
    FuzzCheck(value.find('\n') == std::string::npos, "a value never spans lines");
    // The rest of the key's line, without the line end and surrounding blanks.
    const std::size_t start = found + key.size() + 1;
    std::string line = text.substr(start, text.find('\n', start) - start);
    while (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t first = line.find_first_not_of(' ');
    const std::string expected = first == std::string::npos
                                     ? ""
                                     : line.substr(first, line.find_last_not_of(' ') + 1 - first);
    FuzzCheck(value == expected, "the value is the rest of the key's line, trimmed");
}

// A value the program could have written and reads back unchanged: one line,
// no blanks at its ends, no key of the file inside it.
bool IsPlainValue(const std::string& value) {
    if (value.find_first_of("\r\n") != std::string::npos) return false;
    if (!value.empty() && (value.front() == ' ' || value.back() == ' ')) return false;
    for (const char* key : Keys) {
        if (value.find(std::string(key) + "=") != std::string::npos) return false;
    }
    return true;
}

}  // namespace
}  // namespace holwerk

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const char* key : holwerk::Keys) holwerk::CheckValue(text, key);
    // The first line of the input names one more key to look up.
    const std::size_t lineEnd = text.find('\n');
    if (lineEnd != std::string::npos && lineEnd > 0) {
        holwerk::CheckValue(text.substr(lineEnd + 1), text.substr(0, lineEnd));
    }

    // The input cut at NUL bytes into four values: a state written whole
    // reads back whole.
    holwerk::UpdateState written;
    std::string* fields[] = {&written.lastCheck, &written.newerSeen, &written.latestVersion,
                             &written.downloadUrl};
    std::size_t start = 0;
    for (std::string* field : fields) {
        const std::size_t end = text.find('\0', start);
        *field = text.substr(start, end == std::string::npos ? end : end - start);
        start = end == std::string::npos ? text.size() : end + 1;
    }
    for (std::string* field : fields) {
        if (!holwerk::IsPlainValue(*field)) return 0;
    }
    holwerk::UpdateState read;
    holwerk::ReadUpdateState(holwerk::FormatUpdateState(written), read);
    holwerk::FuzzCheck(read.lastCheck == written.lastCheck && read.newerSeen == written.newerSeen &&
                           read.latestVersion == written.latestVersion &&
                           read.downloadUrl == written.downloadUrl,
                       "a written state reads back unchanged");
    return 0;
}
