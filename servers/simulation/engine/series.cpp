// The in-memory series.
#include "servers/simulation/engine/series.h"

#include <algorithm>

namespace sim {

namespace {
bool Earlier(const Sample& a, Ticks t) { return a.t < t; }
}  // namespace

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

VectorSeries::VectorSeries(std::vector<Sample> samples) : m_samples(std::move(samples)) {
    std::stable_sort(m_samples.begin(), m_samples.end(), [](const Sample& a, const Sample& b) { return a.t < b.t; });
    // Keep the last of several samples at one instant, as a later write would.
    std::vector<Sample> unique;
    unique.reserve(m_samples.size());
    for (auto& s : m_samples) {
        if (!unique.empty() && unique.back().t == s.t)
            unique.back() = std::move(s);
        else
            unique.push_back(std::move(s));
    }
    m_samples = std::move(unique);
}

std::size_t VectorSeries::Read(Ticks lo, Ticks hi, bool backward, std::size_t max, std::vector<Sample>& out) {
    if (lo > hi || max == 0) return 0;
    auto first = std::lower_bound(m_samples.begin(), m_samples.end(), lo, Earlier);
    auto last = std::upper_bound(m_samples.begin(), m_samples.end(), hi,
                                 [](Ticks t, const Sample& a) { return t < a.t; });
    std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(last - first), max);
    if (!backward) {
        out.insert(out.end(), first, first + static_cast<std::ptrdiff_t>(n));
    } else {
        for (std::size_t k = 0; k < n; ++k) out.push_back(*(last - 1 - static_cast<std::ptrdiff_t>(k)));
    }
    return n;
}

std::optional<Sample> VectorSeries::Floor(Ticks t, bool goodOnly) {
    auto it = std::upper_bound(m_samples.begin(), m_samples.end(), t,
                               [](Ticks x, const Sample& a) { return x < a.t; });
    while (it != m_samples.begin()) {
        --it;
        if (!goodOnly || IsGood(it->quality)) return *it;
    }
    return std::nullopt;
}

std::optional<Sample> VectorSeries::Ceil(Ticks t, bool goodOnly) {
    for (auto it = std::lower_bound(m_samples.begin(), m_samples.end(), t, Earlier); it != m_samples.end(); ++it)
        if (!goodOnly || IsGood(it->quality)) return *it;
    return std::nullopt;
}

}  // namespace sim
