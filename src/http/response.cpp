#include "http/response.h"

#include <string>
#include <string_view>

#include "common/ascii.h"

namespace holwerk {

namespace {

// The members of a comma-separated header value, each without the blanks
// and tabs around it; an empty member is kept, so that it can be refused.
std::vector<std::string_view> ListMembers(std::string_view value) {
    std::vector<std::string_view> members;
    for (;;) {
        const std::size_t comma = value.find(',');
        std::string_view member = value.substr(0, comma);
        while (!member.empty() && (member.front() == ' ' || member.front() == '\t')) {
            member.remove_prefix(1);
        }
        while (!member.empty() && (member.back() == ' ' || member.back() == '\t')) {
            member.remove_suffix(1);
        }
        members.push_back(member);
        if (comma == std::string_view::npos) return members;
        value.remove_prefix(comma + 1);
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

bool IsChunked(std::string_view member) { return ToAsciiLower(std::string(member)) == "chunked"; }

}  // namespace

bool IsRedirectStatus(std::uint32_t status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

BodyFraming ReadBodyFraming(const std::vector<std::string>& contentLengths,
                            const std::vector<std::string>& transferEncodings,
                            std::uint64_t& length) {
    // Chunked is the only coding a client can find the end of; a list such
    // as "gzip, chunked" or a second line would leave the end to a guess.
    if (!transferEncodings.empty()) {
        if (transferEncodings.size() != 1) return BodyFraming::Invalid;
        const std::vector<std::string_view> members = ListMembers(transferEncodings.front());
        return members.size() == 1 && IsChunked(members.front()) ? BodyFraming::Chunked
                                                                 : BodyFraming::Invalid;
    }
    if (contentLengths.empty()) return BodyFraming::UntilClose;
    bool first = true;
    std::uint64_t agreed = 0;
    for (const std::string& line : contentLengths) {
        for (const std::string_view member : ListMembers(line)) {
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
