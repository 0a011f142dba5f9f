// Fuzzes what the program takes from the update server's manifest: the two
// string values, the version rules and the comparison of versions, and the
// download page address that is printed and stored.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "update/manifest.h"
#include "update/version_number.h"

namespace holwerk {
namespace {

// Three groups of 1 to 9 ASCII digits joined by ".", written out plainly.
bool ReferenceIsValidVersion(const std::string& version, std::vector<std::int64_t>& groups) {
    groups.assign(1, 0);
    std::size_t digits = 0;
    for (const char c : version) {
        if (c == '.') {
            if (digits == 0 || groups.size() == 3) return false;
            groups.push_back(0);
            digits = 0;
        } else if (c >= '0' && c <= '9' && digits < 9) {
            groups.back() = groups.back() * 10 + (c - '0');
            ++digits;
        } else {
            return false;
        }
    }
    return digits > 0 && groups.size() == 3;
}

void CheckJsonValue(const std::string& json, const std::string& key) {
    const std::string value = GetJsonStringValue(json, key);
    if (value.empty()) return;
    FuzzCheck(value.find('"') == std::string::npos, "a value never holds a double quote");
    const std::size_t keyAt = json.find("\"" + key + "\"");
    FuzzCheck(keyAt != std::string::npos, "a value needs its quoted key");
    FuzzCheck(json.find("\"" + value + "\"", keyAt + key.size() + 2) != std::string::npos,
              "the value stands quoted after its key");
}

void CheckVersions(const std::string& a, const std::string& b) {
    std::vector<std::int64_t> groupsA;
    std::vector<std::int64_t> groupsB;
    const bool validA = ReferenceIsValidVersion(a, groupsA);
    const bool validB = ReferenceIsValidVersion(b, groupsB);
    FuzzCheck(IsValidVersion(a) == validA, "the version rule for the first version");
    FuzzCheck(IsValidVersion(b) == validB, "the version rule for the second version");
    // Any text may be compared without harm; only valid versions are judged.
    const int ab = CompareVersions(a, b);
    const int ba = CompareVersions(b, a);
    FuzzCheck(ab >= -1 && ab <= 1 && ba >= -1 && ba <= 1, "a comparison gives -1, 0 or 1");
    if (!validA || !validB) return;
    FuzzCheck(CompareVersions(a, a) == 0, "a version equals itself");
    FuzzCheck(ab == -ba, "comparing is antisymmetric");
    const int expected = groupsA < groupsB ? -1 : groupsA > groupsB ? 1 : 0;
    FuzzCheck(ab == expected, "versions compare group by group as numbers");
}

}  // namespace
}  // namespace holwerk

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string json(reinterpret_cast<const char*>(data), size);
    const std::string version = holwerk::GetJsonStringValue(json, "version");
    const std::string page = holwerk::GetJsonStringValue(json, "download_url");
    holwerk::CheckJsonValue(json, "version");
    holwerk::CheckJsonValue(json, "download_url");

    // The two values, and the input cut at its first NUL, as version pairs.
    const std::size_t nul = json.find('\0');
    holwerk::CheckVersions(version, nul == std::string::npos ? page : json.substr(0, nul));
    if (nul != std::string::npos) {
        holwerk::CheckVersions(json.substr(0, nul), json.substr(nul + 1));
    }

    if (holwerk::IsUsableDownloadPageUrl(page)) {
        holwerk::FuzzCheck(holwerk::IsHttpsUrl(page), "a usable download page is https");
        for (const char raw : page) {
            const auto c = static_cast<unsigned char>(raw);
            holwerk::FuzzCheck(c > 0x20 && c < 0x7F,
                               "a usable download page is printable ASCII without blanks");
        }
    }

    // The installation ID joins the address in front of any fragment.
    const std::string request = holwerk::BuildManifestRequestUrl(page, version);
    const std::size_t hash = page.find('#');
    const std::string fragment = hash == std::string::npos ? "" : page.substr(hash);
    holwerk::FuzzCheck(request.ends_with("installation_id=" + version + fragment),
                       "the ID stands before the fragment");
    return 0;
}
