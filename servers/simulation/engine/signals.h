// Signals computed from time: the history of a generated item exists for any range and is
// computed on demand. Samples lie at every multiple of the sampling period (counted from
// 1601-01-01), and each sample's value depends only on its instant and the item's seed, so a
// range always reads the same.
#pragma once

#include <string>
#include <vector>

#include "servers/simulation/engine/series.h"

namespace sim {

enum class Wave {
    Sine,      // offset + amplitude · sin(2π·phase)
    Sawtooth,  // rises from offset − amplitude to offset + amplitude over each period
    Square,    // offset + amplitude in the first half of each period, offset − amplitude after
    Triangle,  // offset − amplitude → offset + amplitude → offset − amplitude
    Random,    // uniform in [offset − amplitude, offset + amplitude], from the seed and the sample
    Counter,   // offset + the sample's number within the period (0, 1, 2, ...)
    Clock,     // the sample's own instant (a DATE)
    States,    // the period split evenly among the state texts
};

enum class QualityPattern {
    AlwaysGood,
    Flaky,  // about 8 % Bad (comm failure) and 7 % Uncertain (last usable), from the seed
};

struct SignalDef {
    Wave wave = Wave::Sine;
    double amplitude = 1;
    double offset = 0;
    Ticks wavePeriod = 60 * kTicksPerSecond;
    Ticks samplePeriod = kTicksPerSecond;
    Ticks phase = 0;  // shifts the wave (not the sampling) by this much
    std::uint64_t seed = 0;
    QualityPattern quality = QualityPattern::AlwaysGood;
    std::vector<std::u16string> states;  // for Wave::States
};

// A human-readable formula for the derive-equation attribute.
std::u16string DescribeSignal(const SignalDef& def);

// How many samples a signal has in [lo, hi].
std::uint64_t SampleCount(const SignalDef& def, Ticks lo, Ticks hi);

class GeneratedSeries : public Series {
public:
    GeneratedSeries(const SignalDef& def, VARTYPE vt) : m_def(def), m_vt(vt) {}
    std::size_t Read(Ticks lo, Ticks hi, bool backward, std::size_t max, std::vector<Sample>& out) override;
    std::size_t ReadPoints(Ticks lo, Ticks hi, std::size_t max, std::vector<Point>& out) override;
    std::optional<Sample> Floor(Ticks t, bool goodOnly) override;
    std::optional<Sample> Ceil(Ticks t, bool goodOnly) override;

private:
    const SignalDef& m_def;
    VARTYPE m_vt;
};

}  // namespace sim
