// VARIANT services and VariantChangeType(Ex) with the Windows (oleaut32) coercion rules.
//
// What follows Windows, and where this runtime decides for itself:
//
// * Valid types are those Windows accepts in a VARIANT: VT_EMPTY..VT_UINT except 15, alone or with
//   VT_BYREF and/or VT_ARRAY (not on VT_EMPTY/VT_NULL). VT_RECORD is not supported here and counts as
//   a bad type. Anything else gives DISP_E_BADVARTYPE.
// * Null VARIANT pointers give E_POINTER (Windows does not check and faults).
// * Arrays: SAFEARRAY is carried opaquely; this runtime has no SAFEARRAY allocator, so it cannot free
//   or copy one. VariantClear of a VT_ARRAY variant with a non-null parray returns E_NOTIMPL and leaves
//   the variant untouched (the array stays with whoever made it; nothing is dropped silently or freed
//   by the wrong allocator). A null parray, and every VT_BYREF array, clear normally. VariantCopy of a
//   non-null array also returns E_NOTIMPL. Arrays convert to nothing (DISP_E_TYPEMISMATCH).
// * By-reference sources are read through (one level, as VariantCopyInd does); a null reference gives
//   DISP_E_TYPEMISMATCH. By-reference targets give DISP_E_TYPEMISMATCH.
// * In-place conversion (destination == source) is supported. On failure the destination keeps its
//   old value; nothing is allocated or released.
// * Same-size signed/unsigned pairs (I1/UI1, I2/UI2, I4/UI4, I8/UI8) convert by reinterpreting the
//   bits, as VariantChangeType does on Windows (0xFFFFFFFF as VT_UI4 becomes -1 as VT_I4); VT_BOOL
//   to unsigned types likewise (VARIANT_TRUE gives 255, 65535, ...). Every other narrowing checks its
//   range and fails with DISP_E_OVERFLOW. Reals and currency round half to even (2.5 -> 2, 3.5 -> 4).
// * To text: integers in decimal; VT_R4 with 7 and VT_R8 with 15 significant digits in the shortest
//   %G form ("0.1", "1E-05", "1E+20", "1.234568E+08"), never "-0", infinities "INF"/"-INF", NaN "NAN";
//   VT_CY exactly, up to 4 decimals without trailing zeros ("1.2345", "-0.0001"); VT_BOOL as its
//   number ("-1", "0") or, with VARIANT_ALPHABOOL/VARIANT_LOCALBOOL, "True"/"False" (English always);
//   VT_DATE in the en-US default form "2/24/2009 1:05:07 PM" (the date alone at midnight, the time
//   alone on day 0, 1899-12-30), whatever the locale. VT_NULL, VT_ERROR, VT_UNKNOWN, VT_DISPATCH (no
//   IDispatch here to ask for a value), VT_DECIMAL and arrays give DISP_E_TYPEMISMATCH.
// * From text to numbers (VarParseNumFromStr's standard rules): white space around, a sign before or
//   after, parentheses for negative, group separators in the integer part, the decimal separator, an
//   exponent (E or D), "&H" hexadecimal and "&O" octal. Hexadecimal and octal give the target's bits
//   when they fit its width ("&HFFFF" is -1 as VT_I2 but 65535 as VT_I4, "&HFFFFFFFF" is -1 as
//   VT_I4); reals, currency and booleans read them as a 32-bit signed number. Not a number:
//   DISP_E_TYPEMISMATCH; out of range (e.g. "1e400" as VT_R8): DISP_E_OVERFLOW; too small for a
//   double: 0.
// * From text to VT_BOOL: "True"/"False" (any case), "#TRUE#"/"#FALSE#", or any number (non-zero is
//   true). To VT_DATE, as Windows reads text under en-US: dates as M/D/Y first, then Y/M/D, then
//   D/M/Y, whichever is a valid date ("2/24/2009", "2009-02-24", "Feb 24, 2009", "24 February
//   2009"), two-digit years 00-29 as 20xx and 30-99 as 19xx, two numbers as a date in the current
//   year; times h:m[:s] with optional AM/PM, where a point separates like a colon ("1.5" is 01:05,
//   so "24.02.2009" is no date). Fractions of a second and the ISO "T" are refused. Anything else
//   is DISP_E_TYPEMISMATCH.
// * Separators: LOCALE_USER_DEFAULT (and the system default and neutral locales) use the user's
//   decimal separator (com::SetUserDecimalSeparator, default from the environment's LC_NUMERIC), or
//   the locale's own with VARIANT_NOUSEROVERRIDE; LOCALE_INVARIANT uses '.'; other LCIDs use their
//   language's usual separator (a table of the common ones). Group separators are accepted when
//   reading text only.
#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>

#include "com/calendar.h"
#include "com/oleauto.h"
#include "com/text.h"
#include "com/timeapi.h"
#include "com/unknwn.h"

