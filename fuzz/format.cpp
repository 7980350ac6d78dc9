// The message formatter with hostile formats and arguments: any directive against any argument
// type, missing and surplus arguments, huge widths, NaN and infinities. The bounded form is always
// a prefix of the unbounded one, within its buffer.
#include <cstring>
#include <vector>

#include "com/text.h"
#include "fuzz/fuzz.h"

namespace fuzz {

namespace {

std::u16string Call(const std::vector<com::FormatArg>& a, std::u16string_view fmt, std::size_t bound) {
    // FormatW takes an initializer list: one call per argument count.
    auto f = [&](std::initializer_list<com::FormatArg> args) {
        return bound ? com::FormatWBounded(bound, fmt, args) : com::FormatW(fmt, args);
    };
    switch (a.size()) {
        case 0:
            return f({});
        case 1:
            return f({a[0]});
        case 2:
            return f({a[0], a[1]});
        case 3:
            return f({a[0], a[1], a[2]});
        case 4:
            return f({a[0], a[1], a[2], a[3]});
        case 5:
            return f({a[0], a[1], a[2], a[3], a[4]});
        case 6:
            return f({a[0], a[1], a[2], a[3], a[4], a[5]});
        default:
            return f({a[0], a[1], a[2], a[3], a[4], a[5], a[6]});
    }
}

}  // namespace

int Format(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t nargs = data[0] % 8;
    const std::size_t bound = data[1] + 1u;  // a buffer of 1..256 characters
    std::size_t pos = 2;
    // Arguments: a type byte and eight value bytes each, as far as the input goes.
    struct Raw {
        std::uint8_t type;
        std::uint64_t bits;
    };
    std::vector<Raw> raws;
    for (std::size_t i = 0; i < nargs && pos + 9 <= size; ++i, pos += 9) {
        Raw r{data[pos], 0};
        std::memcpy(&r.bits, data + pos + 1, 8);
        raws.push_back(r);
    }
    const std::u16string fmt = Utf16Of(data + pos, size - pos);
    std::vector<com::FormatArg> args;
    for (const Raw& r : raws) {
        double d;
        std::memcpy(&d, &r.bits, 8);
        switch (r.type % 6) {
            case 0:
                args.emplace_back(static_cast<long long>(r.bits));
                break;
            case 1:
                args.emplace_back(static_cast<unsigned long long>(r.bits));
                break;
            case 2:
                args.emplace_back(d);
                break;
            case 3:
                args.emplace_back(static_cast<int>(r.bits));
                break;
            case 4:
                args.emplace_back(static_cast<const char16_t*>(nullptr));
                break;
            default: {
                // Text: a slice of the format itself, NULs and lone surrogates included.
                const std::size_t from = fmt.empty() ? 0 : (r.bits % fmt.size());
                args.emplace_back(std::u16string_view(fmt).substr(from, (r.bits >> 32) % 64));
                break;
            }
        }
    }
    const std::u16string full = Call(args, fmt, 0);
    const std::u16string cut = Call(args, fmt, bound);
    Require(cut.size() <= bound - 1, "the bounded text fits its buffer");
    // Cut only at the buffer's end (one less when a surrogate pair would be split).
    Require(cut.size() == full.size() || cut.size() + 1 >= bound - 1, "the bounded text is cut at its end");
    Require(com::FormatWBounded(0, fmt, {}).empty(), "no buffer, no text");
    Require(full.compare(0, cut.size(), cut) == 0, "the bounded text is a prefix of the whole");
    return 0;
}

}  // namespace fuzz
