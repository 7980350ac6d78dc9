// ReadProcessed and ReadAtTime.
#include "servers/simulation/engine/aggregates.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

constexpr AggregateInfo kAggregates[] = {
    {OPCHDA_INTERPOLATIVE, u"Interpolative",
     u"Value at the start of each interval, interpolated between the values around it"},
    {OPCHDA_TOTAL, u"Total", u"Time average times the interval's length in seconds"},
    {OPCHDA_AVERAGE, u"Average", u"Arithmetic mean of the Good values in the interval"},
    {OPCHDA_TIMEAVERAGE, u"Time Average",
     u"Area under the interpolated values divided by the interval's length"},
    {OPCHDA_COUNT, u"Count", u"Number of Good values in the interval"},
    {OPCHDA_STDEV, u"Standard Deviation", u"Standard deviation of the Good values in the interval"},
    {OPCHDA_MINIMUMACTUALTIME, u"Minimum Actual Time",
     u"Smallest Good value in the interval, with its own timestamp"},
    {OPCHDA_MINIMUM, u"Minimum", u"Smallest Good value in the interval"},
    {OPCHDA_MAXIMUMACTUALTIME, u"Maximum Actual Time",
     u"Largest Good value in the interval, with its own timestamp"},
    {OPCHDA_MAXIMUM, u"Maximum", u"Largest Good value in the interval"},
    {OPCHDA_START, u"Start", u"First value in the interval, with its own timestamp"},
    {OPCHDA_END, u"End", u"Last value in the interval, with its own timestamp"},
    {OPCHDA_DELTA, u"Delta", u"Last Good value minus the first Good value in the interval"},
    {OPCHDA_REGSLOPE, u"Regression Line Slope",
     u"Slope of the least-squares line through the Good values (per second)"},
    {OPCHDA_REGCONST, u"Regression Line Constant",
     u"Value of the least-squares line at the start of the interval"},
    {OPCHDA_REGDEV, u"Regression Line Error",
     u"Standard deviation of the Good values about the least-squares line"},
    {OPCHDA_VARIANCE, u"Variance", u"Variance of the Good values in the interval"},
    {OPCHDA_RANGE, u"Range", u"Largest minus smallest Good value in the interval"},
    {OPCHDA_DURATIONGOOD, u"Duration Good", u"Seconds of the interval during which the quality was Good"},
    {OPCHDA_DURATIONBAD, u"Duration Bad", u"Seconds of the interval during which the quality was Bad"},
    {OPCHDA_PERCENTGOOD, u"Percent Good",
     u"Fraction of the interval during which the quality was Good (1.0 = all of it)"},
    {OPCHDA_PERCENTBAD, u"Percent Bad",
     u"Fraction of the interval during which the quality was Bad (1.0 = all of it)"},
    {OPCHDA_WORSTQUALITY, u"Worst Quality", u"Worst quality of the values in the interval"},
};

constexpr DWORD kUncertain = OPC_QUALITY_SUB_NORMAL;
constexpr std::size_t kChunk = 8192;

double Seconds(Ticks t) {
    return static_cast<double>(t) / static_cast<double>(kTicksPerSecond);
}
double SignedSeconds(Ticks t, Ticks from) {
    return t >= from ? Seconds(t - from) : -Seconds(from - t);
}

Sample NoData(Ticks t) {
    Sample s;
    s.t = t;
    s.quality = OPCHDA_NODATA;
    return s;
}

Sample Calculated(Ticks t, Value v, bool uncertain) {
    Sample s;
    s.t = t;
    s.v = std::move(v);
    s.quality = OPCHDA_CALCULATED | (uncertain ? kUncertain : OPC_QUALITY_GOOD);
    return s;
}

Value R8(double x) {
    return Value::Real(VT_R8, x);
}

