// FormatResultCode, FormatQuality, FormatVariant and FormatTimestamp.
//
// Result codes and qualities are shown once per cell of lists that may hold 100,000 rows, so both
// return QStrings over constant data: nothing is allocated except for the rare unknown result code.
#include "outputpane/textforms.h"

#include <algorithm>
#include <array>
#include <bit>
#include <string_view>

#include "com/oleauto.h"
#include "com/timeapi.h"
#include "hda/opchda.h"
#include "outputpane/outputpane.h"

namespace {

// Upper-case hexadecimal without leading zeros.
QString Hex(ULONGLONG v) {
    char16_t buf[16];
    int n = 0;
    do {
        buf[15 - n++] = u"0123456789ABCDEF"[v & 0xF];
        v >>= 4;
    } while (v != 0);
    return QString(reinterpret_cast<const QChar*>(buf + 16 - n), n);
}

// "Unknown Error code : 0x%X", built in place: one allocation.
QString UnknownCodeText(DWORD code) {
    static constexpr std::u16string_view kPrefix = u"Unknown Error code : 0x";
    char16_t buf[kPrefix.size() + 8];
    std::copy(kPrefix.begin(), kPrefix.end(), buf);
    int n = static_cast<int>(kPrefix.size());
    int digits = 1;
    while (digits < 8 && (code >> (4 * digits)) != 0) ++digits;
    for (int d = digits - 1; d >= 0; --d) buf[n++] = u"0123456789ABCDEF"[(code >> (4 * d)) & 0xF];
    return QString(reinterpret_cast<const QChar*>(buf), n);
}

// ---- Qualities: every combination of name, limit and HDA flag, joined at compile time ----

constexpr std::u16string_view kQualityNames[] = {
    u"Bad, Non-Specific",            // 0x00
    u"Bad, Configuration Error",     // 0x04
    u"Bad, Not Connected",           // 0x08
    u"Bad, Device Failure",          // 0x0C
    u"Bad, Sensor Failure",          // 0x10
    u"Bad, Last Known Value",        // 0x14
    u"Bad, Communication Failure",   // 0x18
    u"Bad, Out of Service",          // 0x1C
    u"Uncertain, Non-Specific",      // 0x40
    u"Uncertain, Last Usable Value", // 0x44
    u"Uncertain, Sensor Not Accurate",  // 0x50
    u"Uncertain, EU Exceeded",       // 0x54
    u"Uncertain, Sub-Normal",        // 0x58
    u"Good, Non-specific",           // 0xC0
    u"Good, Local Override",         // 0xD8
    u"Unknown Quality",              // anything else
};
constexpr int kUnknownQuality = 15;

// (quality AND 0xFC) >> 2 -> index into kQualityNames.
constexpr std::array<unsigned char, 64> kQualityNameIndex = [] {
    std::array<unsigned char, 64> t{};
    for (auto& i : t) i = kUnknownQuality;
    constexpr unsigned char codes[] = {0x00, 0x04, 0x08, 0x0C, 0x10, 0x14, 0x18, 0x1C,
                                       0x40, 0x44, 0x50, 0x54, 0x58, 0xC0, 0xD8};
    for (unsigned char k = 0; k < sizeof(codes); ++k) t[codes[k] >> 2] = k;
    return t;
}();

constexpr std::u16string_view kLimitSuffixes[] = {u"", u" (Low Limited)", u" (High Limited)", u" (Constant)"};

// Index 0: no suffix; index k: the flag 1 << (k - 1) of the high word.
constexpr std::u16string_view kHdaSuffixes[] = {
    u"",
    u" : Extra Data",                  // OPCHDA_EXTRADATA
    u" : Interpolated Value",          // OPCHDA_INTERPOLATED
    u" : Raw",                         // OPCHDA_RAW
    u" : Calculated",                  // OPCHDA_CALCULATED
    u" : No Bound",                    // OPCHDA_NOBOUND
    u" : No Data Collected",           // OPCHDA_NODATA
    u" : Data collection lost",        // OPCHDA_DATALOST
    u" : Scaling / Conversion Error",  // OPCHDA_CONVERSION
};
static_assert(OPCHDA_EXTRADATA == 0x00010000 && OPCHDA_CONVERSION == 0x00800000);

constexpr std::size_t kNames = std::size(kQualityNames);
constexpr std::size_t kLimits = std::size(kLimitSuffixes);
constexpr std::size_t kFlags = std::size(kHdaSuffixes);
constexpr std::size_t kMaxQualityText = 80;

struct QualityText {
    char16_t text[kMaxQualityText];
    qsizetype length;
};

constexpr std::array<QualityText, kNames * kLimits * kFlags> kQualityTexts = [] {
    std::array<QualityText, kNames * kLimits * kFlags> t{};
    for (std::size_t n = 0; n < kNames; ++n)
        for (std::size_t l = 0; l < kLimits; ++l)
            for (std::size_t f = 0; f < kFlags; ++f) {
                QualityText& q = t[(n * kLimits + l) * kFlags + f];
                std::size_t len = 0;
                for (std::u16string_view part : {kQualityNames[n], kLimitSuffixes[l], kHdaSuffixes[f]})
                    for (char16_t c : part) q.text[len++] = c;
                q.length = static_cast<qsizetype>(len);
            }
    return t;
}();

constexpr std::size_t HdaFlagIndex(DWORD quality) {
    const DWORD high = quality >> 16;
    // Exactly one of the eight defined flags; several flags or any other bit give no suffix.
    if (high == 0 || high > 0x80 || !std::has_single_bit(high)) return 0;
    return static_cast<std::size_t>(std::countr_zero(high)) + 1;
}

QString BstrText(BSTR s) {
    if (s == nullptr) return QString();
    return QString(reinterpret_cast<const QChar*>(s), static_cast<qsizetype>(SysStringLen(s)));
}

}  // namespace

