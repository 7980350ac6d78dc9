// Signal generators.
#include "servers/simulation/engine/signals.h"

#include <cmath>
#include <cstdio>
#include <numbers>

#include "servers/simulation/engine/timeutil.h"

namespace sim {

namespace {

std::uint64_t SplitMix64(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

// Uniform in [0, 1) from a seed and a sample number.
double Unit(std::uint64_t seed, std::uint64_t k) {
    return static_cast<double>(SplitMix64(seed ^ SplitMix64(k)) >> 11) * 0x1.0p-53;
}

DWORD QualityAt(const SignalDef& def, std::uint64_t k) {
    if (def.quality == QualityPattern::AlwaysGood) return OPC_QUALITY_GOOD;
    std::uint64_t r = SplitMix64(def.seed * 31 + 7 + SplitMix64(k)) % 100;
    if (r < 8) return OPC_QUALITY_COMM_FAILURE;
    if (r < 15) return OPC_QUALITY_LAST_USABLE;
    return OPC_QUALITY_GOOD;
}

// How far goodOnly searches look for a Good sample before giving up.
constexpr std::uint64_t kGoodSearchLimit = 4096;

}  // namespace

namespace {

// The sample with number k (at k × the sampling period).
Sample SampleNumber(const SignalDef& def, VARTYPE vt, std::uint64_t k) {
    Sample s;
    const Ticks t = k * def.samplePeriod;
    s.t = t;
    s.quality = QualityAt(def, k);
    const Ticks period = def.wavePeriod ? def.wavePeriod : 1;
    // t ≤ 2^63 - 1 and the phase is below the period: the sum cannot overflow.
    const double x = static_cast<double>((t + def.phase % period) % period) / static_cast<double>(period);
    double y = 0;
    switch (def.wave) {
        case Wave::Sine:
            y = def.offset + def.amplitude * std::sin(2 * std::numbers::pi * x);
            break;
        case Wave::Sawtooth:
            y = def.offset + def.amplitude * (2 * x - 1);
            break;
        case Wave::Square:
            y = def.offset + (x < 0.5 ? def.amplitude : -def.amplitude);
            break;
        case Wave::Triangle:
            y = def.offset + def.amplitude * (x < 0.5 ? 4 * x - 1 : 3 - 4 * x);
            break;
        case Wave::Random:
            y = def.offset + def.amplitude * (2 * Unit(def.seed, k) - 1);
            break;
        case Wave::Counter: {
            Ticks perWave = period / def.samplePeriod;
            y = def.offset + static_cast<double>(perWave ? k % perWave : k);
            break;
        }
        case Wave::Clock:
            s.v = Value::Real(VT_DATE, TicksToOleDate(t));
            if (vt != VT_DATE) s.v = FromDouble(vt, s.v.d);
            return s;
        case Wave::States: {
            if (def.states.empty()) {
                s.v = Value::Text(u"");
            } else {
                std::size_t n = def.states.size();
                std::size_t idx = static_cast<std::size_t>(x * static_cast<double>(n));
                s.v = Value::Text(def.states[idx < n ? idx : n - 1]);
            }
            return s;
        }
    }
    if (vt == VT_BSTR) {
        // A numeric wave on a text item: the number as text.
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.15g", y);
        std::string txt(buf);
        s.v = Value::Text(std::u16string(txt.begin(), txt.end()));
    } else if (vt == VT_BOOL) {
        s.v = Value::Int(VT_BOOL, y > def.offset ? VARIANT_TRUE : VARIANT_FALSE);
    } else {
        s.v = FromDouble(vt, y);
    }
    return s;
}

}  // namespace

std::u16string DescribeSignal(const SignalDef& def) {
    auto num = [](double v) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%g", v);
        std::string s(buf);
        return std::u16string(s.begin(), s.end());
    };
    auto dur = [&](Ticks t) { return num(static_cast<double>(t) / kTicksPerSecond) + u" s"; };
    std::u16string shape;
    switch (def.wave) {
        case Wave::Sine:
            shape = num(def.offset) + u" + " + num(def.amplitude) + u" * sin(2*pi*t/" + dur(def.wavePeriod) +
                    u")";
            break;
        case Wave::Sawtooth:
            shape = u"sawtooth " + num(def.offset - def.amplitude) + u".." + num(def.offset + def.amplitude) +
                    u", period " + dur(def.wavePeriod);
            break;
        case Wave::Square:
            shape = u"square " + num(def.offset - def.amplitude) + u"/" + num(def.offset + def.amplitude) +
                    u", period " + dur(def.wavePeriod);
            break;
        case Wave::Triangle:
            shape = u"triangle " + num(def.offset - def.amplitude) + u".." + num(def.offset + def.amplitude) +
                    u", period " + dur(def.wavePeriod);
            break;
        case Wave::Random:
            shape = u"uniform random " + num(def.offset - def.amplitude) + u".." +
                    num(def.offset + def.amplitude) + u", seed " + num(static_cast<double>(def.seed));
            break;
        case Wave::Counter:
            shape = num(def.offset) + u" + sample number within " + dur(def.wavePeriod);
            break;
        case Wave::Clock:
            shape = u"the sample's own time";
            break;
        case Wave::States:
            shape = u"states cycling every " + dur(def.wavePeriod);
            break;
    }
    return shape + u"; sampled every " + dur(def.samplePeriod);
}

std::size_t GeneratedSeries::Read(Ticks lo, Ticks hi, bool backward, std::size_t max,
                                  std::vector<Sample>& out) {
    if (hi > kMaxTicks) hi = kMaxTicks;
    if (lo > hi || max == 0) return 0;
    const Ticks p = m_def.samplePeriod;
    const std::uint64_t kFirst = lo / p + (lo % p ? 1 : 0);
    const std::uint64_t kLast = hi / p;
    if (kFirst > kLast) return 0;
    const std::uint64_t avail = kLast - kFirst + 1;
    const std::size_t n = avail < max ? static_cast<std::size_t>(avail) : max;
    out.reserve(out.size() + n);
    for (std::size_t j = 0; j < n; ++j) {
        std::uint64_t k = backward ? kLast - j : kFirst + j;
        out.push_back(SampleNumber(m_def, m_vt, k));
    }
    return n;
}

std::size_t GeneratedSeries::ReadPoints(Ticks lo, Ticks hi, std::size_t max, std::vector<Point>& out) {
    if (hi > kMaxTicks) hi = kMaxTicks;
    if (lo > hi || max == 0) return 0;
    const Ticks p = m_def.samplePeriod;
    const std::uint64_t kFirst = lo / p + (lo % p ? 1 : 0);
    const std::uint64_t kLast = hi / p;
    if (kFirst > kLast) return 0;
    const std::uint64_t avail = kLast - kFirst + 1;
    const std::size_t n = avail < max ? static_cast<std::size_t>(avail) : max;
    out.reserve(out.size() + n);
    for (std::size_t j = 0; j < n; ++j) out.push_back(ToPoint(SampleNumber(m_def, m_vt, kFirst + j)));
    return n;
}

std::uint64_t SampleCount(const SignalDef& def, Ticks lo, Ticks hi) {
    if (hi > kMaxTicks) hi = kMaxTicks;
    if (lo > hi) return 0;
    const Ticks p = def.samplePeriod;
    const std::uint64_t kFirst = lo / p + (lo % p ? 1 : 0), kLast = hi / p;
    return kFirst > kLast ? 0 : kLast - kFirst + 1;
}

std::optional<Sample> GeneratedSeries::Floor(Ticks t, bool goodOnly) {
    if (t > kMaxTicks) t = kMaxTicks;
    const Ticks p = m_def.samplePeriod;
    std::uint64_t k = t / p;
    for (std::uint64_t n = 0; n < kGoodSearchLimit; ++n) {
        Sample s = SampleNumber(m_def, m_vt, k);
        if (!goodOnly || IsGood(s.quality)) return s;
        if (k == 0) break;
        --k;
    }
    return std::nullopt;
}

std::optional<Sample> GeneratedSeries::Ceil(Ticks t, bool goodOnly) {
    if (t > kMaxTicks) return std::nullopt;
    const Ticks p = m_def.samplePeriod;
    std::uint64_t k = t / p + (t % p ? 1 : 0);
    const std::uint64_t kMax = kMaxTicks / p;
    for (std::uint64_t n = 0; n < kGoodSearchLimit && k <= kMax; ++n, ++k) {
        Sample s = SampleNumber(m_def, m_vt, k);
        if (!goodOnly || IsGood(s.quality)) return s;
    }
    return std::nullopt;
}

}  // namespace sim