namespace {

constexpr IID kIID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

constexpr VARTYPE kVtRecordUnsupported = 36;  // VT_RECORD: refused (no IRecordInfo here)
constexpr double kDateMin = -657434.0;        // 0100-01-01
constexpr double kDateMax = 2958465.0;        // 9999-12-31
constexpr long long kCyScale = 10000;
constexpr long long kCyMaxWhole = std::numeric_limits<long long>::max() / kCyScale;  // 922337203685477

// ---- types ----------------------------------------------------------------------------------------

bool IsValidVt(VARTYPE vt) {
    const VARTYPE extra = vt & 0xF000;
    const VARTYPE base = vt & VT_TYPEMASK;
    if (extra & ~(VT_ARRAY | VT_BYREF)) return false;  // VT_VECTOR, VT_RESERVED
    if (base == 15 || base > VT_UINT || base == kVtRecordUnsupported) return false;
    if (extra != 0 && base <= VT_NULL) return false;
    return true;
}

VARTYPE Normalise(VARTYPE vt) {
    if (vt == VT_INT) return VT_I4;
    if (vt == VT_UINT) return VT_UI4;
    return vt;
}

std::size_t DataSize(VARTYPE base) {
    switch (base) {
        case VT_I1:
        case VT_UI1:
            return 1;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return 2;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_ERROR:
            return 4;
        case VT_I8:
        case VT_UI8:
        case VT_R8:
        case VT_DATE:
        case VT_CY:
            return 8;
        case VT_BSTR:
        case VT_UNKNOWN:
        case VT_DISPATCH:
            return sizeof(void*);
        default:
            return 0;
    }
}

// A by-value, non-owning view of the source: by-reference values are read through.
HRESULT ReadThrough(const VARIANT& src, VARIANT* view, int depth = 0) {
    if (!(src.vt & VT_BYREF)) {
        *view = src;
        return S_OK;
    }
    if (src.byref == nullptr) return DISP_E_TYPEMISMATCH;
    const VARTYPE base = src.vt & ~VT_BYREF;
    std::memset(view, 0, sizeof(VARIANT));
    if (base & VT_ARRAY) {
        view->vt = base;
        view->parray = *static_cast<SAFEARRAY* const*>(src.byref);
        return S_OK;
    }
    if (base == VT_VARIANT) {
        const auto* inner = static_cast<const VARIANT*>(src.byref);
        if (depth > 0 || inner->vt == (VT_VARIANT | VT_BYREF)) return E_INVALIDARG;  // one level only
        if (!IsValidVt(inner->vt)) return DISP_E_BADVARTYPE;
        return ReadThrough(*inner, view, depth + 1);
    }
    if (base == VT_DECIMAL) {
        view->vt = VT_DECIMAL;  // converts to nothing here; its bits are not needed
        return S_OK;
    }
    std::memcpy(&view->llVal, src.byref, DataSize(base));
    view->vt = base;
    return S_OK;
}

// ---- separators ---------------------------------------------------------------------------------

struct NumFmt {
    char16_t dec = u'.';
    char16_t group = 0;  // 0: none; u' ': any space-like character
};

bool IsSpaceLike(char16_t c) {
    return c == u' ' || c == 0x00A0 || c == 0x202F || c == 0x2009;
}

char16_t OneUnit(const char* utf8) {
    if (utf8 == nullptr || *utf8 == '\0') return 0;
    const std::u16string s = com::Utf8ToUtf16(utf8);
    return s.size() == 1 ? s[0] : 0;
}

// The environment's numeric conventions, read once without touching the global C locale. The group
// separator is 0 where the locale has none (C, POSIX); WithDecimal supplies one then.
const NumFmt& EnvironmentFormat() {
    static const NumFmt fmt = [] {
        NumFmt f;
        locale_t loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
        if (loc != static_cast<locale_t>(nullptr)) {
            const char16_t dec = OneUnit(nl_langinfo_l(RADIXCHAR, loc));
            const char16_t grp = OneUnit(nl_langinfo_l(THOUSEP, loc));
            if (dec != 0) f.dec = dec;
            if (grp != 0 && grp != f.dec) f.group = IsSpaceLike(grp) ? u' ' : grp;
            freelocale(loc);
        }
        return f;
    }();
    return fmt;
}

std::atomic<char16_t> g_userDecimal{0};  // 0: the environment's

bool UsableDecimal(char16_t c) {
    return c > u' ' && !(c >= u'0' && c <= u'9') && c != u'+' && c != u'-' && c != u'e' && c != u'E' &&
           c != u'd' && c != u'D' && c != u'&' && c != u'(' && c != u')';
}

// A decimal separator with the group separator that goes with it: the environment's when it differs,
// else ',' beside '.' and '.' beside ','.
NumFmt WithDecimal(char16_t dec) {
    NumFmt f;
    f.dec = dec;
    const NumFmt& env = EnvironmentFormat();
    if (env.group != 0 && env.group != dec)
        f.group = env.group;
    else if (dec == u',')
        f.group = u'.';
    else if (dec == u'.')
        f.group = u',';
    return f;
}

// Languages whose usual decimal separator is ',' (by primary language id), and whether they group
// digits with spaces rather than '.'; and the sublanguages that write '.' all the same.
struct CommaLanguage {
    unsigned short lang;
    bool spaceGroups;
};
// clang-format off
constexpr CommaLanguage kCommaLanguages[] = {
    {0x02, true},  {0x03, false}, {0x05, true},  {0x06, false}, {0x07, false}, {0x08, false},  // bg ca cs da de el
    {0x0A, false}, {0x0B, true},  {0x0C, true},  {0x0E, true},  {0x0F, false}, {0x10, false},  // es fi fr hu is it
    {0x13, false}, {0x14, true},  {0x15, true},  {0x16, false}, {0x18, false}, {0x19, true},   // nl no pl pt ro ru
    {0x1A, false}, {0x1B, true},  {0x1D, true},  {0x1F, false}, {0x21, false}, {0x22, true},   // hr/sr sk sv tr id uk
    {0x23, true},  {0x24, false}, {0x25, true},  {0x26, true},  {0x27, true},  {0x2A, false},  // be sl et lv lt vi
    {0x2C, false}, {0x2D, false}, {0x2F, false}, {0x3F, true},  {0x56, false},                 // az eu mk kk gl
};
constexpr unsigned short kPointSublanguages[] = {
    0x0807, 0x1407, 0x0810, 0x100C, 0x080A, 0x540A, 0x500A, 0x100A,  // de-CH de-LI it-CH fr-CH es-MX es-US es-PR es-GT
};
// clang-format on

const CommaLanguage* FindCommaLanguage(unsigned langid) {
    for (unsigned short s : kPointSublanguages)
        if (s == langid) return nullptr;
    for (const CommaLanguage& c : kCommaLanguages)
        if (c.lang == (langid & 0x3FF)) return &c;
    return nullptr;
}

NumFmt FormatFor(LCID lcid, USHORT flags) {
    const unsigned langid = lcid & 0xFFFF;
    const unsigned lang = langid & 0x3FF;
    if (lcid == LOCALE_INVARIANT) return NumFmt{u'.', u','};
    if (lang == 0) {  // user, system, neutral and custom defaults
        const char16_t set =
            (flags & VARIANT_NOUSEROVERRIDE) ? 0 : g_userDecimal.load(std::memory_order_relaxed);
        return WithDecimal(set != 0 ? set : EnvironmentFormat().dec);
    }
    if (const CommaLanguage* c = FindCommaLanguage(langid)) return NumFmt{u',', c->spaceGroups ? u' ' : u'.'};
    return NumFmt{u'.', u','};
}

// ---- text out -------------------------------------------------------------------------------------

BSTR AllocAscii(const char* s, std::size_t n, char16_t dec = u'.') {
    OLECHAR buf[64];
    if (n > 64) return nullptr;
    for (std::size_t i = 0; i < n; ++i) buf[i] = s[i] == '.' ? dec : static_cast<unsigned char>(s[i]);
    return SysAllocStringLen(buf, static_cast<UINT>(n));
}

HRESULT SetText(VARIANT* d, BSTR b) {
    if (b == nullptr) return E_OUTOFMEMORY;
    d->bstrVal = b;
    return S_OK;
}

HRESULT TextFromSigned(long long v, VARIANT* d) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof(buf), v);
    return SetText(d, AllocAscii(buf, static_cast<std::size_t>(r.ptr - buf)));
}

HRESULT TextFromUnsigned(unsigned long long v, VARIANT* d) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof(buf), v);
    return SetText(d, AllocAscii(buf, static_cast<std::size_t>(r.ptr - buf)));
}

// %.<digits>G with the decimal separator replaced; never "-0".
HRESULT TextFromReal(double v, int digits, char16_t dec, VARIANT* d) {
    if (std::isnan(v)) return SetText(d, AllocAscii("NAN", 3));
    if (std::isinf(v)) return SetText(d, v < 0 ? AllocAscii("-INF", 4) : AllocAscii("INF", 3));
    if (v == 0) v = 0;  // -0 -> 0
    char buf[48];
    const auto r = std::to_chars(buf, buf + sizeof(buf), v, std::chars_format::general, digits);
    std::size_t n = static_cast<std::size_t>(r.ptr - buf);
    for (std::size_t i = 0; i < n; ++i)
        if (buf[i] == 'e') buf[i] = 'E';
    return SetText(d, AllocAscii(buf, n, dec));
}

