#include "client/trendseries.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>

#include "client/textforms.h"
#include "com/objbase.h"
#include "com/oleauto.h"
#include "com/ownership.h"

namespace client {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// 1970-01-01 in FILETIME ticks.
constexpr ULONGLONG kUnixEpochTicks = 116444736000000000ULL;

TrendMark MarkOf(DWORD dwQuality) {
    switch (dwQuality & OPC_QUALITY_MASK) {
        case OPC_QUALITY_GOOD:
            return TrendMark::Good;
        case OPC_QUALITY_UNCERTAIN:
            return TrendMark::Uncertain;
        default:
            return TrendMark::Bad;  // Bad, and the undefined 0x80
    }
}

// The numeric value of a VARIANT, or NaN when it has none the chart can use.
double NumberOf(const VARIANT& v) {
    switch (v.vt) {
        case VT_I1:
            return v.cVal;
        case VT_UI1:
            return v.bVal;
        case VT_I2:
            return v.iVal;
        case VT_UI2:
            return v.uiVal;
        case VT_I4:
            return v.lVal;
        case VT_UI4:
            return v.ulVal;
        case VT_INT:
            return v.intVal;
        case VT_UINT:
            return v.uintVal;
        case VT_I8:
            return static_cast<double>(v.llVal);
        case VT_UI8:
            return static_cast<double>(v.ullVal);
        case VT_R4:
            return std::isfinite(v.fltVal) ? v.fltVal : kNaN;
        case VT_R8:
            return std::isfinite(v.dblVal) ? v.dblVal : kNaN;
        case VT_CY:
            return static_cast<double>(v.cyVal.int64) / 10000.0;
        case VT_BOOL:
            return v.boolVal ? 1.0 : 0.0;
        default:
            return kNaN;
    }
}

bool IsEmptyValue(const VARIANT& v) {
    return v.vt == VT_EMPTY || v.vt == VT_NULL;
}

}  // namespace

double TrendTime(const FILETIME& ft) {
    const ULONGLONG ticks = FileTimeToU64(ft);
    if (ticks >= (1ULL << 63))
        return (static_cast<double>(ticks) - static_cast<double>(kUnixEpochTicks)) / 1e4;
    return static_cast<double>(static_cast<LONGLONG>(ticks) - static_cast<LONGLONG>(kUnixEpochTicks)) / 1e4;
}

TrendSeries BuildTrendSeries(const OPCHDA_ITEM& item, HRESULT hrItem, std::u16string name) {
    TrendSeries s;
    s.name = std::move(name);
    s.hrItem = hrItem;

    // Only entries with a timestamp, a quality and a value can be placed; the rest was not returned.
    const std::size_t nTimes = item.pftTimeStamps ? com::TaskMemCount(item.pftTimeStamps) : 0;
    const std::size_t nQualities = item.pdwQualities ? com::TaskMemCount(item.pdwQualities) : 0;
    const std::size_t nValues = item.pvDataValues ? com::TaskMemCount(item.pvDataValues) : 0;
    const std::size_t n = std::min<std::size_t>({item.dwCount, nTimes, nQualities, nValues});
    s.nNotReturned = item.dwCount - n;

    for (std::size_t j = 0; j < n && !s.bText; ++j) s.bText = item.pvDataValues[j].vt == VT_BSTR;

    s.points.resize(n);
    std::unordered_map<std::u16string, std::size_t> levels;
    for (std::size_t j = 0; j < n; ++j) {
        TrendPoint& p = s.points[j];
        const VARIANT& v = item.pvDataValues[j];
        const DWORD dwQuality = item.pdwQualities[j];
        p.msTime = TrendTime(item.pftTimeStamps[j]);
        p.mark = MarkOf(dwQuality);
        if ((dwQuality & (OPCHDA_NOBOUND | OPCHDA_NODATA)) || IsEmptyValue(v)) {
            p.value = kNaN;
            ++s.nGaps;
        } else if (s.bText) {
            std::u16string text =
                v.vt == VT_BSTR ? std::u16string(com::ReadReceivedBstr(v.bstrVal)) : FormatVariant(v);
            auto [it, bNew] = levels.try_emplace(std::move(text), s.texts.size());
            if (bNew) s.texts.push_back(it->first);
            p.value = static_cast<double>(it->second);
        } else {
            p.value = NumberOf(v);
            if (p.IsGap()) ++s.nNotNumeric;
        }
    }

    // A chart runs left to right in time: a read backwards (end before start) comes reversed, any
    // other order is sorted, equal times keeping the server's order.
    const auto byTime = [](const TrendPoint& a, const TrendPoint& b) { return a.msTime < b.msTime; };
    if (!std::is_sorted(s.points.begin(), s.points.end(), byTime)) {
        s.bReordered = true;
        const auto later = [](const TrendPoint& a, const TrendPoint& b) { return a.msTime > b.msTime; };
        if (std::is_sorted(s.points.begin(), s.points.end(), later)) {
            std::reverse(s.points.begin(), s.points.end());
            for (auto run = s.points.begin(); run != s.points.end();) {  // equal times back as returned
                const auto end = std::upper_bound(run, s.points.end(), *run, byTime);
                std::reverse(run, end);
                run = end;
            }
        } else
            std::stable_sort(s.points.begin(), s.points.end(), byTime);
    }

    bool bAny = false;
    for (const TrendPoint& p : s.points) {
        if (p.IsGap()) continue;
        s.minValue = bAny ? std::min(s.minValue, p.value) : p.value;
        s.maxValue = bAny ? std::max(s.maxValue, p.value) : p.value;
        bAny = true;
    }
    return s;
}