// Linear interpolation between two Good samples, as a value of the item's type.
Value Between(const ItemTraits& traits, const Sample& a, const Sample& b, Ticks t) {
    if (traits.stepped || !IsNumericType(traits.vt) || traits.vt == VT_BOOL) return a.v;
    auto va = ToDouble(a.v), vb = ToDouble(b.v);
    if (!va || !vb) return a.v;
    double f = static_cast<double>(t - a.t) / static_cast<double>(b.t - a.t);
    return FromDouble(traits.vt, *va + (*vb - *va) * f);
}

}  // namespace

std::span<const AggregateInfo> Aggregates() {
    return kAggregates;
}

bool IsKnownAggregate(DWORD id) {
    for (const auto& a : kAggregates)
        if (a.id == id) return true;
    return false;
}

bool AggregateFitsType(DWORD id, VARTYPE vt) {
    if (IsNumericType(vt)) return true;
    switch (id) {
        case OPCHDA_INTERPOLATIVE:
        case OPCHDA_COUNT:
        case OPCHDA_START:
        case OPCHDA_END:
        case OPCHDA_DURATIONGOOD:
        case OPCHDA_DURATIONBAD:
        case OPCHDA_PERCENTGOOD:
        case OPCHDA_PERCENTBAD:
        case OPCHDA_WORSTQUALITY:
            return true;
        default:
            return false;
    }
}

Sample ValueAtTime(Series& series, const ItemTraits& traits, Ticks t) {
    auto f = series.Floor(t, false);
    if (f && f->t == t && IsGood(f->quality)) {
        f->quality = DaPart(f->quality) | OPCHDA_RAW;
        return std::move(*f);
    }
    bool skipped = false;
    std::optional<Sample> before;
    if (f && IsGood(f->quality)) {
        before = std::move(f);
    } else if (f) {
        skipped = true;
        before = series.Floor(f->t, true);
    }
    if (!before) return NoData(t);  // never extrapolated backwards

    std::optional<Sample> c = t < kMaxTicks ? series.Ceil(t + 1, false) : std::nullopt;
    std::optional<Sample> after;
    if (c && IsGood(c->quality)) {
        after = std::move(c);
    } else if (c) {
        skipped = true;
        after = series.Ceil(c->t, true);
    }
    Sample s;
    s.t = t;
    if (!after) {
        // Held forward from the last Good value.
        s.v = std::move(before->v);
        s.quality = OPCHDA_INTERPOLATED | kUncertain;
        return s;
    }
    s.v = Between(traits, *before, *after, t);
    s.quality = OPCHDA_INTERPOLATED | (skipped ? kUncertain : OPC_QUALITY_GOOD);
    return s;
}

ItemResult ReadAtTime(Series& series, const ItemTraits& traits, std::span<const Ticks> times) {
    ItemResult r;
    r.samples.reserve(times.size());
    bool any = false;
    for (Ticks t : times) {
        r.samples.push_back(ValueAtTime(series, traits, t));
        if (!(r.samples.back().quality & OPCHDA_NODATA)) any = true;
    }
    r.code = any ? S_OK : OPC_S_NODATA;
    return r;
}

std::uint64_t IntervalCount(Ticks start, Ticks end, Ticks interval) {
    const Ticks range = start < end ? end - start : start - end;
    if (interval == 0 || interval >= range) return 1;
    return range / interval + (range % interval ? 1 : 0);
}

