// GUIDs and the local clock.
//
// Differences from Windows: CoCreateGuid draws its 16 bytes from the
// kernel's random source (getrandom) and sets the version 4 and variant
// bits, as Windows' own GUIDs have them; a null pointer fails with E_FAIL
// (Windows: E_INVALIDARG). GetLocalTime reads the time zone from TZ and the
// system's zone files through localtime_r.

#include <sys/random.h>

#include <cerrno>
#include <ctime>

#include "platform/posix/support.h"
#include "platform/posix/win32_api.h"

namespace holwerk::posix {
namespace {

bool FillRandom(unsigned char* bytes, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got =
            RetryAfterSignal([&] { return getrandom(bytes + done, count - done, 0); });
        if (got <= 0) return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace
}  // namespace holwerk::posix

using namespace holwerk::posix;

HRESULT CoCreateGuid(GUID* guid) {
    if (guid == nullptr) return E_FAIL;
    unsigned char bytes[16];
    if (!FillRandom(bytes, sizeof bytes)) return E_FAIL;
    guid->Data1 = static_cast<std::uint32_t>(bytes[0]) << 24 |
                  static_cast<std::uint32_t>(bytes[1]) << 16 |
                  static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
    guid->Data2 = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
    guid->Data3 = static_cast<std::uint16_t>((bytes[6] & 0x0F) << 8 | 0x4000 | bytes[7]);
    guid->Data4[0] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
    for (int i = 1; i < 8; ++i) guid->Data4[i] = bytes[8 + i];
    return S_OK;
}

int StringFromGUID2(const GUID& guid, LPWSTR text, int capacity) {
    // "{" + 32 digits + 4 dashes + "}" + terminator.
    constexpr int Length = 39;
    if (text == nullptr || capacity < Length) return 0;
    int at = 0;
    const auto put = [&](std::uint64_t value, int digits) {
        for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
            text[at++] = static_cast<WCHAR>(HexDigits[(value >> shift) & 0xF]);
        }
    };
    text[at++] = u'{';
    put(guid.Data1, 8);
    text[at++] = u'-';
    put(guid.Data2, 4);
    text[at++] = u'-';
    put(guid.Data3, 4);
    text[at++] = u'-';
    put(guid.Data4[0], 2);
    put(guid.Data4[1], 2);
    text[at++] = u'-';
    for (int i = 2; i < 8; ++i) put(guid.Data4[i], 2);
    text[at++] = u'}';
    text[at++] = 0;
    return at;
}

void GetLocalTime(SYSTEMTIME* time) {
    if (time == nullptr) return;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    // localtime_r need not look at TZ again; tzset makes it do so.
    tzset();
    std::tm local{};
    localtime_r(&now.tv_sec, &local);
    time->wYear = static_cast<WORD>(local.tm_year + 1900);
    time->wMonth = static_cast<WORD>(local.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    time->wDay = static_cast<WORD>(local.tm_mday);
    time->wHour = static_cast<WORD>(local.tm_hour);
    time->wMinute = static_cast<WORD>(local.tm_min);
    // A leap second (60) is shown as 59, as Windows never reports one.
    time->wSecond = static_cast<WORD>(local.tm_sec > 59 ? 59 : local.tm_sec);
    time->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}
