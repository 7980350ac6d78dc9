// The historian's relative-time parser: any text gives Ok with an instant in range, Empty or
// Invalid; white space and letter case never change the answer.
#include "servers/simulation/engine/reltime.h"

#include <cstring>

#include "fuzz/fuzz.h"

namespace fuzz {

namespace {

bool IsSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

}  // namespace

int RelTime(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    sim::Ticks now;
    std::memcpy(&now, data, 8);
    now &= sim::kMaxTicks;
    const std::u16string text = Utf16Of(data + 8, size - 8);
    sim::Ticks result = 0xDEADBEEF;
    const sim::RelTimeStatus st = sim::ParseRelativeTime(text, now, &result);
    if (st == sim::RelTimeStatus::Ok) Require(result <= sim::kMaxTicks, "an instant in range");

    std::u16string squeezed, upper;
    for (char16_t c : text) {
        if (!IsSpace(c)) squeezed += c;
        upper += (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
    }
    for (const std::u16string* other : {&squeezed, &upper}) {
        sim::Ticks r2 = 0xDEADBEEF;
        const sim::RelTimeStatus st2 = sim::ParseRelativeTime(*other, now, &r2);
        Require(st2 == st, "white space and letter case do not change the answer");
        if (st == sim::RelTimeStatus::Ok) Require(r2 == result, "nor the instant");
    }
    return 0;
}

}  // namespace fuzz