namespace {

struct Interval {
    Ticks lo, hi;  // lo < hi; forward reads hold [lo, hi), backward reads (lo, hi]
    Ticks stamp;
    bool partial;
};

struct Acc {
    // Raw values that belong to the interval.
    std::uint64_t rawCount = 0;
    std::uint64_t good = 0;
    bool skipped = false;
    double mean = 0, m2 = 0;
    double minV = 0, maxV = 0;
    Ticks minT = 0, maxT = 0;  // the oldest of equal values
    double firstV = 0, lastV = 0;
    double meanT = 0, m2T = 0, cTV = 0;  // regression co-moments, seconds from the stamp
    Ticks startT = 0, endT = 0;          // first and last raw value, whatever its quality
    DWORD worst = 0;
    // Time-weighted: area in value·seconds.
    double area = 0;
    bool twUncertain = false;
    // Durations in ticks.
    Ticks goodTicks = 0, badTicks = 0;
};

enum class Family { Stats, TimeWeighted, Durations };

Family FamilyOf(DWORD aggregate) {
    switch (aggregate) {
        case OPCHDA_TOTAL:
        case OPCHDA_TIMEAVERAGE:
            return Family::TimeWeighted;
        case OPCHDA_DURATIONGOOD:
        case OPCHDA_DURATIONBAD:
        case OPCHDA_PERCENTGOOD:
        case OPCHDA_PERCENTBAD:
            return Family::Durations;
        default:
            return Family::Stats;
    }
}

// One pass over the points of the whole range, in time order, feeding every interval.
class Processor {
public:
    Processor(Series& series, const ItemTraits& traits, DWORD aggregate, std::vector<Interval> intervals,
              bool backward)
        : m_series(series),
          m_traits(traits),
          m_agg(aggregate),
          m_iv(std::move(intervals)),
          m_backward(backward),
          m_acc(m_iv.size()),
          m_family(FamilyOf(aggregate)),
          m_regression(aggregate == OPCHDA_REGSLOPE || aggregate == OPCHDA_REGCONST ||
                       aggregate == OPCHDA_REGDEV) {}

    std::vector<Sample> Run() {
        const Ticks first = m_iv.front().lo, last = m_iv.back().hi;
        if (m_family == Family::TimeWeighted) {
            if (first > 0)
                if (auto g = m_series.Floor(first - 1, true)) m_prevGood = ToPoint(*g);
            if (m_prevGood) {
                m_firstGoodT = m_prevGood->t;
                m_firstGoodX = m_prevGood->x;
                // A non-Good value between that Good value and the range is bridged by the line.
                if (auto any = m_series.Floor(first - 1, false); any && any->t > m_prevGood->t)
                    m_bridging = true;
            }
        } else if (m_family == Family::Durations) {
            // Before the first value of history the quality counts as Bad.
            m_prevRaw = Point{first, OPC_QUALITY_BAD, 0, false};
            if (first > 0)
                if (auto p = m_series.Floor(first - 1, false)) m_prevRaw = ToPoint(*p);
        }
        std::vector<Point> chunk;
        chunk.reserve(kChunk);
        Ticks from = first;
        while (from <= last) {
            chunk.clear();
            std::size_t n = m_series.ReadPoints(from, last, kChunk, chunk);
            for (const Point& p : chunk) Visit(p);
            if (n < kChunk || chunk.back().t >= last) break;
            from = chunk.back().t + 1;
        }
        if (m_family == Family::TimeWeighted) {
            std::optional<Sample> next = last < kMaxTicks ? m_series.Ceil(last + 1, true) : std::nullopt;
            if (m_prevGood && next) {
                if (auto any = m_series.Ceil(last + 1, false); any && any->t < next->t) m_bridging = true;
                Segment(*m_prevGood, ToPoint(*next), false, m_bridging);
            } else if (m_prevGood) {
                // Held forward from the last Good value: Uncertain.
                Point end = *m_prevGood;
                end.t = last;
                Segment(*m_prevGood, end, true, false);
            }
        } else if (m_family == Family::Durations) {
            Duration(*m_prevRaw, last);
        }
        return Finish();
    }

private:
    void Visit(const Point& p) {
        // The interval the value belongs to.
        while (m_m < m_iv.size() && (m_backward ? p.t > m_iv[m_m].hi : p.t >= m_iv[m_m].hi)) ++m_m;
        const bool member = m_m < m_iv.size() && (m_backward ? p.t > m_iv[m_m].lo : p.t >= m_iv[m_m].lo);
        switch (m_family) {
            case Family::Stats:
                if (member) Member(m_acc[m_m], p);
                break;
            case Family::TimeWeighted:
                if (IsGood(p.quality)) {
                    if (!m_firstGoodT) {
                        m_firstGoodT = p.t;
                        m_firstGoodX = p.x;
                    }
                    if (m_prevGood) Segment(*m_prevGood, p, false, m_bridging);
                    m_prevGood = p;
                    m_bridging = false;
                } else if (m_prevGood) {
                    // Skipped: the line from the last Good value to the next one bridges it, and
                    // every interval that line reaches is Uncertain, wherever the value lies.
                    // (Before the first Good value, the intervals are partial and Uncertain anyway.)
                    m_bridging = true;
                }
                break;
            case Family::Durations:
                Duration(*m_prevRaw, p.t);
                m_prevRaw = p;
                break;
        }
    }

