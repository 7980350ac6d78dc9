#include "tools/vistrel/timeinput.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>

#include "com/timeapi.h"

namespace vistrel {

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

std::string Upper(std::string_view s) {
    std::string u;
    for (char c : s)
        if (!std::isspace(static_cast<unsigned char>(c)))
            u += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return u;
}

// Reads exactly `width` digits (or 1..width when !exact) at pos.
bool Digits(std::string_view s, std::size_t& pos, int minW, int maxW, unsigned& out) {
    std::size_t start = pos;
    unsigned v = 0;
    while (pos < s.size() && pos - start < static_cast<std::size_t>(maxW) &&
           std::isdigit(static_cast<unsigned char>(s[pos])))
        v = v * 10 + static_cast<unsigned>(s[pos++] - '0');
    if (pos - start < static_cast<std::size_t>(minW)) return false;
    out = v;
    return true;
}

// Fractional seconds: up to 7 digits kept as ticks, more digits ignored.
bool Fraction(std::string_view s, std::size_t& pos, ULONGLONG& ticks) {
    std::size_t start = pos;
    ticks = 0;
    ULONGLONG scale = 1000000;
    while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos]))) {
        if (pos - start < 7) {
            ticks += static_cast<ULONGLONG>(s[pos] - '0') * scale;
            scale /= 10;
        }
        ++pos;
    }
    return pos > start;
}

bool Calendar(unsigned y, unsigned mo, unsigned d, unsigned h, unsigned mi, unsigned sec, ULONGLONG* pTicks) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(mo);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(mi);
    st.wSecond = static_cast<WORD>(sec);
    FILETIME ft{};
    if (y > 30827 || !SystemTimeToFileTime(&st, &ft)) return false;
    *pTicks = FileTimeToU64(ft);
    return true;
}

std::optional<TimeInput> Iso(std::string_view s, std::string* pError) {
    std::size_t p = 0;
    unsigned y, mo, d, h, mi, sec = 0;
    if (!Digits(s, p, 4, 4, y) || p >= s.size() || s[p++] != '-' || !Digits(s, p, 2, 2, mo) ||
        p >= s.size() || s[p++] != '-' || !Digits(s, p, 2, 2, d) || p >= s.size() ||
        (s[p] != 'T' && s[p] != 't' && s[p] != ' '))
        return std::nullopt;
    ++p;
    if (!Digits(s, p, 2, 2, h) || p >= s.size() || s[p++] != ':' || !Digits(s, p, 2, 2, mi))
        return std::nullopt;
    ULONGLONG frac = 0;
    if (p < s.size() && s[p] == ':') {
        ++p;
        if (!Digits(s, p, 2, 2, sec)) return std::nullopt;
        if (p < s.size() && (s[p] == '.' || s[p] == ',')) {
            ++p;
            if (!Fraction(s, p, frac)) return std::nullopt;
        }
    }
    long long offsetMinutes = 0;
    if (p < s.size() && (s[p] == 'Z' || s[p] == 'z')) {
        ++p;
    } else if (p < s.size() && (s[p] == '+' || s[p] == '-')) {
        const int sign = s[p++] == '-' ? -1 : 1;
        unsigned oh = 0, om = 0;
        if (!Digits(s, p, 2, 2, oh)) return std::nullopt;
        if (p < s.size() && s[p] == ':') ++p;
        if (p < s.size() && !Digits(s, p, 2, 2, om)) return std::nullopt;
        if (oh > 23 || om > 59) return std::nullopt;
        offsetMinutes = sign * static_cast<long long>(oh * 60 + om);
    } else {
        *pError = "an ISO 8601 time needs Z or an offset such as +01:00";
        return std::nullopt;
    }
    if (p != s.size()) return std::nullopt;
    ULONGLONG ticks = 0;
    if (!Calendar(y, mo, d, h, mi, sec, &ticks)) {
        *pError = "no such calendar moment";
        return std::nullopt;
    }
    const long long shift = offsetMinutes * 600000000LL;
    if ((shift > 0 && ticks < static_cast<ULONGLONG>(shift)) ||
        (shift < 0 && ticks + frac > 0x7FFFFFFFFFFFFFFFULL - static_cast<ULONGLONG>(-shift))) {
        *pError = "outside the range of FILETIME";
        return std::nullopt;
    }
    TimeInput t;
    t.kind = TimeInput::Kind::Utc;
    t.utcTicks = ticks + frac - static_cast<ULONGLONG>(shift);
    return t;
}

