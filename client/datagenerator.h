// The data generator of the Insert dialog without its widgets: a ramp of values at a fixed time step,
// and the quality words of the quality texts.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "com/types.h"

namespace client {

inline constexpr char16_t kGeneratorDirectionText[] =
    u"Error Calculating Output, change sign of Incremnt value";

struct GeneratorSettings {
    double initial = 1.0;
    double increment = 1.0;
    double end = 10.0;               // never produced itself
    ULONGLONG stepTicks = 10000000;  // between rows
    ULONGLONG startTicks = 0;        // the first row's timestamp
};

enum class GeneratorResult {
    Ok,              // every row produced (none when initial equals end)
    WrongDirection,  // increment zero or pointing away from the end: kGeneratorDirectionText
    TooMany,         // more rows than allowed: none produced
    NoProgress,      // the increment is too small to change the value: none produced
    TimeOverflow,    // a timestamp would leave 64 bits: none produced
};

// How many rows the ramp has (the loop of the dialog: v, v + d, ... while short of the end, the value
// accumulated by repeated addition), stopping at maxRows + 1. Checks the settings as Generate does.
GeneratorResult CountRows(const GeneratorSettings& settings, std::size_t maxRows, std::size_t* pRows);

// Hands every row, oldest first, to row(value, ticks). Checks first, so that either every row or none
// is produced.
GeneratorResult Generate(const GeneratorSettings& settings, std::size_t maxRows,
                         const std::function<void(double value, ULONGLONG ticks)>& row);

// "%f" of a value (six decimals, a point, whatever the locale), as the generator writes its rows.
std::u16string GeneratorValueText(double value);

// The quality word of a row's quality text: "Good" 0xC0, "Uncertain" 0x40, anything else 0 (compared
// exactly, letter case included).
DWORD QualityFromText(std::u16string_view text);

}  // namespace client