    void Member(Acc& a, const Point& p) {
        if (a.rawCount == 0) {
            a.worst = DaPart(p.quality);
            a.startT = p.t;
        } else if (QualityRank(p.quality) < QualityRank(a.worst)) {
            a.worst = DaPart(p.quality);
        }
        a.endT = p.t;
        ++a.rawCount;
        if (!IsGood(p.quality)) {
            a.skipped = true;
            return;
        }
        ++a.good;
        if (!p.numeric) return;  // text: counted, nothing to add up
        const double v = p.x;
        const double n = static_cast<double>(a.good);
        const double dv = v - a.mean;
        a.mean += dv / n;
        a.m2 += dv * (v - a.mean);
        if (a.good == 1) {
            a.minV = a.maxV = a.firstV = v;
            a.minT = a.maxT = p.t;
        } else {
            if (v < a.minV) {
                a.minV = v;
                a.minT = p.t;
            }
            if (v > a.maxV) {
                a.maxV = v;
                a.maxT = p.t;
            }
        }
        a.lastV = v;
        if (m_regression) {
            const double t = SignedSeconds(p.t, m_iv[m_m].stamp);
            const double dt = t - a.meanT;
            a.meanT += dt / n;
            a.m2T += dt * (t - a.meanT);
            a.cTV += dt * (v - a.mean);  // with the updated mean of v: the co-moment update
        }
    }

    // Area of the interpolated line between two Good values, spread over the intervals it crosses.
    // `held`: the last Good value held forward; `bridged`: the line passes over a skipped value.
    // Either makes every interval the line reaches Uncertain.
    void Segment(const Point& a, const Point& b, bool held, bool bridged) {
        if (b.t <= a.t || !a.numeric || !b.numeric) return;
        const bool stepped = held || m_traits.stepped || m_traits.vt == VT_BOOL;
        const double slope = stepped ? 0 : (b.x - a.x) / static_cast<double>(b.t - a.t);
        auto at = [&](Ticks t) { return a.x + slope * static_cast<double>(t - a.t); };
        while (m_s < m_iv.size() && m_iv[m_s].hi <= a.t) ++m_s;
        for (std::size_t k = m_s; k < m_iv.size() && m_iv[k].lo < b.t; ++k) {
            const Ticks x0 = std::max(a.t, m_iv[k].lo), x1 = std::min(b.t, m_iv[k].hi);
            if (x1 <= x0) continue;
            m_acc[k].area += (at(x0) + at(x1)) / 2 * Seconds(x1 - x0);
            if (held || bridged) m_acc[k].twUncertain = true;
        }
    }

    // The quality of p lasts from p.t until `until`.
    void Duration(const Point& p, Ticks until) {
        if (until <= p.t) return;
        const int rank = QualityRank(p.quality);
        while (m_d < m_iv.size() && m_iv[m_d].hi <= p.t) ++m_d;
        for (std::size_t k = m_d; k < m_iv.size() && m_iv[k].lo < until; ++k) {
            const Ticks x0 = std::max(p.t, m_iv[k].lo), x1 = std::min(until, m_iv[k].hi);
            if (x1 <= x0) continue;
            if (rank == 2) m_acc[k].goodTicks += x1 - x0;
            if (rank == 0) m_acc[k].badTicks += x1 - x0;
        }
    }

