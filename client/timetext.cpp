#include "client/timetext.h"

#include <cstdio>
#include <limits>

#include "com/text.h"
#include "com/timeapi.h"

namespace client {

namespace {

constexpr ULONGLONG kTicksPerMinute = 60ULL * com::kTicksPerSecond;

// in - bias minutes (toLocal) or in + bias minutes; false when the result leaves 0..2^64-1.
bool Shift(ULONGLONG in, LONG biasMinutes, bool toLocal, ULONGLONG* out) {
    const long long minutes =
        toLocal ? -static_cast<long long>(biasMinutes) : static_cast<long long>(biasMinutes);
    const ULONGLONG delta = static_cast<ULONGLONG>(minutes < 0 ? -minutes : minutes) * kTicksPerMinute;
    if (minutes >= 0) {
        if (in > std::numeric_limits<ULONGLONG>::max() - delta) return false;
        *out = in + delta;
    } else {
        if (in < delta) return false;
        *out = in - delta;
    }
    return true;
}

// Upper-case hexadecimal without leading zeros; returns the length written.
std::size_t WriteHex(ULONGLONG v, char16_t* out) {
    char16_t digits[16];
    std::size_t n = 0;
    do {
        digits[n++] = u"0123456789ABCDEF"[v & 0xF];
        v >>= 4;
    } while (v != 0);
    for (std::size_t i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
    return n;
}

std::size_t WriteInvalid(ULONGLONG v, char16_t* out) {
    const std::u16string_view prefix = kInvalidTimestampText;
    prefix.copy(out, prefix.size());
    return prefix.size() + WriteHex(v, out + prefix.size());
}

}  // namespace

bool UtcToDisplay(FILETIME ftUtc, TimeBasis basis, FILETIME* pShown) {
    switch (basis) {
        case TimeBasis::LocalCurrentBias:
            return FileTimeToLocalFileTime(&ftUtc, pShown) != FALSE;
        case TimeBasis::LocalAtInstant: {
            const ULONGLONG utc = FileTimeToU64(ftUtc);
            ULONGLONG local;
            if (!Shift(utc, com::BiasMinutesAt(utc), true, &local)) return false;
            *pShown = U64ToFileTime(local);
            return true;
        }
        case TimeBasis::Utc:
            *pShown = ftUtc;
            return true;
    }
    return false;
}

bool DisplayToUtc(FILETIME ftShown, TimeBasis basis, FILETIME* pUtc) {
    switch (basis) {
        case TimeBasis::LocalCurrentBias:
            return LocalFileTimeToFileTime(&ftShown, pUtc) != FALSE;
        case TimeBasis::LocalAtInstant: {
            // The offset belongs to the instant being sought: guess with the offset at the wall-clock
            // value read as UTC, then take the offset at the guess.
            const ULONGLONG local = FileTimeToU64(ftShown);
            ULONGLONG guess, utc;
            if (!Shift(local, com::BiasMinutesAt(local), false, &guess)) return false;
            if (!Shift(local, com::BiasMinutesAt(guess), false, &utc)) return false;
            *pUtc = U64ToFileTime(utc);
            return true;
        }
        case TimeBasis::Utc:
            *pUtc = ftShown;
            return true;
    }
    return false;
}

bool UtcToDisplaySystemTime(ULONGLONG utcTicks, SYSTEMTIME* pShown, TimeBasis basis) {
    FILETIME ftShown{};
    if (!UtcToDisplay(U64ToFileTime(utcTicks), basis, &ftShown)) return false;
    return FileTimeToSystemTime(&ftShown, pShown) != FALSE;
}

bool TimeTextToFileTime(std::u16string_view strTime, FILETIME* pftUtc, TimeBasis basis) {
    SYSTEMTIME st{};
    if (com::ScanTimeText(strTime, &st.wYear, &st.wMonth, &st.wDay, &st.wHour, &st.wMinute, &st.wSecond,
                          &st.wMilliseconds) != 7)
        return false;
    FILETIME ftShown{};
    if (!SystemTimeToFileTime(&st, &ftShown)) return false;
    FILETIME ftUtc{};
    if (!DisplayToUtc(ftShown, basis, &ftUtc)) return false;
    if (pftUtc) *pftUtc = ftUtc;
    return true;
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

hda::HdaTimeArg BuildHdaTime(std::u16string_view strTime, bool bInUse, TimeBasis basis) {
    FILETIME ftUtc{};
    if (bInUse && TimeTextToFileTime(strTime, &ftUtc, basis)) return hda::HdaTimeArg::Moment(ftUtc);
    // Not in use: the empty time. Not a moment: the server reads the text itself.
    return hda::HdaTimeArg::String(bInUse ? strTime : std::u16string_view());
}

std::size_t WriteTimestamp(FILETIME ftUtc, TimeBasis basis, char16_t* out) {
    return CTimestampWriter(basis).Write(ftUtc, out);
}

CTimestampWriter::CTimestampWriter(TimeBasis basis, Form form)
    : m_basis(basis),
      m_form(form),
      m_currentBias(basis == TimeBasis::LocalCurrentBias ? com::CurrentBiasMinutes() : 0) {}

std::size_t CTimestampWriter::Write(FILETIME ftUtc, char16_t* out) const {
    const ULONGLONG utc = FileTimeToU64(ftUtc);
    LONG bias = 0;
    if (m_basis == TimeBasis::LocalCurrentBias) bias = m_currentBias;
    if (m_basis == TimeBasis::LocalAtInstant) bias = com::BiasMinutesAt(utc);
    ULONGLONG local = 0;
    if (!Shift(utc, bias, true, &local)) return WriteInvalid(utc, out);
    const FILETIME shown = U64ToFileTime(local);
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(&shown, &st)) return WriteInvalid(utc, out);

    // "%04d/%02d/%02d %02d:%02d:%02d.%03d" or "%04d-%02d-%02dT%02d:%02d:%02d.%03d" and the offset; only
    // the year can have more digits than its width.
    const bool iso = m_form == Form::Iso8601;
    std::size_t n = 0;
    unsigned year = st.wYear;
    if (year >= 10000) {
        out[n++] = static_cast<char16_t>(u'0' + year / 10000);
        year %= 10000;
    }
    auto two = [&](unsigned v, char16_t after) {
        out[n++] = static_cast<char16_t>(u'0' + v / 10);
        out[n++] = static_cast<char16_t>(u'0' + v % 10);
        if (after) out[n++] = after;
    };
    two(year / 100, 0);
    two(year % 100, iso ? u'-' : u'/');
    two(st.wMonth, iso ? u'-' : u'/');
    two(st.wDay, iso ? u'T' : u' ');
    two(st.wHour, u':');
    two(st.wMinute, u':');
    two(st.wSecond, u'.');
    out[n++] = static_cast<char16_t>(u'0' + st.wMilliseconds / 100);
    two(st.wMilliseconds % 100, 0);
    if (!iso) return n;
    if (m_basis == TimeBasis::Utc) {
        out[n++] = u'Z';
        return n;
    }
    const long offset = -static_cast<long>(bias);
    const unsigned long magnitude = static_cast<unsigned long>(offset < 0 ? -offset : offset);
    out[n++] = offset < 0 ? u'-' : u'+';
    two(static_cast<unsigned>(magnitude / 60 % 100), u':');
    two(static_cast<unsigned>(magnitude % 60), 0);
    return n;
}

std::u16string FormatTimestamp(FILETIME ftUtc, TimeBasis basis) {
    char16_t buf[kMaxTimestampChars];
    return std::u16string(buf, WriteTimestamp(ftUtc, basis, buf));
}

std::u16string FormatShortTimestamp(FILETIME ftUtc, TimeBasis basis) {
    FILETIME shown;
    SYSTEMTIME st;
    if (!UtcToDisplay(ftUtc, basis, &shown) || !FileTimeToSystemTime(&shown, &st) || st.wYear < 1900) {
        char16_t buf[kMaxTimestampChars];
        return std::u16string(buf, WriteInvalid(FileTimeToU64(ftUtc), buf));
    }
    return com::FormatW(u"%02u/%02u/%02u %02u:%02u:%02u",
                        {unsigned(st.wMonth), unsigned(st.wDay), unsigned(st.wYear % 100), unsigned(st.wHour),
                         unsigned(st.wMinute), unsigned(st.wSecond)});
}

std::u16string FormatUtcOffset(LONG biasMinutes) {
    const long offset = -static_cast<long>(biasMinutes);
    const unsigned long magnitude = static_cast<unsigned long>(offset < 0 ? -offset : offset);
    std::u16string text = u"UTC";
    text += offset < 0 ? u'\u2212' : u'+';
    text += com::FormatW(u"%02u:%02u", {unsigned(magnitude / 60), unsigned(magnitude % 60)});
    return text;
}

std::u16string TimeBasisText(TimeBasis basis) {
    switch (basis) {
        case TimeBasis::LocalCurrentBias:
            return u"Local, " + FormatUtcOffset(com::CurrentBiasMinutes()) + u" now";
        case TimeBasis::LocalAtInstant:
            return u"Local (offset of each instant), " + FormatUtcOffset(com::CurrentBiasMinutes()) + u" now";
        case TimeBasis::Utc:
            break;
    }
    return u"UTC";
}

}  // namespace client