// "2024/01/01 05:00:00.000", seconds and milliseconds optional, or only the date.
std::optional<TimeInput> ClientText(std::string_view s, std::string* pError) {
    std::size_t p = 0;
    unsigned y, mo, d, h = 0, mi = 0, sec = 0, ms = 0;
    if (!Digits(s, p, 4, 4, y) || p >= s.size() || s[p++] != '/' || !Digits(s, p, 1, 2, mo) ||
        p >= s.size() || s[p++] != '/' || !Digits(s, p, 1, 2, d))
        return std::nullopt;
    if (p < s.size()) {
        if (s[p] != ' ' && s[p] != 'T') return std::nullopt;
        while (p < s.size() && s[p] == ' ') ++p;
        if (p < s.size() && s[p] == 'T') ++p;
        if (!Digits(s, p, 1, 2, h) || p >= s.size() || s[p++] != ':' || !Digits(s, p, 1, 2, mi))
            return std::nullopt;
        if (p < s.size() && s[p] == ':') {
            ++p;
            if (!Digits(s, p, 1, 2, sec)) return std::nullopt;
            if (p < s.size() && s[p] == '.') {
                ++p;
                if (!Digits(s, p, 1, 3, ms)) return std::nullopt;
            }
        }
    }
    if (p != s.size()) return std::nullopt;
    ULONGLONG ticks;
    if (!Calendar(y, mo, d, h, mi, sec, &ticks) || ms > 999) {
        *pError = "no such calendar moment";
        return std::nullopt;
    }
    TimeInput t;
    t.kind = TimeInput::Kind::Local;
    t.local.wYear = static_cast<WORD>(y);
    t.local.wMonth = static_cast<WORD>(mo);
    t.local.wDay = static_cast<WORD>(d);
    t.local.wHour = static_cast<WORD>(h);
    t.local.wMinute = static_cast<WORD>(mi);
    t.local.wSecond = static_cast<WORD>(sec);
    t.local.wMilliseconds = static_cast<WORD>(ms);
    FILETIME ft{};
    if (!SystemTimeToFileTime(&t.local, &ft)) {
        *pError = "no such calendar moment";
        return std::nullopt;
    }
    // Fills in the day of the week.
    FileTimeToSystemTime(&ft, &t.local);
    return t;
}

std::optional<TimeInput> Epoch(std::string_view s, std::string* pError) {
    if (!s.empty() && s.front() == '@') s.remove_prefix(1);
    bool neg = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        neg = s.front() == '-';
        s.remove_prefix(1);
    }
    std::size_t p = 0;
    unsigned long long secs = 0;
    while (p < s.size() && std::isdigit(static_cast<unsigned char>(s[p]))) {
        if (secs > 100000000000000ULL) {
            *pError = "outside the range of FILETIME";
            return std::nullopt;
        }
        secs = secs * 10 + static_cast<unsigned>(s[p++] - '0');
    }
    if (p == 0) return std::nullopt;
    ULONGLONG frac = 0;
    if (p < s.size() && s[p] == '.') {
        ++p;
        if (!Fraction(s, p, frac)) return std::nullopt;
    }
    if (p != s.size()) return std::nullopt;
    const ULONGLONG mag = secs * com::kTicksPerSecond + frac;
    TimeInput t;
    if (neg) {
        if (mag > com::kFileTimeUnixEpoch) {
            *pError = "before 1601";
            return std::nullopt;
        }
        t.utcTicks = com::kFileTimeUnixEpoch - mag;
    } else {
        if (mag > 0x7FFFFFFFFFFFFFFFULL - com::kFileTimeUnixEpoch) {
            *pError = "outside the range of FILETIME";
            return std::nullopt;
        }
        t.utcTicks = com::kFileTimeUnixEpoch + mag;
    }
    return t;
}

}  // namespace

