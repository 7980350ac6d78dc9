// Value helpers: numeric views of values and typed values from numbers.
#include <cmath>
#include <limits>

#include "servers/simulation/engine/types.h"

namespace sim {

bool IsSupportedType(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_I2:
        case VT_I4:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_BOOL:
        case VT_BSTR:
        case VT_DATE:
            return true;
        default:
            return false;
    }
}

bool IsIntegerType(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_I2:
        case VT_I4:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_CY:
        case VT_BOOL:
            return true;
        default:
            return false;
    }
}

bool IsRealType(VARTYPE vt) {
    return vt == VT_R4 || vt == VT_R8 || vt == VT_DATE;
}

std::optional<double> ToDouble(const Value& v) {
    switch (v.vt) {
        case VT_CY:
            return static_cast<double>(v.i) / 10000.0;
        case VT_BOOL:
            return v.i != 0 ? 1.0 : 0.0;
        case VT_R4:
        case VT_R8:
        case VT_DATE:
            return v.d;
        default:
            if (IsIntegerType(v.vt)) return static_cast<double>(v.i);
            return std::nullopt;
    }
}

namespace {

std::int64_t RoundClamp(double x, double lo, double hi) {
    if (std::isnan(x)) return 0;
    double r = std::round(x);
    if (r < lo) r = lo;
    if (r > hi) r = hi;
    return static_cast<std::int64_t>(r);
}

}  // namespace

Value FromDouble(VARTYPE vt, double x) {
    switch (vt) {
        case VT_I1:
            return Value::Int(vt, RoundClamp(x, -128, 127));
        case VT_I2:
            return Value::Int(vt, RoundClamp(x, -32768, 32767));
        case VT_I4:
            return Value::Int(vt, RoundClamp(x, -2147483648.0, 2147483647.0));
        case VT_UI1:
            return Value::Int(vt, RoundClamp(x, 0, 255));
        case VT_UI2:
            return Value::Int(vt, RoundClamp(x, 0, 65535));
        case VT_UI4:
            return Value::Int(vt, RoundClamp(x, 0, 4294967295.0));
        // The largest doubles below ±2^63, so that the conversion to int64 is defined.
        case VT_CY:
            return Value::Int(vt, RoundClamp(x * 10000.0, -9223372036854774784.0, 9223372036854774784.0));
        case VT_BOOL:
            return Value::Int(vt, (x != 0 && !std::isnan(x)) ? VARIANT_TRUE : VARIANT_FALSE);
        case VT_R4: {
            // Values beyond float's range saturate to ±FLT_MAX rather than becoming infinite.
            double m = std::numeric_limits<float>::max();
            double c = std::isnan(x) ? x : (x > m ? m : (x < -m ? -m : x));
            return Value::Real(vt, static_cast<double>(static_cast<float>(c)));
        }
        case VT_R8:
        case VT_DATE:
            return Value::Real(vt, x);
        default:
            return Value::Real(VT_R8, x);
    }
}

namespace {
struct TypeNameEntry {
    VARTYPE vt;
    const char16_t* name;
};
constexpr TypeNameEntry kTypeNames[] = {
    {VT_I1, u"I1"},   {VT_I2, u"I2"},     {VT_I4, u"I4"},     {VT_UI1, u"UI1"},
    {VT_UI2, u"UI2"}, {VT_UI4, u"UI4"},   {VT_R4, u"R4"},     {VT_R8, u"R8"},
    {VT_CY, u"CY"},   {VT_BOOL, u"BOOL"}, {VT_BSTR, u"BSTR"}, {VT_DATE, u"DATE"},
};

char16_t Upper(char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}
}  // namespace

VARTYPE TypeFromName(std::u16string_view name) {
    for (const auto& e : kTypeNames) {
        std::u16string_view n(e.name);
        if (n.size() != name.size()) continue;
        bool same = true;
        for (std::size_t k = 0; k < n.size(); ++k)
            if (Upper(name[k]) != n[k]) same = false;
        if (same) return e.vt;
    }
    return VT_EMPTY;
}

int QualityRank(DWORD quality) {
    switch (quality & OPC_QUALITY_MASK) {
        case OPC_QUALITY_GOOD:
            return 2;
        case OPC_QUALITY_UNCERTAIN:
            return 1;
        default:
            return 0;
    }
}

}  // namespace sim