HRESULT TextFromCy(long long cy, char16_t dec, VARIANT* d) {
    const bool negative = cy < 0;
    const unsigned long long mag =
        negative ? 0ULL - static_cast<unsigned long long>(cy) : static_cast<unsigned long long>(cy);
    char buf[40];
    char* p = buf;
    if (negative) *p++ = '-';
    p = std::to_chars(p, buf + sizeof(buf), mag / kCyScale).ptr;
    unsigned frac = static_cast<unsigned>(mag % kCyScale);
    if (frac != 0) {
        *p++ = '.';
        char f[4] = {static_cast<char>('0' + frac / 1000), static_cast<char>('0' + frac / 100 % 10),
                     static_cast<char>('0' + frac / 10 % 10), static_cast<char>('0' + frac % 10)};
        int keep = 4;
        while (f[keep - 1] == '0') --keep;
        std::memcpy(p, f, static_cast<std::size_t>(keep));
        p += keep;
    }
    return SetText(d, AllocAscii(buf, static_cast<std::size_t>(p - buf), dec));
}

// ---- calendar -------------------------------------------------------------------------------------

using com::calendar::Civil;
using com::calendar::CivilFromDays;
using com::calendar::DaysFromCivil;

constexpr long long kDateEpoch = DaysFromCivil(1899, 12, 30);

bool IsLeap(long long y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}
bool ValidDay(long long y, long long m, long long d) {
    static constexpr unsigned char kDays[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12 || d < 1) return false;
    return d <= kDays[m] || (m == 2 && d == 29 && IsLeap(y));
}

bool DateInRange(double v) {
    return !std::isnan(v) && v > kDateMin - 1.0 && v < kDateMax + 1.0;
}

struct DateParts {
    long long y;
    unsigned mo, d, h, mi, s;
};

// VariantTimeToSystemTime to the second: the integer part is the day (negative before 1899-12-30),
// the fraction's magnitude the time of day.
bool SplitDate(double v, DateParts* out) {
    if (!DateInRange(v)) return false;
    long long days = static_cast<long long>(std::trunc(v));
    const double frac = std::fabs(v - static_cast<double>(days));
    long long secs = std::llround(frac * 86400.0);
    if (secs >= 86400) {
        secs -= 86400;
        ++days;
    }
    const Civil c = CivilFromDays(days + kDateEpoch);
    if (c.y < 100 || c.y > 9999) return false;
    *out = DateParts{c.y,
                     c.m,
                     c.d,
                     static_cast<unsigned>(secs / 3600),
                     static_cast<unsigned>(secs / 60 % 60),
                     static_cast<unsigned>(secs % 60)};
    return true;
}

HRESULT TextFromDate(double v, VARIANT* d) {
    DateParts p;
    if (!SplitDate(v, &p)) return E_INVALIDARG;
    const double whole = std::trunc(v);
    const bool timeOnly = whole == 0.0;
    const bool dateOnly = !timeOnly && std::fabs(v - whole) < 1e-12;
    char buf[48];
    char* o = buf;
    auto put = [&o](unsigned long long n) {  // at most 5 digits here
        char tmp[20];
        int k = 0;
        do {
            tmp[k++] = static_cast<char>('0' + n % 10);
            n /= 10;
        } while (n != 0 && k < 20);
        while (k > 0) *o++ = tmp[--k];
    };
    if (!timeOnly) {
        put(p.mo);
        *o++ = '/';
        put(p.d);
        *o++ = '/';
        put(static_cast<unsigned long long>(p.y));
    }
    if (!dateOnly) {
        if (!timeOnly) *o++ = ' ';
        put(p.h % 12 == 0 ? 12 : p.h % 12);
        *o++ = ':';
        *o++ = static_cast<char>('0' + p.mi / 10);
        *o++ = static_cast<char>('0' + p.mi % 10);
        *o++ = ':';
        *o++ = static_cast<char>('0' + p.s / 10);
        *o++ = static_cast<char>('0' + p.s % 10);
        *o++ = ' ';
        *o++ = p.h < 12 ? 'A' : 'P';
        *o++ = 'M';
    }
    return SetText(d, AllocAscii(buf, static_cast<std::size_t>(o - buf)));
}

// ---- text in: numbers -----------------------------------------------------------------------------

enum class Parse { Ok, Mismatch, Overflow };

HRESULT ToHr(Parse p) {
    return p == Parse::Overflow ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH;
}

// An exact decimal: (negative ? -1 : 1) * digits * 10^exp10, digits without leading or trailing
// zeros (empty for zero).
struct Decimal {
    bool negative = false;
    std::string digits;
    long long exp10 = 0;
    bool radix = false;  // "&H" or "&O": the value is `bits`, read at the target's width
    unsigned long long bits = 0;
};

bool IsWhite(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r') || c == 0x00A0 || c == 0x3000;
}
bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

std::u16string_view TextOf(BSTR b) {
    if (b == nullptr) return {};
    std::u16string_view t(b, SysStringLen(b));
    const std::size_t nul = t.find(u'\0');
    return nul == std::u16string_view::npos ? t : t.substr(0, nul);
}

void Normalise(Decimal* d) {
    std::size_t lead = 0;
    while (lead < d->digits.size() && d->digits[lead] == '0') ++lead;
    d->digits.erase(0, lead);
    std::size_t trail = 0;
    while (trail < d->digits.size() && d->digits[d->digits.size() - 1 - trail] == '0') ++trail;
    d->digits.resize(d->digits.size() - trail);
    d->exp10 += static_cast<long long>(trail);
    if (d->digits.empty()) d->exp10 = 0;
}