bool IsRelativeTime(std::string_view text) {
    const std::string u = Upper(text);
    static const char* const kKeywords[] = {"NOW", "SECOND", "MINUTE", "HOUR",
                                            "DAY", "WEEK",   "MONTH",  "YEAR"};
    std::size_t p = std::string::npos;
    for (const char* k : kKeywords) {
        const std::string_view kw(k);
        if (u.compare(0, kw.size(), kw) == 0) {
            p = kw.size();
            break;
        }
    }
    if (p == std::string::npos) return false;
    while (p < u.size()) {
        if (u[p] != '+' && u[p] != '-') return false;
        ++p;
        const std::size_t d0 = p;
        while (p < u.size() && std::isdigit(static_cast<unsigned char>(u[p]))) ++p;
        if (p == d0) return false;
        if (u.compare(p, 2, "MO") == 0) {
            p += 2;
        } else if (p < u.size() && std::string_view("SMHDWY").find(u[p]) != std::string_view::npos) {
            ++p;
        } else {
            return false;
        }
    }
    return true;
}

std::optional<TimeInput> ParseTimeInput(std::string_view text, std::string* pError) {
    std::string local;
    std::string* err = pError ? pError : &local;
    err->clear();
    const std::string_view s = Trim(text);
    if (s.empty()) {
        *err = "empty time";
        return std::nullopt;
    }
    if (std::isalpha(static_cast<unsigned char>(s.front()))) {
        if (!IsRelativeTime(s)) {
            *err = "not a time";
            return std::nullopt;
        }
        TimeInput t;
        t.kind = TimeInput::Kind::Relative;
        t.text.assign(s.begin(), s.end());
        return t;
    }
    std::optional<TimeInput> t;
    if (s.size() >= 5 && std::isdigit(static_cast<unsigned char>(s[0])) && s[4] == '/')
        t = ClientText(s, err);
    else if (s.size() >= 5 && std::isdigit(static_cast<unsigned char>(s[0])) && s[4] == '-')
        t = Iso(s, err);
    else
        t = Epoch(s, err);
    if (!t && err->empty()) *err = "not a time";
    return t;
}

std::optional<ULONGLONG> ParseDuration(std::string_view text) {
    const std::string_view s = Trim(text);
    if (s.empty()) return std::nullopt;
    constexpr ULONGLONG kMax = 0xFFFFFFFFFFFFFFFFULL;
    auto mulAdd = [](ULONGLONG acc, ULONGLONG a, ULONGLONG b) -> std::optional<ULONGLONG> {
        if (a != 0 && b > kMax / a) return std::nullopt;
        if (acc > kMax - a * b) return std::nullopt;
        return acc + a * b;
    };
    if (s.find(':') != std::string_view::npos) {
        std::size_t p = 0;
        unsigned h, m, sec;
        if (!Digits(s, p, 1, 6, h) || p >= s.size() || s[p++] != ':' || !Digits(s, p, 2, 2, m) ||
            p >= s.size() || s[p++] != ':' || !Digits(s, p, 2, 2, sec) || m > 59 || sec > 59)
            return std::nullopt;
        ULONGLONG frac = 0;
        if (p < s.size() && s[p] == '.') {
            ++p;
            if (!Fraction(s, p, frac)) return std::nullopt;
        }
        if (p != s.size()) return std::nullopt;
        return (static_cast<ULONGLONG>(h) * 3600 + m * 60 + sec) * com::kTicksPerSecond + frac;
    }
    ULONGLONG total = 0;
    std::size_t p = 0;
    while (p < s.size()) {
        unsigned long long n = 0;
        const std::size_t d0 = p;
        while (p < s.size() && std::isdigit(static_cast<unsigned char>(s[p]))) {
            if (n > 1000000000000000ULL) return std::nullopt;
            n = n * 10 + static_cast<unsigned>(s[p++] - '0');
        }
        if (p == d0) return std::nullopt;
        std::size_t u0 = p;
        while (p < s.size() && std::isalpha(static_cast<unsigned char>(s[p]))) ++p;
        std::string unit = Upper(s.substr(u0, p - u0));
        ULONGLONG per;
        if (unit == "MS")
            per = 10000;
        else if (unit == "S" || unit.empty())
            per = com::kTicksPerSecond;
        else if (unit == "M" || unit == "MIN")
            per = 60 * com::kTicksPerSecond;
        else if (unit == "H")
            per = 3600 * com::kTicksPerSecond;
        else if (unit == "D")
            per = 86400 * com::kTicksPerSecond;
        else if (unit == "W")
            per = 7 * 86400 * com::kTicksPerSecond;
        else
            return std::nullopt;
        auto next = mulAdd(total, n, per);
        if (!next) return std::nullopt;
        total = *next;
        if (unit.empty() && p != s.size()) return std::nullopt;
    }
    return total;
}

}  // namespace vistrel
