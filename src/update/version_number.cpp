#include "update/version_number.h"

#include <cstdint>

#include "update/lenient_integer.h"

namespace holwerk {
namespace {

constexpr std::size_t MaxGroupDigits = 9;

// The group of `version` that starts at `position` (to the next "." or the
// end), "" past the end.
std::string GroupAt(const std::string& version, std::size_t position) {
    if (position >= version.size()) return "";
    const std::size_t dot = version.find('.', position);
    return version.substr(position, dot == std::string::npos ? dot : dot - position);
}

}  // namespace

bool IsValidVersion(const std::string& version) {
    const std::size_t first = version.find('.');
    if (first == std::string::npos || first == 0) return false;
    const std::size_t second = version.find('.', first + 1);
    if (second == std::string::npos || second == first + 1 || second == version.size() - 1) {
        return false;
    }
    if (version.find('.', second + 1) != std::string::npos) return false;
    if (first > MaxGroupDigits || second - first - 1 > MaxGroupDigits ||
        version.size() - second - 1 > MaxGroupDigits) {
        return false;
    }
    for (std::size_t i = 0; i < version.size(); ++i) {
        if (i != first && i != second && (version[i] < '0' || version[i] > '9')) return false;
    }
    return true;
}

int CompareVersions(const std::string& a, const std::string& b) {
    std::size_t positionA = 0;
    std::size_t positionB = 0;
    for (int group = 0; group < 3; ++group) {
        const std::string groupA = GroupAt(a, positionA);
        const std::string groupB = GroupAt(b, positionB);
        const std::int64_t numberA = LenientInteger(groupA);
        const std::int64_t numberB = LenientInteger(groupB);
        if (numberA < numberB) return -1;
        if (numberA > numberB) return 1;
        positionA += groupA.size() + 1;
        positionB += groupB.size() + 1;
    }
    return 0;
}

}  // namespace holwerk