    std::vector<Sample> Finish() {
        std::optional<Ticks> firstGoodInHistory;
        if (auto g = m_series.Ceil(0, true)) firstGoodInHistory = g->t;
        std::vector<Sample> out;
        out.reserve(m_iv.size());
        for (std::size_t k = 0; k < m_iv.size(); ++k) {
            Sample s = Result(m_iv[k], m_acc[k]);
            const bool beforeHistory = !firstGoodInHistory || m_iv[k].lo < *firstGoodInHistory;
            if ((s.quality & OPCHDA_CALCULATED) && (m_iv[k].partial || beforeHistory))
                s.quality |= OPCHDA_PARTIAL;
            out.push_back(std::move(s));
        }
        if (m_backward) std::reverse(out.begin(), out.end());
        return out;
    }

    // The stored sample at an instant the pass saw.
    Sample At(Ticks t) {
        std::optional<Sample> s = m_series.Floor(t, false);
        if (!s || s->t != t) throw SeriesError(E_FAIL, "history changed during a read");
        return std::move(*s);
    }

    Sample Result(const Interval& iv, Acc& a) {
        const Ticks stamp = iv.stamp;
        const double len = Seconds(iv.hi - iv.lo);
        auto raw = [&](Ticks t, bool uncertain) {
            Sample s = At(t);
            s.quality = OPCHDA_RAW | (uncertain || !IsGood(s.quality) ? kUncertain : DaPart(s.quality));
            return s;
        };
        switch (m_agg) {
            case OPCHDA_TOTAL:
            case OPCHDA_TIMEAVERAGE: {
                // Nothing is extrapolated backwards: an interval that begins before the first Good
                // value is computed over the part from that value on (Uncertain; PARTIAL is added
                // below), and is empty when it holds no Good value.
                const bool inside =
                    m_firstGoodT && (m_backward ? *m_firstGoodT <= iv.hi : *m_firstGoodT < iv.hi);
                if (!m_firstGoodT || (*m_firstGoodT > iv.lo && !inside)) return NoData(stamp);
                const bool covered = *m_firstGoodT <= iv.lo;
                const double seconds = covered ? len : Seconds(iv.hi - *m_firstGoodT);
                if (m_agg == OPCHDA_TOTAL) return Calculated(stamp, R8(a.area), a.twUncertain || !covered);
                // Covered for an instant only (a backward interval ending at the first value): that value.
                const double v = seconds > 0 ? a.area / seconds : m_firstGoodX;
                return Calculated(stamp, R8(v), a.twUncertain || !covered);
            }
            case OPCHDA_COUNT:
                return Calculated(stamp, Value::Int(VT_I4, static_cast<std::int64_t>(a.good)), a.skipped);
            case OPCHDA_DURATIONGOOD:
                return Calculated(stamp, R8(Seconds(a.goodTicks)), false);
            case OPCHDA_DURATIONBAD:
                return Calculated(stamp, R8(Seconds(a.badTicks)), false);
            case OPCHDA_PERCENTGOOD:
                return Calculated(stamp, R8(Seconds(a.goodTicks) / len), false);
            case OPCHDA_PERCENTBAD:
                return Calculated(stamp, R8(Seconds(a.badTicks) / len), false);
            case OPCHDA_WORSTQUALITY:
                if (a.rawCount == 0) return NoData(stamp);
                return Calculated(stamp, Value::Int(VT_I4, a.worst), false);
            case OPCHDA_START:
                if (a.rawCount == 0) return NoData(stamp);
                return raw(a.startT, false);
            case OPCHDA_END:
                if (a.rawCount == 0) return NoData(stamp);
                return raw(a.endT, false);
            default:
                break;
        }
        if (a.good == 0) return NoData(stamp);
        const double n = static_cast<double>(a.good);
        switch (m_agg) {
            case OPCHDA_AVERAGE:
                return Calculated(stamp, R8(a.mean), a.skipped);
            case OPCHDA_STDEV:
                return Calculated(stamp, R8(a.good > 1 ? std::sqrt(a.m2 / (n - 1)) : 0.0), a.skipped);
            case OPCHDA_VARIANCE:
                return Calculated(stamp, R8(a.good > 1 ? a.m2 / (n - 1) : 0.0), a.skipped);
            case OPCHDA_MINIMUMACTUALTIME:
                return raw(a.minT, a.skipped);
            case OPCHDA_MAXIMUMACTUALTIME:
                return raw(a.maxT, a.skipped);
            case OPCHDA_MINIMUM:
                return Calculated(stamp, At(a.minT).v, a.skipped);
            case OPCHDA_MAXIMUM:
                return Calculated(stamp, At(a.maxT).v, a.skipped);
            case OPCHDA_DELTA:
                return Calculated(stamp, R8(a.lastV - a.firstV), a.skipped);
            case OPCHDA_RANGE:
                return Calculated(stamp, R8(a.maxV - a.minV), a.skipped);
            case OPCHDA_REGSLOPE:
            case OPCHDA_REGCONST:
            case OPCHDA_REGDEV: {
                const double slope = a.m2T > 0 ? a.cTV / a.m2T : 0.0;
                if (m_agg == OPCHDA_REGSLOPE) return Calculated(stamp, R8(slope), a.skipped);
                if (m_agg == OPCHDA_REGCONST)
                    return Calculated(stamp, R8(a.mean - slope * a.meanT), a.skipped);
                const double ssr = std::max(0.0, a.m2 - slope * a.cTV);
                return Calculated(stamp, R8(a.good > 2 ? std::sqrt(ssr / (n - 2)) : 0.0), a.skipped);
            }
            default:
                return NoData(stamp);
        }
    }