Parse ParseNumber(std::u16string_view t, const NumFmt& fmt, Decimal* out) {
    std::size_t i = 0;
    const std::size_t n = t.size();
    auto skipWhite = [&] {
        while (i < n && IsWhite(t[i])) ++i;
    };
    Decimal d;
    skipWhite();
    bool paren = false, signSeen = false;
    if (i < n && t[i] == u'(') {
        paren = true;
        ++i;
        skipWhite();
    }
    if (i < n && (t[i] == u'+' || t[i] == u'-')) {
        signSeen = true;
        d.negative = t[i] == u'-';
        ++i;
        skipWhite();
    }
    if (i + 1 < n && t[i] == u'&' &&
        (t[i + 1] == u'H' || t[i + 1] == u'h' || t[i + 1] == u'O' || t[i + 1] == u'o')) {
        const bool hex = t[i + 1] == u'H' || t[i + 1] == u'h';
        i += 2;
        unsigned long long v = 0;
        std::size_t count = 0;
        bool overflow = false;
        for (; i < n; ++i) {
            unsigned digit;
            const char16_t c = t[i];
            if (IsDigit(c) && (hex || c <= u'7'))
                digit = c - u'0';
            else if (hex && c >= u'a' && c <= u'f')
                digit = c - u'a' + 10;
            else if (hex && c >= u'A' && c <= u'F')
                digit = c - u'A' + 10;
            else
                break;
            const unsigned shift = hex ? 4 : 3;
            if (v >> (64 - shift)) overflow = true;
            v = (v << shift) | digit;
            ++count;
        }
        if (count == 0) return Parse::Mismatch;
        skipWhite();
        if (i != n) return Parse::Mismatch;
        if (overflow) return Parse::Overflow;
        d.radix = true;
        d.bits = v;
        *out = std::move(d);
        return Parse::Ok;
    }

    bool anyDigit = false;
    // Integer part, with group separators after the first digit.
    for (; i < n; ++i) {
        const char16_t c = t[i];
        if (IsDigit(c)) {
            d.digits.push_back(static_cast<char>(c));
            anyDigit = true;
        } else if (anyDigit && fmt.group != 0 && (c == fmt.group || (fmt.group == u' ' && IsSpaceLike(c))) &&
                   i + 1 < n && IsDigit(t[i + 1])) {
            continue;
        } else {
            break;
        }
    }
    if (i < n && t[i] == fmt.dec) {
        ++i;
        for (; i < n && IsDigit(t[i]); ++i) {
            d.digits.push_back(static_cast<char>(t[i]));
            --d.exp10;
            anyDigit = true;
        }
    }
    if (!anyDigit) return Parse::Mismatch;
    if (i < n && (t[i] == u'e' || t[i] == u'E' || t[i] == u'd' || t[i] == u'D')) {
        ++i;
        bool expNegative = false;
        if (i < n && (t[i] == u'+' || t[i] == u'-')) {
            expNegative = t[i] == u'-';
            ++i;
        }
        if (i >= n || !IsDigit(t[i])) return Parse::Mismatch;
        long long e = 0;
        for (; i < n && IsDigit(t[i]); ++i)
            if (e < 1000000000) e = e * 10 + (t[i] - u'0');
        d.exp10 += expNegative ? -e : e;
    }
    skipWhite();
    if (!signSeen && i < n && (t[i] == u'+' || t[i] == u'-')) {
        signSeen = true;
        d.negative = t[i] == u'-';
        ++i;
        skipWhite();
    }
    if (paren) {
        if (i >= n || t[i] != u')' || (signSeen && d.negative)) return Parse::Mismatch;
        d.negative = true;
        ++i;
        skipWhite();
    }
    if (i != n) return Parse::Mismatch;
    Normalise(&d);
    if (d.digits.empty()) d.negative = false;
    *out = std::move(d);
    return Parse::Ok;
}

// The value scaled by 10^scale and rounded half to even, as a magnitude; false when it exceeds 2^64-1.
bool RoundedMagnitude(const Decimal& d, int scale, unsigned long long* mag) {
    *mag = 0;
    if (d.digits.empty()) return true;
    const long long e = d.exp10 + scale;
    const long long len = static_cast<long long>(d.digits.size());
    const long long intLen = len + e;  // digits before the decimal point
    if (intLen > 20) return false;
    unsigned long long v = 0;
    const long long take = std::min(len, std::max(intLen, 0LL));
    for (long long k = 0; k < take; ++k) {
        if (__builtin_mul_overflow(v, 10ULL, &v) ||
            __builtin_add_overflow(v, static_cast<unsigned long long>(d.digits[k] - '0'), &v))
            return false;
    }
    for (long long k = len; k < intLen; ++k)
        if (__builtin_mul_overflow(v, 10ULL, &v)) return false;
    if (intLen < len) {
        // The first dropped digit decides; digits after it are non-zero (trailing zeros are gone).
        const long long first = intLen;  // index of the first fractional digit (may be negative)
        bool up;
        if (first < 0) {
            up = false;  // below 0.1: rounds to zero
        } else {
            const int digit = d.digits[first] - '0';
            const bool more = first + 1 < len;
            up = digit > 5 || (digit == 5 && (more || (v & 1)));
        }
        if (up && __builtin_add_overflow(v, 1ULL, &v)) return false;
    }
    *mag = v;
    return true;
}

// Hexadecimal and octal as a real, currency or boolean: a 32-bit signed number.
Parse RadixToSigned32(const Decimal& d, long long* out) {
    if (d.bits >> 32) return Parse::Overflow;
    const long long v = static_cast<std::int32_t>(static_cast<std::uint32_t>(d.bits));
    *out = d.negative ? -v : v;
    return Parse::Ok;
}

template <class T>
Parse DecimalToInteger(const Decimal& d, T* out) {
    if (d.radix) {  // the target's bits, when the digits fit its width
        constexpr unsigned width = sizeof(T) * 8;
        if constexpr (width < 64) {
            if (d.bits >> width) return Parse::Overflow;
        }
        T v = static_cast<T>(d.bits);
        if (d.negative) {
            if constexpr (std::is_signed_v<T>) {
                if (v == std::numeric_limits<T>::min()) return Parse::Overflow;
                v = static_cast<T>(-v);
            } else if (v != 0) {
                return Parse::Overflow;
            }
        }
        *out = v;
        return Parse::Ok;
    }
    unsigned long long mag;
    if (!RoundedMagnitude(d, 0, &mag)) return Parse::Overflow;
    if constexpr (std::is_signed_v<T>) {
        const unsigned long long limit =
            d.negative ? static_cast<unsigned long long>(std::numeric_limits<T>::max()) + 1
                       : static_cast<unsigned long long>(std::numeric_limits<T>::max());
        if (mag > limit) return Parse::Overflow;
        *out = d.negative ? static_cast<T>(0ULL - mag) : static_cast<T>(mag);
    } else {
        if ((d.negative && mag != 0) || mag > std::numeric_limits<T>::max()) return Parse::Overflow;
        *out = static_cast<T>(mag);
    }
    return Parse::Ok;
}

Parse DecimalToCy(const Decimal& d, long long* out) {
    if (d.radix) {
        long long v;
        const Parse p = RadixToSigned32(d, &v);
        if (p == Parse::Ok) *out = v * kCyScale;
        return p;
    }
    return DecimalToInteger(Decimal{d.negative, d.digits, d.exp10 + 4}, out);
}

// The nearest double; DISP_E_OVERFLOW past DBL_MAX, 0 below the smallest denormal.
Parse DecimalToDouble(const Decimal& d, double* out) {
    if (d.radix) {
        long long v;
        const Parse p = RadixToSigned32(d, &v);
        if (p == Parse::Ok) *out = static_cast<double>(v);
        return p;
    }
    if (d.digits.empty()) {
        *out = 0.0;
        return Parse::Ok;
    }
    const long long magnitude = static_cast<long long>(d.digits.size()) + d.exp10;  // value < 10^magnitude
    if (magnitude > 310) return Parse::Overflow;
    if (magnitude < -330) {
        *out = d.negative ? -0.0 : 0.0;
        return Parse::Ok;
    }
    // 800 significant digits decide the rounding of any double; a non-zero tail only needs to show.
    constexpr std::size_t kKeep = 800;
    std::string s;
    long long e = d.exp10;
    if (d.digits.size() > kKeep) {
        s.assign(d.digits, 0, kKeep);
        s.push_back('1');
        e += static_cast<long long>(d.digits.size() - kKeep - 1);
    } else {
        s = d.digits;
    }
    s.push_back('e');
    s += std::to_string(e);
    double v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::scientific);
    if (r.ec == std::errc::result_out_of_range) {
        if (magnitude > 0) return Parse::Overflow;
        v = 0.0;
    } else if (r.ec != std::errc{}) {
        return Parse::Mismatch;
    }
    if (std::isinf(v)) return Parse::Overflow;
    *out = d.negative ? -v : v;
    return Parse::Ok;
}

