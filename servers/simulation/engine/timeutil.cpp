// Calendar arithmetic on the runtime's one calendar (com/calendar.h), counted from 1601-01-01:
// days from civil dates and back, month arithmetic, OLE dates.
#include "servers/simulation/engine/timeutil.h"

#include <cmath>

#include "com/calendar.h"

namespace sim {

namespace {
constexpr std::int64_t kDays1601 = com::calendar::DaysFromCivil(1601, 1, 1);  // from 1970-01-01
constexpr double kOleEpochDays = 109205.0;                                    // 1601-01-01 .. 1899-12-30
}  // namespace

std::int64_t DaysFromCivil(int year, int month, int day) {
    // Day offsets outside 1..31 are handled by adding them to day 1.
    return com::calendar::DaysFromCivil(year, static_cast<unsigned>(month), 1) - kDays1601 + (day - 1);
}

CivilTime ToCivil(Ticks t) {
    CivilTime c;
    const com::calendar::Civil civil =
        com::calendar::CivilFromDays(static_cast<long long>(t / kTicksPerDay) + kDays1601);
    c.timeOfDay = t % kTicksPerDay;
    c.year = static_cast<int>(civil.y);
    c.month = static_cast<int>(civil.m);
    c.day = static_cast<int>(civil.d);
    return c;
}

std::optional<Ticks> FromCivil(const CivilTime& c) {
    std::int64_t days = DaysFromCivil(c.year, c.month, c.day);
    if (days < 0) return std::nullopt;
    const std::int64_t maxDays = static_cast<std::int64_t>(kMaxTicks / kTicksPerDay);
    if (days > maxDays) return std::nullopt;
    Ticks t = static_cast<Ticks>(days) * kTicksPerDay;
    if (c.timeOfDay > kMaxTicks - t) return std::nullopt;
    return t + c.timeOfDay;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2) {
        bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        return leap ? 29 : 28;
    }
    return kDays[(month - 1) % 12];
}

int DayOfWeek(Ticks t) {
    // 1601-01-01 was a Monday.
    return static_cast<int>((t / kTicksPerDay + 1) % 7);
}

std::optional<Ticks> AddMonths(Ticks t, std::int64_t months) {
    CivilTime c = ToCivil(t);
    // Years beyond the FILETIME range fail below; keep the arithmetic itself in range.
    if (months > 400000 || months < -400000) return std::nullopt;
    std::int64_t index = static_cast<std::int64_t>(c.year) * 12 + (c.month - 1) + months;
    std::int64_t year = index >= 0 ? index / 12 : (index - 11) / 12;
    c.year = static_cast<int>(year);
    c.month = static_cast<int>(index - year * 12) + 1;
    if (c.year < 1601 || c.year > 30828) return std::nullopt;
    int last = DaysInMonth(c.year, c.month);
    if (c.day > last) c.day = last;
    return FromCivil(c);
}

double TicksToOleDate(Ticks t) {
    // Whole milliseconds, so that the DATE is what the OLE conversions give for this instant.
    const Ticks ms = (t + kTicksPerMs / 2) / kTicksPerMs;
    const Ticks msPerDay = kTicksPerDay / kTicksPerMs;
    double days = static_cast<double>(ms / msPerDay) - kOleEpochDays;
    double frac = static_cast<double>(ms % msPerDay) / static_cast<double>(msPerDay);
    // Before 1899-12-30 the integer part counts backwards but the fraction still counts forward.
    return days >= 0 ? days + frac : days - frac;
}

std::optional<Ticks> OleDateToTicks(double date) {
    if (!std::isfinite(date)) return std::nullopt;
    double whole = std::trunc(date);
    double frac = std::fabs(date - whole);
    double days = whole + kOleEpochDays;
    if (days < 0 || days > static_cast<double>(kMaxTicks / kTicksPerDay)) return std::nullopt;
    const double msPerDay = static_cast<double>(kTicksPerDay / kTicksPerMs);
    Ticks ms = static_cast<Ticks>(std::llround(frac * msPerDay));
    Ticks t = static_cast<Ticks>(days) * kTicksPerDay + ms * kTicksPerMs;
    if (t > kMaxTicks) return std::nullopt;
    return t;
}

}  // namespace sim