    Series& m_series;
    const ItemTraits& m_traits;
    DWORD m_agg;
    std::vector<Interval> m_iv;  // in time order
    bool m_backward;
    std::vector<Acc> m_acc;
    Family m_family;
    bool m_regression;
    std::size_t m_m = 0, m_s = 0, m_d = 0;  // moving interval indexes: membership, segments, durations
    std::optional<Point> m_prevGood;
    bool m_bridging = false;  // a value was skipped since m_prevGood
    std::optional<Ticks> m_firstGoodT;
    double m_firstGoodX = 0;
    std::optional<Point> m_prevRaw;
};

}  // namespace

ItemResult ReadProcessed(Series& series, const ItemTraits& traits, DWORD aggregate, Ticks start, Ticks end,
                         Ticks interval) {
    const std::uint64_t n = IntervalCount(start, end, interval);
    const bool backward = end < start;
    const Ticks range = backward ? start - end : end - start;
    const Ticks step = (interval == 0 || interval >= range) ? range : interval;
    std::vector<Interval> iv;
    iv.reserve(n);
    if (!backward) {
        for (std::uint64_t i = 0; i < n; ++i) {
            Ticks lo = start + i * step;
            Ticks hi = (end - lo > step) ? lo + step : end;
            iv.push_back({lo, hi, lo, hi - lo < step});
        }
    } else {
        for (std::uint64_t i = n; i-- > 0;) {
            Ticks hi = start - i * step;
            Ticks lo = (hi - end > step) ? hi - step : end;
            iv.push_back({lo, hi, hi, hi - lo < step});
        }
    }

    ItemResult r;
    if (aggregate == OPCHDA_INTERPOLATIVE) {
        for (const auto& i : iv) r.samples.push_back(ValueAtTime(series, traits, i.stamp));
        if (backward) std::reverse(r.samples.begin(), r.samples.end());
    } else {
        r.samples = Processor(series, traits, aggregate, std::move(iv), backward).Run();
    }
    bool any = false;
    for (const auto& s : r.samples)
        if (!(s.quality & OPCHDA_NODATA)) any = true;
    r.code = any ? S_OK : OPC_S_NODATA;
    return r;
}

}  // namespace sim