// ---- text in: booleans and dates ----------------------------------------------------------------

std::u16string_view Trim(std::u16string_view t) {
    while (!t.empty() && IsWhite(t.front())) t.remove_prefix(1);
    while (!t.empty() && IsWhite(t.back())) t.remove_suffix(1);
    return t;
}

bool EqualsAsciiNoCase(std::u16string_view t, std::string_view word) {
    if (t.size() != word.size()) return false;
    for (std::size_t i = 0; i < t.size(); ++i) {
        char16_t c = t[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != static_cast<unsigned char>(word[i])) return false;
    }
    return true;
}

int MonthFromName(std::u16string_view w) {
    static constexpr std::string_view kFull[12] = {"january",   "february", "march",    "april",
                                                   "may",       "june",     "july",     "august",
                                                   "september", "october",  "november", "december"};
    for (int m = 0; m < 12; ++m) {
        if (EqualsAsciiNoCase(w, kFull[m]) || EqualsAsciiNoCase(w, kFull[m].substr(0, 3))) return m + 1;
    }
    if (EqualsAsciiNoCase(w, "sept")) return 9;
    return 0;
}

bool IsDayName(std::u16string_view w) {
    static constexpr std::string_view kDays[7] = {"sunday",   "monday", "tuesday", "wednesday",
                                                  "thursday", "friday", "saturday"};
    for (auto day : kDays)
        if (EqualsAsciiNoCase(w, day) || EqualsAsciiNoCase(w, day.substr(0, 3))) return true;
    return false;
}

struct Token {
    bool month = false;  // a month name
    long long value = 0;
    int digits = 0;
    char16_t sepAfter = 0;  // ':', '/', '-', '.', or 0
};

Parse ParseDate(std::u16string_view t, DATE* out) {
    Token toks[12];
    int count = 0;
    int ampm = 0;  // 1 AM, 2 PM
    std::size_t i = 0;
    const std::size_t n = t.size();
    while (i < n) {
        const char16_t c = t[i];
        if (IsWhite(c) || c == u',') {
            ++i;
            continue;
        }
        if (count == 12) return Parse::Mismatch;
        if (IsDigit(c)) {
            Token tok;
            while (i < n && IsDigit(t[i])) {
                if (++tok.digits > 9) return Parse::Mismatch;
                tok.value = tok.value * 10 + (t[i] - u'0');
                ++i;
            }
            // Under en-US the point separates hours from minutes, as the colon does: "1.5" is 01:05.
            if (i < n && (t[i] == u':' || t[i] == u'.')) {
                tok.sepAfter = u':';
                ++i;
            } else if (i < n && (t[i] == u'/' || t[i] == u'-')) {
                tok.sepAfter = t[i++];
            }
            toks[count++] = tok;
            continue;
        }
        if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')) {
            const std::size_t start = i;
            while (i < n && ((t[i] >= u'a' && t[i] <= u'z') || (t[i] >= u'A' && t[i] <= u'Z'))) ++i;
            const std::u16string_view w = t.substr(start, i - start);
            if (i < n && t[i] == u'.') ++i;  // "Feb."
            if (EqualsAsciiNoCase(w, "am") || EqualsAsciiNoCase(w, "a")) {
                if (ampm) return Parse::Mismatch;
                ampm = 1;
            } else if (EqualsAsciiNoCase(w, "pm") || EqualsAsciiNoCase(w, "p")) {
                if (ampm) return Parse::Mismatch;
                ampm = 2;
            } else if (const int m = MonthFromName(w)) {
                Token tok;
                tok.month = true;
                tok.value = m;
                if (i < n && (t[i] == u'/' || t[i] == u'-')) tok.sepAfter = t[i++];
                toks[count++] = tok;
            } else if (IsDayName(w)) {
                // weekday names are ignored
            } else {
                return Parse::Mismatch;
            }
            continue;
        }
        return Parse::Mismatch;
    }
    if (count == 0) return Parse::Mismatch;

    // The time: numbers joined by ':' or '.' (h:m or h:m:s; no fractions of a second), or a lone hour
    // before AM/PM.
    long long hour = 0, minute = 0, second = 0;
    bool haveTime = false;
    bool used[12] = {};
    for (int k = 0; k < count; ++k) {
        if (used[k] || toks[k].month || toks[k].sepAfter != u':') continue;
        if (haveTime || k + 1 >= count || toks[k + 1].month) return Parse::Mismatch;
        haveTime = true;
        hour = toks[k].value;
        minute = toks[k + 1].value;
        used[k] = used[k + 1] = true;
        int last = k + 1;
        if (toks[k + 1].sepAfter == u':') {
            if (k + 2 >= count || toks[k + 2].month) return Parse::Mismatch;
            second = toks[k + 2].value;
            used[k + 2] = true;
            last = k + 2;
        }
        if (toks[last].sepAfter == u':') return Parse::Mismatch;
    }
    if (!haveTime && ampm) {
        for (int k = count - 1; k >= 0; --k) {
            if (!toks[k].month && toks[k].sepAfter == 0 && (k == 0 || toks[k - 1].sepAfter == 0)) {
                hour = toks[k].value;
                used[k] = true;
                haveTime = true;
                break;
            }
        }
    }
    if (hour > 23 || minute > 59 || second > 59) return Parse::Mismatch;
    if (ampm == 2 && hour < 12) hour += 12;
    if (ampm == 1 && hour == 12) hour = 0;

    // The date: none, two or three fields.
    long long v[3] = {0, 0, 0};
    bool isMonth[3] = {false, false, false};
    int dc = 0;
    for (int k = 0; k < count; ++k) {
        if (used[k]) continue;
        if (dc == 3) return Parse::Mismatch;
        v[dc] = toks[k].value;
        isMonth[dc] = toks[k].month;
        ++dc;
    }
    if (dc == 1) return Parse::Mismatch;
    long long year = 1899, month = 12, day = 30;
    if (dc >= 2) {
        if (dc == 2) {
            // The current local year.
            SYSTEMTIME now{};
            GetLocalTime(&now);
            v[2] = now.wYear;
        }
        auto mapYear = [](long long y) { return y < 30 ? 2000 + y : y < 100 ? 1900 + y : y; };
        auto tryOrder = [&](int yi, int mi, int di) {
            const long long y = mapYear(v[yi]);
            if (y > 9999 || !ValidDay(y, v[mi], v[di])) return false;
            year = y;
            month = v[mi];
            day = v[di];
            return true;
        };
        enum { MDY = 1, YMD = 2, YDM = 4, DMY = 8 };
        int allowed;
        if (isMonth[0])
            allowed = MDY;
        else if (isMonth[1])
            allowed = DMY | (dc > 2 ? YMD : 0);
        else if (dc > 2 && isMonth[2])
            allowed = YDM;
        else
            allowed = MDY | DMY | (dc > 2 ? YMD | YDM : 0);
        // en-US order first, then the orders that keep month before day, then the rest.
        const int rounds[3] = {MDY, MDY | YMD, MDY | YMD | YDM | DMY};
        bool ok = false;
        for (int r = 0; r < 3 && !ok; ++r) {
            const int tryMask = rounds[r] & allowed;
            if ((tryMask & MDY) && tryOrder(2, 0, 1))
                ok = true;
            else if ((tryMask & YMD) && tryOrder(0, 1, 2))
                ok = true;
            else if ((tryMask & YDM) && tryOrder(0, 2, 1))
                ok = true;
            else if ((tryMask & DMY) && tryOrder(2, 1, 0))
                ok = true;
        }
        if (!ok && dc == 2 && !isMonth[0] && !isMonth[1]) {
            // Neither M/D nor D/M: month and year, the first of the month.
            const long long m1 = v[0], y1 = v[1];
            if (ValidDay(mapYear(y1), m1, 1) && mapYear(y1) <= 9999) {
                year = mapYear(y1);
                month = m1;
                day = 1;
                ok = true;
            } else if (ValidDay(mapYear(v[0]), v[1], 1) && mapYear(v[0]) <= 9999) {
                year = mapYear(v[0]);
                month = v[1];
                day = 1;
                ok = true;
            }
        } else if (!ok && dc == 2 && isMonth[0] != isMonth[1]) {
            // "Feb 2009": a month name and a year.
            const long long m1 = isMonth[0] ? v[0] : v[1];
            const long long y1 = mapYear(isMonth[0] ? v[1] : v[0]);
            if (y1 <= 9999 && ValidDay(y1, m1, 1)) {
                year = y1;
                month = m1;
                day = 1;
                ok = true;
            }
        }
        if (!ok) return Parse::Mismatch;
    } else if (!haveTime) {
        return Parse::Mismatch;
    }
    const long long days =
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kDateEpoch;
    const double frac = static_cast<double>(hour * 3600 + minute * 60 + second) / 86400.0;
    *out = days >= 0 ? static_cast<double>(days) + frac : static_cast<double>(days) - frac;
    return Parse::Ok;
}

