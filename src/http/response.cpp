#include "http/response.h"

#include <string>
#include <string_view>

#include "common/ascii.h"

namespace holwerk {

namespace {

// The members of a comma-separated header value, each without the blanks
// and tabs around it; an empty member is kept, so that it can be refused.
std::vector<std::string> ListMembers(const std::string& value) {
    std::vector<std::string> members;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t comma = value.find(',', begin);
        members.push_back(TrimmedOf(value.substr(begin, comma - begin), " \t"));
        if (comma == std::string::npos) return members;
        begin = comma + 1;
    }
}

// Plain decimal digits that fit 64 bits; no sign, no blank, no other base.
bool ReadDecimal(std::string_view text, std::uint64_t& value) {
    if (text.empty()) return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    return true;
}

bool IsChunked(const std::string& member) { return ToAsciiLower(member) == "chunked"; }

}  // namespace

bool IsRedirectStatus(std::uint32_t status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool IsSuccessStatus(std::uint32_t status) { return status >= 200 && status <= 299; }

BodyFraming ReadBodyFraming(const std::vector<std::string>& contentLengths,
                            const std::vector<std::string>& transferEncodings,
                            std::uint64_t& length) {
    // Chunked is the only coding a client can find the end of; a list such
    // as "gzip, chunked" or a second line would leave the end to a guess.
    if (!transferEncodings.empty()) {
        if (transferEncodings.size() != 1) return BodyFraming::Invalid;
        const std::vector<std::string> members = ListMembers(transferEncodings.front());
        return members.size() == 1 && IsChunked(members.front()) ? BodyFraming::Chunked
                                                                 : BodyFraming::Invalid;
    }
    if (contentLengths.empty()) return BodyFraming::UntilClose;
    bool first = true;
    std::uint64_t agreed = 0;
    for (const std::string& line : contentLengths) {
        for (const std::string& member : ListMembers(line)) {
            std::uint64_t value = 0;
            if (!ReadDecimal(member, value) || (!first && value != agreed)) {
                return BodyFraming::Invalid;
            }
            agreed = value;
            first = false;
        }
    }
    length = agreed;
    return BodyFraming::Length;
}

DWORD BodyLengthError(std::uint64_t announced, std::uint64_t received, bool ended) {
    if (received > announced) return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    if (ended && received < announced) return ERROR_INTERNET_CONNECTION_ABORTED;
    return ERROR_SUCCESS;
}

}  // namespace holwerk
