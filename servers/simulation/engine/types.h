// Plain types shared by the simulation historian's engine: instants, values, samples.
// The engine is ordinary C++ over these types; only the COM layer knows VARIANT and task memory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "hda/opchda.h"

namespace sim {

// FILETIME ticks: 100 ns since 1601-01-01 UTC. Every instant the engine produces lies in
// [0, kMaxTicks], the range a FILETIME can express as a calendar date.
using Ticks = std::uint64_t;
constexpr Ticks kMaxTicks = 0x7FFFFFFFFFFFFFFFULL;
constexpr Ticks kTicksPerMs = 10'000ULL;
constexpr Ticks kTicksPerSecond = 10'000'000ULL;
constexpr Ticks kTicksPerMinute = 60 * kTicksPerSecond;
constexpr Ticks kTicksPerHour = 60 * kTicksPerMinute;
constexpr Ticks kTicksPerDay = 24 * kTicksPerHour;

// One value of an item. Integer types, BOOL (0 / -1) and CY (scaled by 10,000) live in i; R4, R8
// and DATE in d; BSTR in s.
struct Value {
    VARTYPE vt = VT_EMPTY;
    union {
        std::int64_t i;
        double d;
    };
    std::u16string s;

    Value() : i(0) {}
    static Value Empty() { return Value(); }
    static Value Int(VARTYPE vt, std::int64_t v) {
        Value r;
        r.vt = vt;
        r.i = v;
        return r;
    }
    static Value Real(VARTYPE vt, double v) {
        Value r;
        r.vt = vt;
        r.d = v;
        return r;
    }
    static Value Text(std::u16string v) {
        Value r;
        r.vt = VT_BSTR;
        r.s = std::move(v);
        return r;
    }
};

// The value types items can have.
bool IsSupportedType(VARTYPE vt);
bool IsIntegerType(VARTYPE vt);  // I1..UI4, BOOL and CY keep their value in Value::i
bool IsRealType(VARTYPE vt);     // R4, R8, DATE
// Types whose values take part in numeric aggregates (all supported types but BSTR).
inline bool IsNumericType(VARTYPE vt) {
    return IsIntegerType(vt) || IsRealType(vt);
}

// The number a value stands for in calculations: CY in currency units, BOOL true as 1, DATE in days.
// Empty for text and empty values.
std::optional<double> ToDouble(const Value& v);
// A value of type vt for the number x: integers rounded half away from zero and clamped to the
// type's range, BOOL true when x is not 0, CY rounded to 1/10,000. NaN gives 0.
Value FromDouble(VARTYPE vt, double x);

// The type named "I1", "I2", "I4", "UI1", "UI2", "UI4", "R4", "R8", "CY", "BOOL", "BSTR" or "DATE"
// (letter case ignored); VT_EMPTY for any other name.
VARTYPE TypeFromName(std::u16string_view name);

// One value of an item's history: its instant, its quality word and the value.
struct Sample {
    Ticks t = 0;
    DWORD quality = 0;
    Value v;
};

// Quality helpers over the DA part (low byte) of a quality word.
inline bool IsGood(DWORD quality) {
    return (quality & OPC_QUALITY_MASK) == OPC_QUALITY_GOOD;
}
inline bool IsBad(DWORD quality) {
    return (quality & OPC_QUALITY_MASK) == OPC_QUALITY_BAD;
}
// The DA part of a quality word (the low 16 bits, of which the low byte is used).
inline DWORD DaPart(DWORD quality) {
    return quality & 0xFFFF;
}

// Ordering of DA quality classes from worst to best: Bad (and the unused class 0x80) 0,
// Uncertain 1, Good 2.
int QualityRank(DWORD quality);

}  // namespace sim