Parse ParseBool(std::u16string_view t, const NumFmt& fmt, VARIANT_BOOL* out) {
    const std::u16string_view w = Trim(t);
    if (EqualsAsciiNoCase(w, "true") || EqualsAsciiNoCase(w, "#true#")) {
        *out = VARIANT_TRUE;
        return Parse::Ok;
    }
    if (EqualsAsciiNoCase(w, "false") || EqualsAsciiNoCase(w, "#false#")) {
        *out = VARIANT_FALSE;
        return Parse::Ok;
    }
    Decimal d;
    Parse p = ParseNumber(t, fmt, &d);
    if (p != Parse::Ok) return p;
    double v;  // as Windows: through VT_R8, so "1e400" overflows
    p = DecimalToDouble(d, &v);
    if (p != Parse::Ok) return p;
    *out = v != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    return Parse::Ok;
}

// ---- numeric values -------------------------------------------------------------------------------

// A source value of any numeric kind.
struct Num {
    enum Kind { Int, UInt, Real, Cy, Bool } kind;
    long long i = 0;           // Int, Cy (in 1/10000), Bool
    unsigned long long u = 0;  // UInt
    double r = 0;              // Real
};

bool NumOf(const VARIANT& s, Num* n) {
    switch (Normalise(s.vt)) {
        case VT_EMPTY:
            *n = {Num::Int, 0};
            return true;
        case VT_I1:
            *n = {Num::Int, static_cast<signed char>(s.cVal)};
            return true;
        case VT_I2:
            *n = {Num::Int, s.iVal};
            return true;
        case VT_I4:
            *n = {Num::Int, s.lVal};
            return true;
        case VT_I8:
            *n = {Num::Int, s.llVal};
            return true;
        case VT_UI1:
            *n = {Num::UInt, 0, s.bVal};
            return true;
        case VT_UI2:
            *n = {Num::UInt, 0, s.uiVal};
            return true;
        case VT_UI4:
            *n = {Num::UInt, 0, s.ulVal};
            return true;
        case VT_UI8:
            *n = {Num::UInt, 0, s.ullVal};
            return true;
        case VT_R4:
            *n = {Num::Real, 0, 0, s.fltVal};
            return true;
        case VT_R8:
            *n = {Num::Real, 0, 0, s.dblVal};
            return true;
        case VT_DATE:
            *n = {Num::Real, 0, 0, s.date};
            return true;
        case VT_CY:
            *n = {Num::Cy, s.cyVal.int64};
            return true;
        case VT_BOOL:
            *n = {Num::Bool, s.boolVal};
            return true;
        default:
            return false;
    }
}

bool RoundHalfEven(double x, double* r) {
    if (std::isnan(x)) return false;
    double f = std::floor(x);
    const double diff = x - f;
    if (diff > 0.5 || (diff == 0.5 && std::fmod(f, 2.0) != 0.0)) f += 1.0;
    *r = f;
    return true;
}

template <class T>
bool FitsDouble(double r) {
    return r >= static_cast<double>(std::numeric_limits<T>::min()) &&
           r < static_cast<double>(std::numeric_limits<T>::max()) + 1.0;
}

long long CyRoundToInteger(long long cy) {
    long long q = cy / kCyScale;
    const long long rem = cy % kCyScale;
    if (rem > 5000 || (rem == 5000 && (q & 1))) ++q;
    if (rem < -5000 || (rem == -5000 && (q & 1))) --q;
    return q;
}

template <class T>
HRESULT NumToInteger(const Num& n, T* out) {
    using Lim = std::numeric_limits<T>;
    switch (n.kind) {
        case Num::Bool:
            *out = static_cast<T>(n.i);  // two's complement: VARIANT_TRUE is -1, or all ones unsigned
            return S_OK;
        case Num::Int:
        case Num::Cy: {
            const long long v = n.kind == Num::Cy ? CyRoundToInteger(n.i) : n.i;
            if constexpr (std::is_signed_v<T>) {
                if (v < static_cast<long long>(Lim::min()) || v > static_cast<long long>(Lim::max()))
                    return DISP_E_OVERFLOW;
            } else {
                if (v < 0 || static_cast<unsigned long long>(v) > Lim::max()) return DISP_E_OVERFLOW;
            }
            *out = static_cast<T>(v);
            return S_OK;
        }
        case Num::UInt:
            if (n.u > static_cast<unsigned long long>(Lim::max())) return DISP_E_OVERFLOW;
            *out = static_cast<T>(n.u);
            return S_OK;
        case Num::Real: {
            double r;
            if (!RoundHalfEven(n.r, &r) || !FitsDouble<T>(r)) return DISP_E_OVERFLOW;
            *out = static_cast<T>(r);
            return S_OK;
        }
    }
    return DISP_E_TYPEMISMATCH;
}

