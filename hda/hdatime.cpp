#include "hda/hdatime.h"

#include <cstdio>
#include <cstring>

#include "com/objbase.h"
#include "com/text.h"
#include "com/timeapi.h"

namespace hda {

bool TimeTextToFileTime(std::u16string_view strTime, FILETIME* pftUtc) {
    SYSTEMTIME st{};
    if (com::ScanTimeText(strTime, &st.wYear, &st.wMonth, &st.wDay, &st.wHour, &st.wMinute, &st.wSecond,
                          &st.wMilliseconds) != 7)
        return false;
    FILETIME ftLocal{};
    if (!SystemTimeToFileTime(&st, &ftLocal)) return false;
    FILETIME ftUtc{};
    if (!LocalFileTimeToFileTime(&ftLocal, &ftUtc)) return false;
    if (pftUtc) *pftUtc = ftUtc;
    return true;
}

namespace {
LPWSTR TaskMemString(std::u16string_view s) {
    if (s.size() > (SIZE_MAX / sizeof(WCHAR)) - 1) return nullptr;
    auto* p = static_cast<LPWSTR>(CoTaskMemAlloc((s.size() + 1) * sizeof(WCHAR)));
    if (!p) return nullptr;
    if (!s.empty()) std::memcpy(p, s.data(), s.size() * sizeof(WCHAR));
    p[s.size()] = 0;
    return p;
}
}  // namespace

OPCHDA_TIME* BuildHdaTime(std::u16string_view strTime, bool bInUse) {
    auto* pTime = static_cast<OPCHDA_TIME*>(CoTaskMemAlloc(sizeof(OPCHDA_TIME)));
    if (!pTime) return nullptr;
    pTime->bString = TRUE;
    pTime->szTime = nullptr;
    pTime->ftTime = FILETIME{0, 0};

    if (bInUse && TimeTextToFileTime(strTime, &pTime->ftTime)) {
        pTime->bString = FALSE;
        return pTime;
    }
    // Not in use: the empty (null) time. Not a moment: the server reads the text itself.
    pTime->szTime = TaskMemString(bInUse ? strTime : std::u16string_view());
    if (!pTime->szTime) {
        CoTaskMemFree(pTime);
        return nullptr;
    }
    return pTime;
}

void ReleaseHdaTime(OPCHDA_TIME* pTime) {
    if (!pTime) return;
    if (pTime->bString) CoTaskMemFree(pTime->szTime);
    CoTaskMemFree(pTime);
}

std::u16string FormatTimeText(int nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond,
                              int nMilliseconds) {
    char buf[128];
    int n = std::snprintf(buf, sizeof buf, "%04i/%02i/%02i %02i:%02i:%02i.%03i", nYear, nMonth, nDay, nHour,
                          nMinute, nSecond, nMilliseconds);
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) >= sizeof buf) n = static_cast<int>(sizeof buf) - 1;
    return std::u16string(buf, buf + n);
}

bool UtcToLocalSystemTime(ULONGLONG utcTicks, SYSTEMTIME* pLocal) {
    FILETIME ftUtc = U64ToFileTime(utcTicks);
    FILETIME ftLocal{};
    if (!FileTimeToLocalFileTime(&ftUtc, &ftLocal)) return false;
    return FileTimeToSystemTime(&ftLocal, pLocal) != FALSE;
}

}  // namespace hda
