#include "client/datagenerator.h"

#include <cstdio>

namespace client {

namespace {

GeneratorResult Walk(const GeneratorSettings& s, std::size_t maxRows,
                     const std::function<void(double, ULONGLONG)>* row, std::size_t* pRows) {
    const double d = s.increment;
    double v = s.initial;
    if (d == 0 || (d > 0 && v > s.end) || (d < 0 && v < s.end)) return GeneratorResult::WrongDirection;
    std::size_t n = 0;
    ULONGLONG t = s.startTicks;
    while (d > 0 ? v < s.end : v > s.end) {
        if (n >= maxRows) {
            if (pRows) *pRows = n + 1;
            return GeneratorResult::TooMany;
        }
        if (n > 0 && t > 0xFFFFFFFFFFFFFFFFULL - s.stepTicks) return GeneratorResult::TimeOverflow;
        if (n > 0) t += s.stepTicks;
        if (row) (*row)(v, t);
        const double next = v + d;
        if (next == v) return GeneratorResult::NoProgress;
        v = next;
        ++n;
    }
    if (pRows) *pRows = n;
    return GeneratorResult::Ok;
}

}  // namespace

GeneratorResult CountRows(const GeneratorSettings& settings, std::size_t maxRows, std::size_t* pRows) {
    return Walk(settings, maxRows, nullptr, pRows);
}

GeneratorResult Generate(const GeneratorSettings& settings, std::size_t maxRows,
                         const std::function<void(double, ULONGLONG)>& row) {
    std::size_t n = 0;
    GeneratorResult r = Walk(settings, maxRows, nullptr, &n);
    if (r != GeneratorResult::Ok) return r;
    return Walk(settings, maxRows, &row, nullptr);
}

std::u16string GeneratorValueText(double value) {
    char b[512];
    int n = std::snprintf(b, sizeof b, "%f", value);
    std::u16string s;
    for (int i = 0; i < n && i < static_cast<int>(sizeof b); ++i)
        s += static_cast<char16_t>(b[i] == ',' ? '.' : b[i]);
    return s;
}

DWORD QualityFromText(std::u16string_view text) {
    if (text == u"Good") return 0xC0;
    if (text == u"Uncertain") return 0x40;
    return 0;
}

}  // namespace client
