// The printf-style formatter for message texts and the time-text scanner, both over UTF-16.
//
// FormatW follows the Windows CRT's wide printf where the two differ from C99: "%s" and "%S" both take
// UTF-16 text here (every argument is UTF-16), "l" is 32 bits for integers (Windows' long), "I64" and
// "ll" are 64 bits. Integers without a 64-bit modifier are read as 32 bits, so "%X" of a negative
// HRESULT prints "80004005" whatever integer type carried it. Reals always use '.', whatever the
// process's C locale (Qt sets it from the environment). Output is a std::u16string: nothing to overflow.
#include <locale.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "com/text.h"

namespace com {
namespace {

// Widths and precisions beyond this are clamped: "%999999999d" is a mistake, not a request for a
// gigabyte of blanks.
constexpr int kMaxField = 1 << 20;

struct FieldFormat {
    bool left = false, plus = false, space = false, zero = false, alt = false;
    int width = 0;
    int precision = -1;  // -1: none
    int bits = 32;       // integer size read: 8, 16, 32, 64
    char16_t conv = 0;
};

// Reads the argument list front to back; past the end, nothing.
class ArgReader {
public:
    ArgReader(const FormatArg* first, const FormatArg* last) : m_it(first), m_end(last) {}
    const FormatArg* next() { return m_it == m_end ? nullptr : m_it++; }

private:
    const FormatArg* m_it;
    const FormatArg* m_end;
};

bool AsInteger(const FormatArg* a, std::uint64_t* raw, bool* isSigned) {
    if (a == nullptr) return false;
    if (auto p = std::get_if<std::int64_t>(&a->value())) {
        *raw = static_cast<std::uint64_t>(*p);
        *isSigned = true;
        return true;
    }
    if (auto p = std::get_if<std::uint64_t>(&a->value())) {
        *raw = *p;
        *isSigned = false;
        return true;
    }
    return false;
}

void AppendAscii(std::u16string& out, const char* s, std::size_t n) {
    const std::size_t at = out.size();
    out.resize(at + n);
    for (std::size_t i = 0; i < n; ++i) out[at + i] = static_cast<unsigned char>(s[i]);
}

void Pad(std::u16string& out, std::size_t n, char16_t c) {
    out.append(n, c);
}

// Places body (sign/prefix already split off) into its field.
void EmitField(std::u16string& out, const FieldFormat& s, std::u16string_view prefix,
               std::u16string_view body, bool zeroPadAllowed) {
    const std::size_t len = prefix.size() + body.size();
    const std::size_t width = static_cast<std::size_t>(s.width);
    const std::size_t fill = width > len ? width - len : 0;
    if (s.left) {
        out.append(prefix);
        out.append(body);
        Pad(out, fill, u' ');
    } else if (s.zero && zeroPadAllowed) {
        out.append(prefix);
        Pad(out, fill, u'0');
        out.append(body);
    } else {
        Pad(out, fill, u' ');
        out.append(prefix);
        out.append(body);
    }
}

void FormatInteger(std::u16string& out, const FieldFormat& s, std::uint64_t raw) {
    // Read the argument at the directive's size, as the CRT reads the stack.
    const std::uint64_t mask = s.bits == 64 ? ~0ULL : ((1ULL << s.bits) - 1);
    std::uint64_t u = raw & mask;
    bool negative = false;
    const bool signedConv = s.conv == u'd' || s.conv == u'i';
    if (signedConv && s.bits < 64 && (u >> (s.bits - 1)) & 1) {
        negative = true;
        u = ((~u) & mask) + 1;  // magnitude of the two's-complement value
    } else if (signedConv && s.bits == 64 && (u >> 63)) {
        negative = true;
        u = ~u + 1;
    }

    char digits[72];
    char* end = digits + sizeof(digits);
    char* p = end;
    unsigned base = 10;
    const char* set = "0123456789abcdef";
    if (s.conv == u'x') base = 16;
    if (s.conv == u'X') {
        base = 16;
        set = "0123456789ABCDEF";
    }
    if (s.conv == u'o') base = 8;
    for (std::uint64_t v = u; v != 0; v /= base) *--p = set[v % base];
    std::size_t n = static_cast<std::size_t>(end - p);

    std::u16string body;
    // Precision is the minimum number of digits; ".0" with a zero value prints no digits.
    const std::size_t minDigits = s.precision < 0 ? 1 : static_cast<std::size_t>(s.precision);
    if (n < minDigits) body.append(minDigits - n, u'0');
    AppendAscii(body, p, n);
    if (s.alt && s.conv == u'o' && (body.empty() || body[0] != u'0')) body.insert(body.begin(), u'0');

    std::u16string prefix;
    if (negative)
        prefix = u"-";
    else if (signedConv && s.plus)
        prefix = u"+";
    else if (signedConv && s.space)
        prefix = u" ";
    if (s.alt && u != 0 && s.conv == u'x') prefix += u"0x";
    if (s.alt && u != 0 && s.conv == u'X') prefix += u"0X";
    EmitField(out, s, prefix, body, s.precision < 0);
}

// Reals go through snprintf under a private "C" locale, so the decimal point is always '.'.
locale_t CLocale() {
    static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

void FormatReal(std::u16string& out, const FieldFormat& s, double v) {
    char fmt[32];
    char* f = fmt;
    *f++ = '%';
    if (s.left) *f++ = '-';
    if (s.plus) *f++ = '+';
    if (s.space) *f++ = ' ';
    if (s.zero) *f++ = '0';
    if (s.alt) *f++ = '#';
    *f++ = '*';
    *f++ = '.';
    *f++ = '*';
    *f++ = static_cast<char>(s.conv);
    *f = '\0';
    const int precision = s.precision < 0 ? 6 : s.precision;

    const locale_t c = CLocale();
    const locale_t old = c ? uselocale(c) : static_cast<locale_t>(nullptr);
    char small[128];
    int n = std::snprintf(small, sizeof(small), fmt, s.width, precision, v);
    if (n >= 0 && static_cast<std::size_t>(n) < sizeof(small)) {
        AppendAscii(out, small, static_cast<std::size_t>(n));
    } else if (n > 0) {
        std::string big(static_cast<std::size_t>(n) + 1, '\0');
        n = std::snprintf(big.data(), big.size(), fmt, s.width, precision, v);
        if (n > 0) AppendAscii(out, big.data(), static_cast<std::size_t>(n));
    }
    if (c) uselocale(old);
}

void FormatText(std::u16string& out, const FieldFormat& s, std::u16string_view text) {
    if (s.precision >= 0 && static_cast<std::size_t>(s.precision) < text.size())
        text = text.substr(0, s.precision);
    EmitField(out, s, {}, text, false);
}

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// Reads a decimal number or '*' for width/precision; returns the value clamped to kMaxField.
int ReadCount(std::u16string_view f, std::size_t& i, ArgReader& args, bool* fromStar, bool* negativeStar) {
    *fromStar = false;
    *negativeStar = false;
    if (i < f.size() && f[i] == u'*') {
        ++i;
        *fromStar = true;
        std::uint64_t raw;
        bool sgn;
        if (!AsInteger(args.next(), &raw, &sgn)) return 0;
        const auto v = static_cast<std::int32_t>(static_cast<std::uint32_t>(raw));
        if (v < 0) {
            *negativeStar = true;
            return v == INT32_MIN ? kMaxField : std::min(-v, kMaxField);
        }
        return std::min(v, kMaxField);
    }
    long long v = 0;
    while (i < f.size() && IsDigit(f[i])) {
        if (v <= kMaxField) v = v * 10 + (f[i] - u'0');
        ++i;
    }
    return static_cast<int>(std::min<long long>(v, kMaxField));
}

}  // namespace

std::u16string FormatW(std::u16string_view format, std::initializer_list<FormatArg> list) {
    std::u16string out;
    out.reserve(format.size() + 16);
    ArgReader args(list.begin(), list.end());
    std::size_t i = 0;
    const std::size_t n = format.size();
    while (i < n) {
        const std::size_t pct = format.find(u'%', i);
        if (pct == std::u16string_view::npos) {
            out.append(format.substr(i));
            break;
        }
        out.append(format.substr(i, pct - i));
        i = pct + 1;
        if (i < n && format[i] == u'%') {
            out.push_back(u'%');
            ++i;
            continue;
        }

        FieldFormat s;
        // flags
        for (; i < n; ++i) {
            const char16_t c = format[i];
            if (c == u'-')
                s.left = true;
            else if (c == u'+')
                s.plus = true;
            else if (c == u' ')
                s.space = true;
            else if (c == u'0')
                s.zero = true;
            else if (c == u'#')
                s.alt = true;
            else
                break;
        }
        bool star, negStar;
        s.width = ReadCount(format, i, args, &star, &negStar);
        if (negStar) s.left = true;  // a negative '*' width means left-justified
        if (i < n && format[i] == u'.') {
            ++i;
            s.precision = ReadCount(format, i, args, &star, &negStar);
            if (negStar) s.precision = -1;  // a negative '*' precision is as if none was given
        }
        // length modifiers
        if (i < n) {
            if (format.substr(i, 3) == u"I64") {
                s.bits = 64;
                i += 3;
            } else if (format.substr(i, 3) == u"I32") {
                s.bits = 32;
                i += 3;
            } else if (format.substr(i, 2) == u"hh") {
                s.bits = 8;
                i += 2;
            } else if (format.substr(i, 2) == u"ll") {
                s.bits = 64;
                i += 2;
            } else if (format[i] == u'h') {
                s.bits = 16;
                ++i;
            } else if (format[i] == u'l' || format[i] == u'w') {
                s.bits = 32;  // Windows' long is 32 bits
                ++i;
            } else if (format[i] == u'I' || format[i] == u'j' || format[i] == u'z' || format[i] == u't' ||
                       format[i] == u'L') {
                s.bits = 64;
                ++i;
            }
        }
        if (i >= n) {
            // A directive cut off by the end of the format: shown as written.
            out.append(format.substr(pct));
            break;
        }
        s.conv = format[i++];
        switch (s.conv) {
            case u'd':
            case u'i':
            case u'u':
            case u'x':
            case u'X':
            case u'o': {
                std::uint64_t raw;
                bool sgn;
                if (AsInteger(args.next(), &raw, &sgn)) FormatInteger(out, s, raw);
                break;
            }
            case u'c':
            case u'C': {
                std::uint64_t raw;
                bool sgn;
                if (AsInteger(args.next(), &raw, &sgn)) {
                    const char16_t ch = static_cast<char16_t>(raw);
                    FieldFormat t = s;
                    t.precision = -1;
                    FormatText(out, t, std::u16string_view(&ch, 1));
                }
                break;
            }
            case u's':
            case u'S': {
                const FormatArg* a = args.next();
                if (a != nullptr) {
                    if (auto p = std::get_if<std::u16string_view>(&a->value())) FormatText(out, s, *p);
                }
                break;
            }
            case u'f':
            case u'F':
            case u'e':
            case u'E':
            case u'g':
            case u'G':
            case u'a':
            case u'A': {
                const FormatArg* a = args.next();
                if (a != nullptr) {
                    if (auto p = std::get_if<double>(&a->value())) FormatReal(out, s, *p);
                }
                break;
            }
            default:
                // Unknown conversions (including %n and %p) are shown as written and take no argument.
                out.append(format.substr(pct, i - pct));
                break;
        }
    }
    return out;
}

std::u16string FormatWBounded(std::size_t cchBuffer, std::u16string_view format,
                              std::initializer_list<FormatArg> args) {
    std::u16string s = FormatW(format, args);
    if (cchBuffer == 0) return {};
    if (s.size() > cchBuffer - 1) {
        s.resize(cchBuffer - 1);
        // Never end on half a surrogate pair.
        if (!s.empty() && s.back() >= 0xD800 && s.back() <= 0xDBFF) s.pop_back();
    }
    return s;
}

// ---- the time-text scanner ----------------------------------------------------------------------

namespace {

bool IsSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

enum class ReadResult { Ok, NoMatch, End };

// One %<width>hu: white space skipped, then an optional sign and at most width characters in all.
// Values wrap modulo 2^16 as strtoul's result stored into an unsigned short does.
ReadResult ReadUShort(std::u16string_view t, std::size_t& i, int width, WORD* out) {
    while (i < t.size() && IsSpace(t[i])) ++i;
    if (i >= t.size()) return ReadResult::End;
    int used = 0;
    bool negative = false;
    if (t[i] == u'+' || t[i] == u'-') {
        negative = t[i] == u'-';
        ++i;
        ++used;
    }
    std::uint32_t v = 0;
    int digits = 0;
    while (used < width && i < t.size() && IsDigit(t[i])) {
        v = (v * 10 + (t[i] - u'0')) & 0xFFFFu;
        ++i;
        ++used;
        ++digits;
    }
    if (digits == 0) return ReadResult::NoMatch;
    if (negative) v = (0x10000u - v) & 0xFFFFu;
    *out = static_cast<WORD>(v);
    return ReadResult::Ok;
}

}  // namespace

int ScanTimeText(std::u16string_view text, WORD* year, WORD* month, WORD* day, WORD* hour, WORD* minute,
                 WORD* second, WORD* millisecond) {
    // The text ends at its first NUL, as a C string would.
    const std::size_t nul = text.find(u'\0');
    if (nul != std::u16string_view::npos) text = text.substr(0, nul);

    // "%04hu/%02hu/%02hu %02hu:%02hu:%02hu.%03hu" as (literal before the field, width, target).
    struct Field {
        char16_t literal;  // 0: none; u' ': any white space, possibly none
        int width;
        WORD* target;
    };
    const Field fields[7] = {{0, 4, year},      {u'/', 2, month},  {u'/', 2, day},        {u' ', 2, hour},
                             {u':', 2, minute}, {u':', 2, second}, {u'.', 3, millisecond}};
    std::size_t i = 0;
    int assigned = 0;
    bool convertedAny = false;  // EOF only when input ends before the first conversion
    for (const Field& f : fields) {
        if (f.literal == u' ') {
            while (i < text.size() && IsSpace(text[i])) ++i;
        } else if (f.literal != 0) {
            if (i >= text.size()) return convertedAny ? assigned : -1;
            if (text[i] != f.literal) return assigned;
            ++i;
        }
        WORD v = 0;
        const ReadResult r = ReadUShort(text, i, f.width, &v);
        if (r == ReadResult::End) return convertedAny ? assigned : -1;
        if (r == ReadResult::NoMatch) return assigned;
        convertedAny = true;
        // A null target is a suppressed field: read, not stored, not counted.
        if (f.target != nullptr) {
            *f.target = v;
            ++assigned;
        }
    }
    return assigned;
}

}  // namespace com