double NumToDouble(const Num& n) {
    switch (n.kind) {
        case Num::Int:
        case Num::Bool:
            return static_cast<double>(n.i);
        case Num::UInt:
            return static_cast<double>(n.u);
        case Num::Real:
            return n.r;
        case Num::Cy:
            return static_cast<double>(n.i) / static_cast<double>(kCyScale);
    }
    return 0;
}

HRESULT DoubleToFloat(double v, float* out) {
    if (std::fabs(v) > static_cast<double>(std::numeric_limits<float>::max())) return DISP_E_OVERFLOW;
    *out = static_cast<float>(v);  // NaN passes, as on Windows
    return S_OK;
}

HRESULT DoubleToDate(double v, DATE* out) {
    if (!DateInRange(v)) return DISP_E_OVERFLOW;
    *out = v;
    return S_OK;
}

HRESULT NumToCy(const Num& n, LONGLONG* out) {
    switch (n.kind) {
        case Num::Cy:
            *out = n.i;
            return S_OK;
        case Num::Int:
        case Num::Bool:
            if (n.i > kCyMaxWhole || n.i < -kCyMaxWhole) return DISP_E_OVERFLOW;
            *out = n.i * kCyScale;
            return S_OK;
        case Num::UInt:
            if (n.u > static_cast<unsigned long long>(kCyMaxWhole)) return DISP_E_OVERFLOW;
            *out = static_cast<long long>(n.u) * kCyScale;
            return S_OK;
        case Num::Real: {
            double r;
            if (!RoundHalfEven(n.r * static_cast<double>(kCyScale), &r) || !FitsDouble<long long>(r))
                return DISP_E_OVERFLOW;
            *out = static_cast<long long>(r);
            return S_OK;
        }
    }
    return DISP_E_TYPEMISMATCH;
}

bool NumIsZero(const Num& n) {
    switch (n.kind) {
        case Num::Int:
        case Num::Cy:
        case Num::Bool:
            return n.i == 0;
        case Num::UInt:
            return n.u == 0;
        case Num::Real:
            return n.r == 0;  // NaN is true
    }
    return true;
}

// ---- the coercion ---------------------------------------------------------------------------------

template <class T>
HRESULT ToInteger(const VARIANT& s, const NumFmt& fmt, T* out) {
    if (s.vt == VT_BSTR) {
        Decimal d;
        Parse p = ParseNumber(TextOf(s.bstrVal), fmt, &d);
        if (p == Parse::Ok) p = DecimalToInteger(d, out);
        return p == Parse::Ok ? S_OK : ToHr(p);
    }
    Num n;
    if (!NumOf(s, &n)) return DISP_E_TYPEMISMATCH;
    return NumToInteger(n, out);
}

HRESULT ToDouble(const VARIANT& s, const NumFmt& fmt, double* out) {
    if (s.vt == VT_BSTR) {
        Decimal d;
        Parse p = ParseNumber(TextOf(s.bstrVal), fmt, &d);
        if (p == Parse::Ok) p = DecimalToDouble(d, out);
        return p == Parse::Ok ? S_OK : ToHr(p);
    }
    Num n;
    if (!NumOf(s, &n)) return DISP_E_TYPEMISMATCH;
    *out = NumToDouble(n);
    return S_OK;
}

HRESULT ToText(const VARIANT& s, const NumFmt& fmt, USHORT flags, VARIANT* d) {
    switch (Normalise(s.vt)) {
        case VT_EMPTY:
            return SetText(d, SysAllocStringLen(nullptr, 0));
        case VT_I1:
            return TextFromSigned(static_cast<signed char>(s.cVal), d);
        case VT_I2:
            return TextFromSigned(s.iVal, d);
        case VT_I4:
            return TextFromSigned(s.lVal, d);
        case VT_I8:
            return TextFromSigned(s.llVal, d);
        case VT_UI1:
            return TextFromUnsigned(s.bVal, d);
        case VT_UI2:
            return TextFromUnsigned(s.uiVal, d);
        case VT_UI4:
            return TextFromUnsigned(s.ulVal, d);
        case VT_UI8:
            return TextFromUnsigned(s.ullVal, d);
        case VT_R4:
            return TextFromReal(s.fltVal, 7, fmt.dec, d);
        case VT_R8:
            return TextFromReal(s.dblVal, 15, fmt.dec, d);
        case VT_CY:
            return TextFromCy(s.cyVal.int64, fmt.dec, d);
        case VT_DATE:
            return TextFromDate(s.date, d);
        case VT_BOOL:
            if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL))
                return SetText(d, s.boolVal ? SysAllocString(u"True") : SysAllocString(u"False"));
            return TextFromSigned(s.boolVal, d);
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

bool SameSizePair(VARTYPE a, VARTYPE b) {
    auto size = [](VARTYPE t) -> int {
        switch (t) {
            case VT_I1:
            case VT_UI1:
                return 1;
            case VT_I2:
            case VT_UI2:
                return 2;
            case VT_I4:
            case VT_UI4:
                return 4;
            case VT_I8:
            case VT_UI8:
                return 8;
            default:
                return 0;
        }
    };
    return size(a) != 0 && size(a) == size(b);
}

