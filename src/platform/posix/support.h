#pragma once

// The primitives that the layer's families share, each written once, here: a
// call retried after a signal, a path's folder, folders made and synced, and
// the few text helpers of names and URLs. The layer calls none of the
// program's code, so a helper that the program has too (hexadecimal digits,
// ASCII letter case, percent-escapes) stands once here and once in the
// program.

#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace holwerk::posix {

/// Calls `call` again for as long as it fails with EINTR: a signal that
/// came during a system call does not fail it.
template <typename Call>
auto RetryAfterSignal(const Call& call) -> decltype(call()) {
    decltype(call()) result;
    do {
        result = call();
    } while (result == -1 && errno == EINTR);
    return result;
}

/// The folder that holds `path`, as the kernel resolves it.
std::string ParentFolder(const std::string& path);

/// Whether `path` is a folder, or a link to one.
bool IsFolder(const std::string& path);

/// Makes a change to the entries of `folder` durable: 0, or the errno of a
/// sync that failed. A folder that cannot be opened for reading, or a file
/// system that cannot sync folders, leaves nothing to sync and gives 0.
int SyncFolder(const std::string& folder);

/// Creates the last level of `path` with `mode` (reduced by the umask) and
/// syncs the folder that holds it, so that the new folder outlives a power
/// cut. 0, or the errno of the failed call (EEXIST when an entry is there).
int MakeFolder(const std::string& path, mode_t mode);

/// Creates every missing level of the absolute `path` as MakeFolder does. An
/// entry that is no folder fails with ENOTDIR, unless `clearWay` (given the
/// entry's path) moves it aside and returns 0. 0, or the errno.
int MakeFolders(const std::string& path, mode_t mode,
                const std::function<int(const std::string&)>& clearWay = nullptr);

/// The digits of upper-case hexadecimal, by value.
inline constexpr char HexDigits[] = "0123456789ABCDEF";

/// `value` in upper-case hexadecimal, without leading zeros.
std::string UpperHex(std::uint32_t value);

/// `c` with "A" to "Z" turned into "a" to "z".
inline char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

/// Whether both texts are equal when ASCII letter case is ignored.
bool EqualsIgnoringCase(std::string_view left, std::string_view right);

/// `text` with every byte for which `unsafe` holds written as "%XX".
template <typename Unsafe>
std::string PercentEscape(std::string_view text, Unsafe unsafe) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (unsafe(byte)) {
            escaped += '%';
            escaped += HexDigits[byte >> 4];
            escaped += HexDigits[byte & 0x0F];
        } else {
            escaped += c;
        }
    }
    return escaped;
}

}  // namespace holwerk::posix
