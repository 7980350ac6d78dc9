// Relative time strings.
#include "servers/simulation/engine/reltime.h"

#include <string>

#include "servers/simulation/engine/timeutil.h"

namespace sim {

namespace {

char16_t Upper(char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}

bool IsSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

bool StartsWith(std::u16string_view s, std::u16string_view prefix) {
    return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

enum class Keyword { Now, Second, Minute, Hour, Day, Week, Month, Year };

struct KeywordEntry {
    std::u16string_view text;
    Keyword keyword;
};
// Longer words first, so that MONTH and MINUTE are not read as MO or M...
constexpr KeywordEntry kKeywords[] = {
    {u"SECOND", Keyword::Second}, {u"MINUTE", Keyword::Minute}, {u"MONTH", Keyword::Month},
    {u"HOUR", Keyword::Hour},     {u"WEEK", Keyword::Week},     {u"YEAR", Keyword::Year},
    {u"NOW", Keyword::Now},       {u"DAY", Keyword::Day},       {u"MO", Keyword::Month},
};

enum class Unit { Second, Minute, Hour, Day, Week, Month, Year };
struct UnitEntry {
    std::u16string_view text;
    Unit unit;
};
// MO before M.
constexpr UnitEntry kUnits[] = {
    {u"MO", Unit::Month}, {u"S", Unit::Second}, {u"M", Unit::Minute}, {u"H", Unit::Hour},
    {u"D", Unit::Day},    {u"W", Unit::Week},   {u"Y", Unit::Year},
};

std::optional<Ticks> Truncate(Ticks now, Keyword k) {
    switch (k) {
        case Keyword::Now:
            return now;
        case Keyword::Second:
            return now - now % kTicksPerSecond;
        case Keyword::Minute:
            return now - now % kTicksPerMinute;
        case Keyword::Hour:
            return now - now % kTicksPerHour;
        case Keyword::Day:
            return now - now % kTicksPerDay;
        case Keyword::Week: {
            Ticks day = now - now % kTicksPerDay;
            Ticks back = static_cast<Ticks>(DayOfWeek(now)) * kTicksPerDay;
            if (back > day) return std::nullopt;  // the week began before 1601
            return day - back;
        }
        case Keyword::Month: {
            CivilTime c = ToCivil(now);
            c.day = 1;
            c.timeOfDay = 0;
            return FromCivil(c);
        }
        case Keyword::Year: {
            CivilTime c = ToCivil(now);
            c.month = 1;
            c.day = 1;
            c.timeOfDay = 0;
            return FromCivil(c);
        }
    }
    return std::nullopt;
}

Ticks UnitTicks(Unit u) {
    switch (u) {
        case Unit::Second:
            return kTicksPerSecond;
        case Unit::Minute:
            return kTicksPerMinute;
        case Unit::Hour:
            return kTicksPerHour;
        case Unit::Day:
            return kTicksPerDay;
        case Unit::Week:
            return 7 * kTicksPerDay;
        default:
            return 0;
    }
}

}  // namespace

RelTimeStatus ParseRelativeTime(std::u16string_view text, Ticks now, Ticks* result) {
    std::u16string s;
    s.reserve(text.size());
    for (char16_t c : text)
        if (!IsSpace(c)) s.push_back(Upper(c));
    if (s.empty()) return RelTimeStatus::Empty;
    if (now > kMaxTicks) return RelTimeStatus::Invalid;

    std::u16string_view rest(s);
    std::optional<Ticks> t;
    for (const auto& k : kKeywords) {
        if (StartsWith(rest, k.text)) {
            t = Truncate(now, k.keyword);
            if (!t) return RelTimeStatus::Invalid;
            rest.remove_prefix(k.text.size());
            break;
        }
    }
    if (!t) return RelTimeStatus::Invalid;  // no keyword

    bool negative = false;
    while (!rest.empty()) {
        if (rest[0] == u'+' || rest[0] == u'-') {
            negative = rest[0] == u'-';
            rest.remove_prefix(1);
        }
        // An integer: digits only. A fraction, a second sign or a missing number ends up here.
        if (rest.empty() || rest[0] < u'0' || rest[0] > u'9') return RelTimeStatus::Invalid;
        Ticks n = 0;
        while (!rest.empty() && rest[0] >= u'0' && rest[0] <= u'9') {
            Ticks digit = static_cast<Ticks>(rest[0] - u'0');
            if (n > (kMaxTicks - digit) / 10) return RelTimeStatus::Invalid;
            n = n * 10 + digit;
            rest.remove_prefix(1);
        }
        const UnitEntry* unit = nullptr;
        for (const auto& u : kUnits) {
            if (StartsWith(rest, u.text)) {
                unit = &u;
                break;
            }
        }
        if (!unit) return RelTimeStatus::Invalid;
        rest.remove_prefix(unit->text.size());

        if (unit->unit == Unit::Month || unit->unit == Unit::Year) {
            Ticks months = n;
            if (unit->unit == Unit::Year) {
                if (n > kMaxTicks / 12) return RelTimeStatus::Invalid;
                months = n * 12;
            }
            if (months > 1'000'000) return RelTimeStatus::Invalid;
            std::int64_t delta = static_cast<std::int64_t>(months);
            t = AddMonths(*t, negative ? -delta : delta);
            if (!t) return RelTimeStatus::Invalid;
        } else {
            Ticks per = UnitTicks(unit->unit);
            if (n > kMaxTicks / per) return RelTimeStatus::Invalid;
            Ticks delta = n * per;
            if (negative) {
                if (delta > *t) return RelTimeStatus::Invalid;
                *t -= delta;
            } else {
                if (delta > kMaxTicks - *t) return RelTimeStatus::Invalid;
                *t += delta;
            }
        }
    }
    *result = *t;
    return RelTimeStatus::Ok;
}

}  // namespace sim