// Converts the by-value view s into d (a fresh VT_EMPTY variant whose vt the caller sets).
HRESULT Coerce(const VARIANT& s, VARIANT* d, VARTYPE vt, const NumFmt& fmt, USHORT flags) {
    const VARTYPE from = Normalise(s.vt);
    const VARTYPE to = Normalise(vt);

    if ((s.vt & VT_ARRAY) || (vt & VT_ARRAY)) {
        if (s.vt != vt) return DISP_E_TYPEMISMATCH;
        if (s.parray != nullptr) return E_NOTIMPL;  // no SAFEARRAY copy in this runtime
        d->parray = nullptr;
        return S_OK;
    }
    if (vt & VT_BYREF) return DISP_E_TYPEMISMATCH;

    if (from == to) return VariantCopy(d, &s);

    switch (to) {
        case VT_EMPTY:
        case VT_NULL:
            if (to == VT_EMPTY && from == VT_NULL) return DISP_E_TYPEMISMATCH;
            if (from <= VT_UINT && from != 15 && from != VT_ERROR) return S_OK;
            return DISP_E_TYPEMISMATCH;

        case VT_I1:
        case VT_UI1:
        case VT_I2:
        case VT_UI2:
        case VT_I4:
        case VT_UI4:
        case VT_I8:
        case VT_UI8:
            if (SameSizePair(from, to)) {
                d->ullVal = 0;
                std::memcpy(&d->llVal, &s.llVal, DataSize(to));
                return S_OK;
            }
            if (to == VT_UI8 && from == VT_I4 && s.lVal < 0) return DISP_E_OVERFLOW;
            switch (to) {
                case VT_I1: {
                    signed char c;
                    const HRESULT hr = ToInteger(s, fmt, &c);
                    if (SUCCEEDED(hr)) d->cVal = static_cast<CHAR>(c);
                    return hr;
                }
                case VT_UI1:
                    return ToInteger(s, fmt, &d->bVal);
                case VT_I2:
                    return ToInteger(s, fmt, &d->iVal);
                case VT_UI2:
                    return ToInteger(s, fmt, &d->uiVal);
                case VT_I4:
                    return ToInteger(s, fmt, &d->lVal);
                case VT_UI4:
                    return ToInteger(s, fmt, &d->ulVal);
                case VT_I8:
                    return ToInteger(s, fmt, &d->llVal);
                default:
                    return ToInteger(s, fmt, &d->ullVal);
            }

        case VT_R4: {
            double v;
            const HRESULT hr = ToDouble(s, fmt, &v);
            return FAILED(hr) ? hr : DoubleToFloat(v, &d->fltVal);
        }
        case VT_R8:
            return ToDouble(s, fmt, &d->dblVal);

        case VT_DATE: {
            if (from == VT_BSTR) {
                const Parse p = ParseDate(TextOf(s.bstrVal), &d->date);
                return p == Parse::Ok ? S_OK : ToHr(p);
            }
            Num n;
            if (!NumOf(s, &n)) return DISP_E_TYPEMISMATCH;
            return DoubleToDate(NumToDouble(n), &d->date);
        }

        case VT_CY: {
            if (from == VT_BSTR) {
                Decimal dec;
                Parse p = ParseNumber(TextOf(s.bstrVal), fmt, &dec);
                long long cy = 0;
                if (p == Parse::Ok) p = DecimalToCy(dec, &cy);
                if (p != Parse::Ok) return ToHr(p);
                d->cyVal.int64 = cy;
                return S_OK;
            }
            Num n;
            if (!NumOf(s, &n)) return DISP_E_TYPEMISMATCH;
            return NumToCy(n, &d->cyVal.int64);
        }

        case VT_BOOL: {
            if (from == VT_BSTR) {
                const Parse p = ParseBool(TextOf(s.bstrVal), fmt, &d->boolVal);
                return p == Parse::Ok ? S_OK : ToHr(p);
            }
            Num n;
            if (!NumOf(s, &n)) return DISP_E_TYPEMISMATCH;
            d->boolVal = NumIsZero(n) ? VARIANT_FALSE : VARIANT_TRUE;
            return S_OK;
        }

        case VT_BSTR:
            return ToText(s, fmt, flags, d);

        case VT_UNKNOWN:
            if (from != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
            d->punkVal = nullptr;
            if (s.punkVal == nullptr) return S_OK;
            return s.punkVal->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&d->punkVal));

        case VT_DISPATCH:
            if (from != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
            d->punkVal = nullptr;
            if (s.punkVal == nullptr) return S_OK;
            return s.punkVal->QueryInterface(kIID_IDispatch, reinterpret_cast<void**>(&d->punkVal));

        default:  // VT_ERROR, VT_VARIANT, VT_DECIMAL from anything else
            return DISP_E_TYPEMISMATCH;
    }
}

}  // namespace

// ---- the API --------------------------------------------------------------------------------------

extern "C" void VariantInit(VARIANTARG* pvarg) {
    if (pvarg == nullptr) return;
    pvarg->vt = VT_EMPTY;
    pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
}

extern "C" HRESULT VariantClear(VARIANTARG* pvarg) {
    if (pvarg == nullptr) return E_POINTER;
    if (!IsValidVt(pvarg->vt)) return DISP_E_BADVARTYPE;
    if (!(pvarg->vt & VT_BYREF)) {
        if (pvarg->vt & VT_ARRAY) {
            if (pvarg->parray != nullptr) return E_NOTIMPL;  // see the top of this file
        } else if (pvarg->vt == VT_BSTR) {
            SysFreeString(pvarg->bstrVal);
        } else if (pvarg->vt == VT_UNKNOWN || pvarg->vt == VT_DISPATCH) {
            if (pvarg->punkVal != nullptr) pvarg->punkVal->Release();
        }
    }
    pvarg->vt = VT_EMPTY;
    return S_OK;
}

extern "C" HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
    if (pvargDest == nullptr || pvargSrc == nullptr) return E_POINTER;
    if (!IsValidVt(pvargSrc->vt)) return DISP_E_BADVARTYPE;
    if (pvargDest == pvargSrc) return S_OK;

    // The copy is made first, so that a failure leaves the destination as it was.
    VARIANT copy = *pvargSrc;
    if (!(copy.vt & VT_BYREF)) {
        if (copy.vt & VT_ARRAY) {
            if (copy.parray != nullptr) return E_NOTIMPL;
        } else if (copy.vt == VT_BSTR) {
            if (pvargSrc->bstrVal != nullptr) {
                copy.bstrVal = SysAllocStringLen(pvargSrc->bstrVal, SysStringLen(pvargSrc->bstrVal));
                if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
            }
        } else if (copy.vt == VT_UNKNOWN || copy.vt == VT_DISPATCH) {
            if (copy.punkVal != nullptr) copy.punkVal->AddRef();
        }
    }
    const HRESULT hr = VariantClear(pvargDest);
    if (FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *pvargDest = copy;
    return S_OK;
}

extern "C" HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid,
                                       USHORT wFlags, VARTYPE vt) {
    if (pvargDest == nullptr || pvarSrc == nullptr) return E_POINTER;
    if (!IsValidVt(pvarSrc->vt) || !IsValidVt(vt)) return DISP_E_BADVARTYPE;
    if (pvargDest == pvarSrc && pvarSrc->vt == vt && !(vt & VT_BYREF)) return S_OK;

    VARIANT view;
    HRESULT hr = ReadThrough(*pvarSrc, &view);
    if (FAILED(hr)) return hr;

    VARIANT result;
    std::memset(&result, 0, sizeof(result));
    hr = Coerce(view, &result, vt, FormatFor(lcid, wFlags), wFlags);
    if (FAILED(hr)) return hr;  // Coerce leaves nothing allocated on failure
    result.vt = vt;

    // The old value goes only now; for an in-place change that is the source itself.
    hr = VariantClear(pvargDest);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    *pvargDest = result;
    return S_OK;
}

extern "C" HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                                     VARTYPE vt) {
    return VariantChangeTypeEx(pvargDest, pvarSrc, LOCALE_USER_DEFAULT, wFlags, vt);
}

namespace com {

void SetUserDecimalSeparator(OLECHAR sep) {
    // 0 returns to the environment's separator; characters that would make numbers unreadable
    // (digits, signs, white space, exponent letters) are refused.
    if (sep != 0 && !UsableDecimal(sep)) return;
    g_userDecimal.store(sep, std::memory_order_relaxed);
}

OLECHAR GetUserDecimalSeparator() {
    const char16_t set = g_userDecimal.load(std::memory_order_relaxed);
    return set != 0 ? set : EnvironmentFormat().dec;
}

}  // namespace com
