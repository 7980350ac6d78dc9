// Calendar arithmetic on FILETIME ticks (UTC, proleptic Gregorian calendar).
#pragma once

#include <optional>

#include "servers/simulation/engine/types.h"

namespace sim {

struct CivilTime {
    int year = 1601;      // 1601..30828
    int month = 1;        // 1..12
    int day = 1;          // 1..31
    Ticks timeOfDay = 0;  // ticks since midnight
};

// Days since 1601-01-01 of a calendar date (the date need not be valid for its month: day 0 is the
// day before day 1, and so on).
std::int64_t DaysFromCivil(int year, int month, int day);
CivilTime ToCivil(Ticks t);
// Empty when the date lies outside [0, kMaxTicks].
std::optional<Ticks> FromCivil(const CivilTime& c);

int DaysInMonth(int year, int month);
// 0 = Sunday .. 6 = Saturday.
int DayOfWeek(Ticks t);

// Moves the calendar date by the given number of months, keeping the time of day. A day that does
// not exist in the target month becomes that month's last day. Empty outside [0, kMaxTicks].
std::optional<Ticks> AddMonths(Ticks t, std::int64_t months);

// OLE Automation DATE (days since 1899-12-30; before that date the fraction still counts forward
// from midnight) to and from ticks. The DATE is rounded to the millisecond, as the OLE functions do.
double TicksToOleDate(Ticks t);
std::optional<Ticks> OleDateToTicks(double date);

}  // namespace sim
