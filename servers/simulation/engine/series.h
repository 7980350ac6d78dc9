// The history of one item as the read algorithms see it, whether computed or stored.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "servers/simulation/engine/types.h"

namespace sim {

// A failure to reach an item's history (the store is unreadable, for instance). `code` is the
// HRESULT reported for the item.
class SeriesError : public std::runtime_error {
public:
    SeriesError(HRESULT code, const std::string& what) : std::runtime_error(what), m_code(code) {}
    HRESULT code() const { return m_code; }

private:
    HRESULT m_code;
};

// A sample as calculations see it: its number (ToDouble of its value), without the value itself.
struct Point {
    Ticks t = 0;
    DWORD quality = 0;
    double x = 0;
    bool numeric = false;  // false for text
};

// At most one sample per instant. Every method may throw SeriesError.
class Series {
public:
    virtual ~Series() = default;
    // As Read (ascending), but only what calculations need; cheaper for long ranges.
    virtual std::size_t ReadPoints(Ticks lo, Ticks hi, std::size_t max, std::vector<Point>& out);
    // Appends to `out` up to `max` samples with lo <= t <= hi, ascending, or descending when
    // `backward`. Returns how many were appended.
    virtual std::size_t Read(Ticks lo, Ticks hi, bool backward, std::size_t max,
                             std::vector<Sample>& out) = 0;
    // The latest sample at or before t; with goodOnly, the latest one of Good quality.
    virtual std::optional<Sample> Floor(Ticks t, bool goodOnly) = 0;
    // The earliest sample at or after t; with goodOnly, the earliest one of Good quality.
    virtual std::optional<Sample> Ceil(Ticks t, bool goodOnly) = 0;
};

// The point of a sample.
Point ToPoint(const Sample& s);

}  // namespace sim