QString COutputPane::FormatResultCode(HRESULT hr) {
    switch (static_cast<DWORD>(hr)) {
        case 0x00000000: return QStringLiteral("OK");
        case 0x0004000D: return QStringLiteral("Unsupported Rate");
        case 0x0004000E: return QStringLiteral("Clamp");
        case 0x0004000F: return QStringLiteral("In Use");
        case 0x40041002: return QStringLiteral("No Data");
        case 0x40041003: return QStringLiteral("More Data Exists");
        case 0x40041005: return QStringLiteral("Current Value");
        case 0x40041006: return QStringLiteral("Extra Data");
        case 0x4004100E: return QStringLiteral("Inserted");
        case 0x4004100F: return QStringLiteral("Replaced");
        case 0x80004005: return QStringLiteral("Failed");
        case 0x80041007: return QStringLiteral("No Filter");
        case 0xC0040001: return QStringLiteral("Invalid Handle");
        case 0xC0040004: return QStringLiteral("Bad Type");
        case 0xC0040005: return QStringLiteral("Public");
        case 0xC0040006: return QStringLiteral("Bad Rights");
        case 0xC0040007: return QStringLiteral("Unknown Item ID");
        case 0xC0040008: return QStringLiteral("Invalid Item ID");
        case 0xC0040009: return QStringLiteral("Invalid Filter");
        case 0xC004000A: return QStringLiteral("Unknown Path");
        case 0xC004000B: return QStringLiteral("Range");
        case 0xC004000C: return QStringLiteral("Duplicate Name");
        case 0xC0040010: return QStringLiteral("Invalid Config File");
        case 0xC0040011: return QStringLiteral("Not Found");
        case 0xC0040203: return QStringLiteral("Invalid PID");
        case 0xC0041001: return QStringLiteral("Max Exceeded");
        case 0xC0041004: return QStringLiteral("Invalid Aggregate");
        case 0xC0041008: return QStringLiteral("Unknown Attribute ID");
        case 0xC0041009: return QStringLiteral("Not Available");
        case 0xC004100A: return QStringLiteral("Invalid Data Type");
        case 0xC004100B: return QStringLiteral("Data Exists");
        case 0xC004100C: return QStringLiteral("Invalid Attribute ID");
        default: return UnknownCodeText(static_cast<DWORD>(hr));
    }
}

QString COutputPane::FormatQuality(DWORD quality) {
    const std::size_t name = kQualityNameIndex[(quality & 0xFC) >> 2];
    const std::size_t limit = quality & 0x03;
    const QualityText& t = kQualityTexts[(name * kLimits + limit) * kFlags + HdaFlagIndex(quality)];
    return QString::fromRawData(reinterpret_cast<const QChar*>(t.text), t.length);
}

QString COutputPane::FormatVariant(const VARIANT& value) {
    switch (value.vt) {
        case VT_BSTR:
            // Converting a string to a string copies it; read it where it is.
            return BstrText(value.bstrVal);
        case VT_EMPTY:
        case VT_I2:
        case VT_I4:
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_BOOL:
        case VT_I1:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4: {
            VARIANT text;
            VariantInit(&text);
            const HRESULT hr = VariantChangeType(&text, &value, 0, VT_BSTR);
            if (FAILED(hr) || text.vt != VT_BSTR) {
                VariantClear(&text);
                return QStringLiteral("Conversion failed : 0x") + Hex(static_cast<DWORD>(hr));
            }
            QString s = BstrText(text.bstrVal);
            VariantClear(&text);
            return s;
        }
        case VT_DATE: return QStringLiteral("Ack - Date");
        case VT_ERROR: return QStringLiteral("Ack - Error value");
        default: return QStringLiteral("Unknown");
    }
}

QString FormatTimestamp(FILETIME ftUtc) {
    FILETIME local;
    SYSTEMTIME st;
    if (!FileTimeToLocalFileTime(&ftUtc, &local) || !FileTimeToSystemTime(&local, &st))
        return QString::fromUtf16(kInvalidTimestampText) + Hex(FileTimeToU64(ftUtc));

    // "%04d/%02d/%02d %02d:%02d:%02d.%03d"
    char16_t buf[64];  // seven fields of at most five digits and their separators
    int n = 0;
    auto put = [&](unsigned v, int width, char16_t after) {
        char16_t digits[10];
        int d = 0;
        do {
            digits[d++] = static_cast<char16_t>(u'0' + v % 10);
            v /= 10;
        } while (v != 0);
        while (d < width) digits[d++] = u'0';
        while (d > 0) buf[n++] = digits[--d];
        if (after) buf[n++] = after;
    };
    put(st.wYear, 4, u'/');
    put(st.wMonth, 2, u'/');
    put(st.wDay, 2, u' ');
    put(st.wHour, 2, u':');
    put(st.wMinute, 2, u':');
    put(st.wSecond, 2, u'.');
    put(st.wMilliseconds, 3, 0);
    return QString(reinterpret_cast<const QChar*>(buf), n);
}
