// Fuzzes the judgement of a response's framing headers, which come from any
// server, against the rule written out plainly here. Each input line is one
// header line: "L" and a Content-Length value, or "T" and a
// Transfer-Encoding value; other lines are ignored.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "http/response.h"

namespace holwerk {
namespace {

std::vector<std::string> Members(const std::string& value) {
    std::vector<std::string> members;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t comma = value.find(',', begin);
        std::string member =
            value.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin);
        const std::size_t first = member.find_first_not_of(" \t");
        member = first == std::string::npos
                     ? ""
                     : member.substr(first, member.find_last_not_of(" \t") + 1 - first);
        members.push_back(member);
        if (comma == std::string::npos) return members;
        begin = comma + 1;
    }
}

// Digits only, and at most 2^64 - 1 once leading zeros are gone.
bool FitsAsDecimal(const std::string& text, std::string& canonical) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const std::size_t first = text.find_first_not_of('0');
    canonical = first == std::string::npos ? "0" : text.substr(first);
    const std::string largest = "18446744073709551615";
    return canonical.size() < largest.size() ||
           (canonical.size() == largest.size() && canonical <= largest);
}

BodyFraming Reference(const std::vector<std::string>& lengths,
                      const std::vector<std::string>& encodings, std::string& agreed) {
    if (!encodings.empty()) {
        if (encodings.size() != 1) return BodyFraming::Invalid;
        const std::vector<std::string> members = Members(encodings[0]);
        if (members.size() != 1) return BodyFraming::Invalid;
        std::string lower = members[0];
        for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        return lower == "chunked" ? BodyFraming::Chunked : BodyFraming::Invalid;
    }
    if (lengths.empty()) return BodyFraming::UntilClose;
    agreed.clear();
    for (const std::string& line : lengths) {
        for (const std::string& member : Members(line)) {
            std::string canonical;
            if (!FitsAsDecimal(member, canonical)) return BodyFraming::Invalid;
            if (!agreed.empty() && canonical != agreed) return BodyFraming::Invalid;
            agreed = canonical;
        }
    }
    return BodyFraming::Length;
}

}  // namespace
}  // namespace holwerk

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lengths, encodings;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(begin, end - begin);
        if (!line.empty() && line[0] == 'L') lengths.push_back(line.substr(1));
        if (!line.empty() && line[0] == 'T') encodings.push_back(line.substr(1));
        begin = end + 1;
    }
    std::uint64_t length = 0;
    std::string agreed;
    const holwerk::BodyFraming framing = holwerk::ReadBodyFraming(lengths, encodings, length);
    const holwerk::BodyFraming expected = holwerk::Reference(lengths, encodings, agreed);
    holwerk::FuzzCheck(framing == expected, "framing judged as the plain rule says");
    if (framing == holwerk::BodyFraming::Length) {
        holwerk::FuzzCheck(std::to_string(length) == agreed, "the length every line agrees on");
    }
    return 0;
}
