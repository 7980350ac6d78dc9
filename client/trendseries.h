// The data of a trend: one item's values of a value read as points against time, and the reduction
// that keeps a chart of a million points quick (per pixel column the first, lowest, highest and last
// value, so every peak stays visible). No painting here; the chart window draws what these give.
//
// Times are milliseconds since 1970-01-01 UTC as doubles, the unit of the chart's time axis.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "com/types.h"
#include "hda/opchda.h"

namespace client {

// How a point is marked: by the OPC quality in the low byte of its quality word.
enum class TrendMark : unsigned char { Good, Uncertain, Bad };

struct TrendPoint {
    double msTime = 0;
    double value = 0;  // NaN: a gap (the line breaks here)
    TrendMark mark = TrendMark::Good;
    bool IsGap() const { return value != value; }
};

struct TrendSeries {
    std::u16string name;
    HRESULT hrItem = S_OK;
    // Text values: each point's value is the index of its text in texts, and the chart draws steps
    // with the text at each change. A series is text as soon as one value is a string; its other
    // values then stand by their text forms.
    bool bText = false;
    std::vector<std::u16string> texts;
    std::vector<TrendPoint> points;  // in time order (equal times keep the server's order)

    // What the chart could not show as a value: entries flagged NOBOUND or NODATA, empty values,
    // values with no numeric form (and numbers that are not finite), and entries dwCount claimed
    // beyond what the server allocated (not shown at all).
    std::size_t nGaps = 0;
    std::size_t nNotNumeric = 0;
    std::size_t nNotReturned = 0;
    bool bReordered = false;  // the server's order was not by time

    // Ranges over the points that are not gaps (both 0 when there is none).
    double minValue = 0, maxValue = 0;
    bool HasValues() const { return !points.empty() && nGaps + nNotNumeric < points.size(); }
    double FirstTime() const { return points.empty() ? 0 : points.front().msTime; }
    double LastTime() const { return points.empty() ? 0 : points.back().msTime; }
};

// Milliseconds since 1970 of a timestamp.
double TrendTime(const FILETIME& ft);

// The series of one entry of a result set. Every array is read no further than its task-memory block
// reaches, whatever dwCount claims; the series owns copies, so it outlives the result set.
TrendSeries BuildTrendSeries(const OPCHDA_ITEM& item, HRESULT hrItem, std::u16string name);

// What to draw of a series over [msFrom, msTo] on nColumns pixel columns.
struct TrendReduction {
    // The line, in time order; a NaN value breaks it. Where a column holds more than a few points
    // it gets at most four: its first, lowest, highest and last, in the order they occur.
    std::vector<TrendPoint> line;
    // Marked points (Uncertain or Bad, not gaps): at most one of each kind per column.
    std::vector<TrendPoint> marks;
    // Text series: the points where the text changes, at most one per column; their values are
    // indexes into the series' texts.
    std::vector<TrendPoint> steps;
    std::size_t nInRange = 0;  // points of the series inside [msFrom, msTo]
    bool bReduced = false;     // false: every point in range (and one either side) is in line
};

TrendReduction ReduceTrend(const TrendSeries& series, double msFrom, double msTo, int nColumns);

}  // namespace client