TrendReduction ReduceTrend(const TrendSeries& series, double msFrom, double msTo, int nColumns) {
    TrendReduction r;
    const std::vector<TrendPoint>& pts = series.points;
    if (pts.empty() || nColumns <= 0 || !(msTo > msFrom)) return r;

    const auto lo = static_cast<std::size_t>(
        std::lower_bound(pts.begin(), pts.end(), msFrom,
                         [](const TrendPoint& p, double t) { return p.msTime < t; }) -
        pts.begin());
    const auto hi = static_cast<std::size_t>(
        std::upper_bound(pts.begin(), pts.end(), msTo,
                         [](double t, const TrendPoint& p) { return t < p.msTime; }) -
        pts.begin());
    r.nInRange = hi - lo;
    // One point either side, so that the line runs on to the edges of the plot.
    const std::size_t first = lo > 0 ? lo - 1 : lo;
    const std::size_t last = hi < pts.size() ? hi + 1 : hi;
    r.bReduced = last - first > 4 * static_cast<std::size_t>(nColumns);

    const double scale = nColumns / (msTo - msFrom);
    const auto columnOf = [&](double t) -> long {
        if (t < msFrom) return -1;
        if (t > msTo) return nColumns;
        return std::min<long>(static_cast<long>((t - msFrom) * scale), nColumns - 1);
    };

    // The column being gathered: indexes of its first, lowest, highest and last point.
    struct Gather {
        long col = 0;
        std::size_t iFirst = 0, iMin = 0, iMax = 0, iLast = 0;
        bool bOpen = false;
    } g;
    const auto flush = [&] {
        if (!g.bOpen) return;
        std::size_t idx[4] = {g.iFirst, g.iMin, g.iMax, g.iLast};
        std::sort(idx, idx + 4);
        for (int k = 0; k < 4; ++k)
            if (k == 0 || idx[k] != idx[k - 1]) r.line.push_back(pts[idx[k]]);
        g.bOpen = false;
    };

    long colMark[2] = {-2, -2};  // the last column that got an Uncertain, a Bad mark
    long colStep = -2;
    double prevLevel = kNaN;  // text series: the level of the last point drawn, NaN after a gap
    for (std::size_t i = first; i < last; ++i) {
        const TrendPoint& p = pts[i];
        const long col = columnOf(p.msTime);
        if (p.IsGap()) {
            flush();
            if (r.line.empty() || !r.line.back().IsGap()) r.line.push_back(p);
            prevLevel = kNaN;
            continue;
        }
        if (p.mark != TrendMark::Good) {
            const int k = p.mark == TrendMark::Uncertain ? 0 : 1;
            if (!r.bReduced || colMark[k] != col) {
                r.marks.push_back(p);
                colMark[k] = col;
            }
        }
        if (series.bText && p.value != prevLevel) {
            if (!r.bReduced || colStep != col) {
                r.steps.push_back(p);
                colStep = col;
            }
            prevLevel = p.value;
        }
        if (!r.bReduced) {
            r.line.push_back(p);
            continue;
        }
        if (!g.bOpen || g.col != col) {
            flush();
            g = Gather{col, i, i, i, i, true};
            continue;
        }
        if (p.value < pts[g.iMin].value) g.iMin = i;
        if (p.value > pts[g.iMax].value) g.iMax = i;
        g.iLast = i;
    }
    flush();
    return r;
}

}  // namespace client
