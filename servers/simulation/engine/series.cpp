// Points from samples, for series without a faster way to give them.
#include "servers/simulation/engine/series.h"

namespace sim {

Point ToPoint(const Sample& s) {
    auto x = ToDouble(s.v);
    return Point{s.t, s.quality, x.value_or(0), x.has_value()};
}

std::size_t Series::ReadPoints(Ticks lo, Ticks hi, std::size_t max, std::vector<Point>& out) {
    std::vector<Sample> samples;
    std::size_t n = Read(lo, hi, false, max, samples);
    out.reserve(out.size() + n);
    for (const auto& s : samples) out.push_back(ToPoint(s));
    return n;
}

}  // namespace sim
