#include "client/textforms.h"

#include <algorithm>
#include <array>
#include <bit>

#include "com/ownership.h"
#include "com/text.h"
#include "hda/opchda.h"

namespace client {

namespace {

// ---- Qualities: every combination of name, limit and HDA flag, joined at compile time ----

constexpr std::u16string_view kQualityNames[] = {
    u"Bad, Non-Specific",               // 0x00
    u"Bad, Configuration Error",        // 0x04
    u"Bad, Not Connected",              // 0x08
    u"Bad, Device Failure",             // 0x0C
    u"Bad, Sensor Failure",             // 0x10
    u"Bad, Last Known Value",           // 0x14
    u"Bad, Communication Failure",      // 0x18
    u"Bad, Out of Service",             // 0x1C
    u"Uncertain, Non-Specific",         // 0x40
    u"Uncertain, Last Usable Value",    // 0x44
    u"Uncertain, Sensor Not Accurate",  // 0x50
    u"Uncertain, EU Exceeded",          // 0x54
    u"Uncertain, Sub-Normal",           // 0x58
    u"Good, Non-specific",              // 0xC0
    u"Good, Local Override",            // 0xD8
    u"Unknown Quality",                 // anything else
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
    std::size_t length;
};

constexpr std::array<QualityText, kNames* kLimits* kFlags> kQualityTexts = [] {
    std::array<QualityText, kNames * kLimits * kFlags> t{};
    for (std::size_t n = 0; n < kNames; ++n)
        for (std::size_t l = 0; l < kLimits; ++l)
            for (std::size_t f = 0; f < kFlags; ++f) {
                QualityText& q = t[(n * kLimits + l) * kFlags + f];
                std::size_t len = 0;
                for (std::u16string_view part : {kQualityNames[n], kLimitSuffixes[l], kHdaSuffixes[f]})
                    for (char16_t c : part) q.text[len++] = c;
                q.length = len;
            }
    return t;
}();

constexpr std::size_t HdaFlagIndex(DWORD quality) {
    const DWORD high = quality >> 16;
    // Exactly one of the eight defined flags; several flags or any other bit give no suffix.
    if (high == 0 || high > 0x80 || !std::has_single_bit(high)) return 0;
    return static_cast<std::size_t>(std::countr_zero(high)) + 1;
}

std::u16string BstrText(BSTR s) {
    return std::u16string(com::ReadReceivedBstr(s));
}

}  // namespace

std::u16string_view ResultCodeName(HRESULT hr) {
    switch (static_cast<DWORD>(hr)) {
        case 0x00000000:
            return u"OK";
        case 0x0004000D:
            return u"Unsupported Rate";
        case 0x0004000E:
            return u"Clamp";
        case 0x0004000F:
            return u"In Use";
        case 0x40041002:
            return u"No Data";
        case 0x40041003:
            return u"More Data Exists";
        case 0x40041005:
            return u"Current Value";
        case 0x40041006:
            return u"Extra Data";
        case 0x4004100E:
            return u"Inserted";
        case 0x4004100F:
            return u"Replaced";
        case 0x80004005:
            return u"Failed";
        case 0x80041007:
            return u"No Filter";
        case 0xC0040001:
            return u"Invalid Handle";
        case 0xC0040004:
            return u"Bad Type";
        case 0xC0040005:
            return u"Public";
        case 0xC0040006:
            return u"Bad Rights";
        case 0xC0040007:
            return u"Unknown Item ID";
        case 0xC0040008:
            return u"Invalid Item ID";
        case 0xC0040009:
            return u"Invalid Filter";
        case 0xC004000A:
            return u"Unknown Path";
        case 0xC004000B:
            return u"Range";
        case 0xC004000C:
            return u"Duplicate Name";
        case 0xC0040010:
            return u"Invalid Config File";
        case 0xC0040011:
            return u"Not Found";
        case 0xC0040203:
            return u"Invalid PID";
        case 0xC0041001:
            return u"Max Exceeded";
        case 0xC0041004:
            return u"Invalid Aggregate";
        case 0xC0041008:
            return u"Unknown Attribute ID";
        case 0xC0041009:
            return u"Not Available";
        case 0xC004100A:
            return u"Invalid Data Type";
        case 0xC004100B:
            return u"Data Exists";
        case 0xC004100C:
            return u"Invalid Attribute ID";
        default:
            return {};
    }
}

std::u16string FormatResultCode(HRESULT hr) {
    const std::u16string_view name = ResultCodeName(hr);
    if (!name.empty()) return std::u16string(name);
    return com::FormatW(u"Unknown Error code : 0x%X", {static_cast<DWORD>(hr)});
}

std::u16string_view FormatQuality(DWORD quality) {
    const std::size_t name = kQualityNameIndex[(quality & 0xFC) >> 2];
    const std::size_t limit = quality & 0x03;
    const QualityText& t = kQualityTexts[(name * kLimits + limit) * kFlags + HdaFlagIndex(quality)];
    return std::u16string_view(t.text, t.length);
}

std::u16string FormatVariant(const VARIANT& value) {
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
                return com::FormatW(u"Conversion failed : 0x%X", {static_cast<DWORD>(hr)});
            }
            std::u16string s = BstrText(text.bstrVal);
            VariantClear(&text);
            return s;
        }
        case VT_DATE:
            return u"Ack - Date";
        case VT_ERROR:
            return u"Ack - Error value";
        default:
            return u"Unknown";
    }
}

std::u16string_view ServerStateText(int nState) {
    switch (nState) {
        case OPCHDA_UP:
            return u"The historian is running";
        case OPCHDA_DOWN:
            return u"The historian is not running";
        case OPCHDA_INDETERMINATE:
            return u"Indetermined: see status string";
        default:
            return {};
    }
}

}  // namespace client
