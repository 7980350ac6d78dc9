// FormatW (printf over UTF-16, bounded by construction) and ScanTimeText (swscanf of the time text).
#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <string>

#include "com/text.h"
#include "com/types.h"
#include "comma_locale.h"

namespace {

using namespace std::string_literals;
using com::FormatW;

std::string U8(const std::u16string& s) {
    return com::Utf16ToUtf8(s);
}

TEST(FormatW, Integers) {
    struct Case {
        std::u16string fmt;
        com::FormatArg arg;
        std::u16string expected;
    };
    const Case cases[] = {
        {u"%d", 42, u"42"},
        {u"%i", -7, u"-7"},
        {u"%d", INT32_MIN, u"-2147483648"},
        {u"%u", 4294967295u, u"4294967295"},
        {u"%u", -1, u"4294967295"},
        {u"%x", 255, u"ff"},
        {u"%X", 255, u"FF"},
        {u"%X", static_cast<int>(0x80004005u), u"80004005"},
        {u"%X", static_cast<HRESULT>(E_FAIL), u"80004005"},
        {u"0x%X", static_cast<HRESULT>(0xC004100Du), u"0xC004100D"},
        {u"%X", 1, u"1"},
        {u"%x", static_cast<long long>(-1), u"ffffffff"},  // read as 32 bits, as the CRT reads an int
        {u"%08X", 0x1F, u"0000001F"},
        {u"%04i", 7, u"0007"},
        {u"%02i", 5, u"05"},
        {u"%02i", 12345, u"12345"},
        {u"%03d", 6, u"006"},
        {u"%04i", -7, u"-007"},
        {u"%04i", -1, u"-001"},
        {u"%02i", -1, u"-1"},
        {u"%5d", 42, u"   42"},
        {u"%-5d|", 42, u"42   |"},
        {u"%-05d|", 42, u"42   |"},
        {u"%+d", 5, u"+5"},
        {u"%+d", -5, u"-5"},
        {u"% d", 5, u" 5"},
        {u"%.3d", 5, u"005"},
        {u"%6.3d", -5, u"  -005"},
        {u"%06.3d", 5, u"   005"},  // a precision turns the 0 flag off
        {u"%.0d", 0, u""},
        {u"%#x", 255, u"0xff"},
        {u"%#X", 255, u"0XFF"},
        {u"%#x", 0, u"0"},
        {u"%#o", 8, u"010"},
        {u"%o", 8, u"10"},
        {u"%lld", INT64_MIN, u"-9223372036854775808"},
        {u"%I64d", INT64_MIN, u"-9223372036854775808"},
        {u"%I64u", UINT64_MAX, u"18446744073709551615"},
        {u"%llX", static_cast<long long>(0x80004005u), u"80004005"},
        {u"%I64X", UINT64_MAX, u"FFFFFFFFFFFFFFFF"},
        {u"%hd", 65535, u"-1"},
        {u"%hu", -1, u"65535"},
        {u"%hhd", 255, u"-1"},
        {u"%hhu", 256, u"0"},
        {u"%ld", -1L, u"-1"},
        {u"%lu", -1L, u"4294967295"},  // Windows' long is 32 bits
        {u"%d", static_cast<unsigned short>(2009), u"2009"},
        {u"%u", static_cast<short>(-2), u"4294967294"},
        {u"%c", 'A', u"A"},
        {u"%c", 0x263A, u"\u263A"},
        {u"%3c|", 'x', u"  x|"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatW(c.fmt, {c.arg}), c.expected) << U8(c.fmt);
}

TEST(FormatW, Text) {
    EXPECT_EQ(FormatW(u"%s", {u"abc"}), u"abc");
    EXPECT_EQ(FormatW(u"%S", {u"abc"}), u"abc");
    EXPECT_EQ(FormatW(u"%ls|%hs|%ws", {u"a", u"b", u"c"}), u"a|b|c");
    EXPECT_EQ(FormatW(u"[%6s]", {u"abc"}), u"[   abc]");
    EXPECT_EQ(FormatW(u"[%-6s]", {u"abc"}), u"[abc   ]");
    EXPECT_EQ(FormatW(u"[%.2s]", {u"abc"}), u"[ab]");
    EXPECT_EQ(FormatW(u"[%.0s]", {u"abc"}), u"[]");
    EXPECT_EQ(FormatW(u"%s", {static_cast<const char16_t*>(nullptr)}), u"(null)");
    EXPECT_EQ(FormatW(u"%s", {std::u16string(u"std")}), u"std");
    EXPECT_EQ(FormatW(u"%s", {std::u16string_view(u"view")}), u"view");
    const std::u16string pair = u"\U0001F600";  // a surrogate pair passes through
    EXPECT_EQ(FormatW(u"<%s>", {pair}), u"<" + pair + u">");
    const std::u16string withNul(u"a\0b", 3);
    EXPECT_EQ(FormatW(u"%s", {withNul}), withNul);
    EXPECT_EQ(FormatW(u"100%%", {}), u"100%");
    EXPECT_EQ(FormatW(u"%%d", {1}), u"%d");
    EXPECT_EQ(FormatW(u"", {1}), u"");
    EXPECT_EQ(FormatW(u"plain text", {}), u"plain text");
}

TEST(FormatW, Reals) {
    EXPECT_EQ(FormatW(u"%f", {1.5}), u"1.500000");
    EXPECT_EQ(FormatW(u"%.2f", {3.14159}), u"3.14");
    EXPECT_EQ(FormatW(u"%8.3f", {-1.5}), u"  -1.500");
    EXPECT_EQ(FormatW(u"%-8.1f|", {2.25}), u"2.2     |");
    EXPECT_EQ(FormatW(u"%08.2f", {-3.5}), u"-0003.50");
    EXPECT_EQ(FormatW(u"%+.1f", {2.0}), u"+2.0");
    EXPECT_EQ(FormatW(u"%e", {12345.678}), u"1.234568e+04");
    EXPECT_EQ(FormatW(u"%E", {12345.678}), u"1.234568E+04");
    EXPECT_EQ(FormatW(u"%g", {0.0001}), u"0.0001");
    EXPECT_EQ(FormatW(u"%G", {1e-5}), u"1E-05");
    EXPECT_EQ(FormatW(u"%.15G", {0.1}), u"0.1");
    EXPECT_EQ(FormatW(u"%#.0f", {3.0}), u"3.");
    EXPECT_EQ(FormatW(u"%.0f", {2.5}), u"2");
    EXPECT_EQ(FormatW(u"%f", {1e300}).size(), 308u);
}

TEST(FormatW, RealsIgnoreTheProcessLocale) {
    const auto comma = testsupport::CommaLocale();
    if (!comma) GTEST_SKIP() << "no locale with a decimal comma, and none could be built";
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    ASSERT_NE(std::setlocale(LC_NUMERIC, comma->c_str()), nullptr);
    char probe[16];
    std::snprintf(probe, sizeof(probe), "%.1f", 1.5);  // the C library itself now writes "1,5"
    const std::u16string text = FormatW(u"%.2f|%g|%e", {1.25, 0.5, 2.0});
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_STREQ(probe, "1,5");
    EXPECT_EQ(text, u"1.25|0.5|2.000000e+00");
}

TEST(FormatW, StarWidthAndPrecision) {
    EXPECT_EQ(FormatW(u"[%*d]", {5, 42}), u"[   42]");
    EXPECT_EQ(FormatW(u"[%-*d]", {5, 42}), u"[42   ]");
    EXPECT_EQ(FormatW(u"[%*d]", {-5, 42}), u"[42   ]");  // a negative width means left-justified
    EXPECT_EQ(FormatW(u"[%.*s]", {2, u"abcdef"}), u"[ab]");
    EXPECT_EQ(FormatW(u"[%.*s]", {-1, u"abc"}), u"[abc]");
    EXPECT_EQ(FormatW(u"[%*.*f]", {8, 2, 3.14159}), u"[    3.14]");
}

TEST(FormatW, MissingAndMismatchedArgumentsPrintNothing) {
    EXPECT_EQ(FormatW(u"%d and %d", {42}), u"42 and ");
    EXPECT_EQ(FormatW(u"[%s]", {}), u"[]");
    EXPECT_EQ(FormatW(u"[%d]", {u"text"}), u"[]");
    EXPECT_EQ(FormatW(u"[%s]", {42}), u"[]");
    EXPECT_EQ(FormatW(u"[%f]", {42}), u"[]");
    EXPECT_EQ(FormatW(u"[%d]", {1.5}), u"[]");
    EXPECT_EQ(FormatW(u"[%c]", {u"x"}), u"[]");
    EXPECT_EQ(FormatW(u"[%d|%s]", {u"a", u"b"}), u"[|b]");  // the mismatched one is still consumed
    EXPECT_EQ(FormatW(u"[%*d]", {u"w", 42}), u"[42]");
    EXPECT_EQ(FormatW(u"%s%s%s%s%s%s%s%s", {u"x"}), u"x");
}

TEST(FormatW, UnknownOrCutDirectivesShowAsWritten) {
    EXPECT_EQ(FormatW(u"[%y]", {1}), u"[%y]");
    EXPECT_EQ(FormatW(u"[%n]%d", {7}), u"[%n]7");  // %n writes nothing anywhere
    EXPECT_EQ(FormatW(u"[%p]", {1}), u"[%p]");
    EXPECT_EQ(FormatW(u"abc%", {1}), u"abc%");
    EXPECT_EQ(FormatW(u"abc%-08", {1}), u"abc%-08");
    EXPECT_EQ(FormatW(u"abc%ll", {1}), u"abc%ll");
}

TEST(FormatW, NeverOverflows) {
    const std::u16string big(100000, u'x');
    const std::u16string r =
        FormatW(u"Connect to '%s' failed Return Code = %X", {big, static_cast<HRESULT>(E_FAIL)});
    EXPECT_EQ(r.size(), 100000u + 43u);
    EXPECT_EQ(r.substr(0, 12), u"Connect to '");
    EXPECT_EQ(r.substr(r.size() - 8), u"80004005");

    EXPECT_EQ(FormatW(big, {}), big);
    std::u16string manyDirectives;
    for (int i = 0; i < 50000; ++i) manyDirectives += u"%d";
    EXPECT_EQ(FormatW(manyDirectives, {1, 2}), u"12");
    std::u16string manyPercents(100000, u'%');
    EXPECT_EQ(FormatW(manyPercents, {}), std::u16string(50000, u'%'));

    // Absurd widths and precisions are clamped rather than honoured.
    const std::u16string wide = FormatW(u"%999999999d", {1});
    EXPECT_EQ(wide.size(), 1u << 20);
    EXPECT_EQ(wide.back(), u'1');
    EXPECT_EQ(FormatW(u"%99999999999999999999d", {1}).size(), 1u << 20);
    EXPECT_EQ(FormatW(u"%.999999999s", {u"abc"}), u"abc");
    EXPECT_LE(FormatW(u"%.999999999f", {1.0}).size(), (1u << 20) + 2);
    EXPECT_EQ(FormatW(u"%*d", {INT32_MIN, 1}).size(), 1u << 20);
}

TEST(FormatW, TheSpecsMessages) {
    EXPECT_EQ(FormatW(u"Unknown Error code : 0x%X", {static_cast<HRESULT>(0xC004100Du)}),
              u"Unknown Error code : 0xC004100D");
    EXPECT_EQ(FormatW(u"Unknown Error code : 0x%X", {static_cast<HRESULT>(S_FALSE)}),
              u"Unknown Error code : 0x1");
    EXPECT_EQ(
        FormatW(u"Error retrieving server aggregates, Error Code =  %x", {static_cast<HRESULT>(E_FAIL)}),
        u"Error retrieving server aggregates, Error Code =  80004005");
    EXPECT_EQ(FormatW(u"Connect to '%s - %s' failed : Return Code =  %X",
                      {u"host", u"Brindlex.OPC.Simulation", static_cast<HRESULT>(0x800706BAu)}),
              u"Connect to 'host - Brindlex.OPC.Simulation' failed : Return Code =  800706BA");
    const WORD y = 2009, mo = 2, d = 24, h = 13, mi = 5, s = 7, ms = 250;
    EXPECT_EQ(FormatW(u"%04i/%02i/%02i ", {y, mo, d}) + FormatW(u"%02i:%02i:%02i.%03i", {h, mi, s, ms}),
              u"2009/02/24 13:05:07.250");
    EXPECT_EQ(FormatW(u"%04d/%02d/%02d %02d:%02d:%02d.%03d", {2009, 1, 5, 3, 4, 5, 6}),
              u"2009/01/05 03:04:05.006");
    // A picker without a value contributes -1 to each field.
    EXPECT_EQ(FormatW(u"%04i/%02i/%02i ", {-1, -1, -1}) + FormatW(u"%02i:%02i:%02i.%03i", {-1, -1, -1, -1}),
              u"-001/-1/-1 -1:-1:-1.-01");
}

TEST(FormatWBounded, CutsLikeAFixedBuffer) {
    EXPECT_EQ(com::FormatWBounded(10, u"%s", {u"abcdefghijklmnop"}), u"abcdefghi");
    EXPECT_EQ(com::FormatWBounded(10, u"%s", {u"abc"}), u"abc");
    EXPECT_EQ(com::FormatWBounded(4, u"%d", {123}), u"123");
    EXPECT_EQ(com::FormatWBounded(4, u"%d", {1234}), u"123");
    EXPECT_EQ(com::FormatWBounded(1, u"%s", {u"abc"}), u"");
    EXPECT_EQ(com::FormatWBounded(0, u"%s", {u"abc"}), u"");
    // Half a surrogate pair is dropped rather than left dangling.
    EXPECT_EQ(com::FormatWBounded(3, u"a%s", {u"\U0001F600"}), u"a");
    const std::u16string big(100000, u'y');
    EXPECT_EQ(com::FormatWBounded(256, u"%s", {big}).size(), 255u);
}

// ---- ScanTimeText --------------------------------------------------------------------------------

struct Scan {
    int count;
    WORD f[7];
};

Scan Read(std::u16string_view text) {
    Scan s{};
    for (WORD& w : s.f) w = 0xBEEF;  // untouched fields keep this
    s.count = com::ScanTimeText(text, &s.f[0], &s.f[1], &s.f[2], &s.f[3], &s.f[4], &s.f[5], &s.f[6]);
    return s;
}

constexpr WORD X = 0xBEEF;

TEST(ScanTimeText, Table) {
    struct Case {
        std::u16string text;
        int count;
        WORD f[7];
    };
    const Case cases[] = {
        {u"2009/02/24 13:05:07.250", 7, {2009, 2, 24, 13, 5, 7, 250}},
        {u"2009/2/4 1:2:3.4", 7, {2009, 2, 4, 1, 2, 3, 4}},
        {u"-001/-1/-1 -1:-1:-1.-01", 7, {65535, 65535, 65535, 65535, 65535, 65535, 65535}},
        {u"-1", 1, {65535, X, X, X, X, X, X}},
        {u"-0", 1, {0, X, X, X, X, X, X}},
        {u"-655", 1, {64881, X, X, X, X, X, X}},
        {u"+2009/+2/+4", 1, {200, X, X, X, X, X, X}},  // the sign counts toward the width
        {u"+209/+2/+4 +1:+2:+3.+4", 7, {209, 2, 4, 1, 2, 3, 4}},
        {u"2009/02/30 10:00:00.000", 7, {2009, 2, 30, 10, 0, 0, 0}},
        {u"9999/99/99 99:99:99.999", 7, {9999, 99, 99, 99, 99, 99, 999}},
        {u"NOW", 0, {X, X, X, X, X, X, X}},
        {u"NOW-1D", 0, {X, X, X, X, X, X, X}},
        {u"", -1, {X, X, X, X, X, X, X}},
        {u"   ", -1, {X, X, X, X, X, X, X}},
        {u"\t\r\n ", -1, {X, X, X, X, X, X, X}},
        {u"2009", 1, {2009, X, X, X, X, X, X}},
        {u"2009/", 1, {2009, X, X, X, X, X, X}},
        {u"2009/02", 2, {2009, 2, X, X, X, X, X}},
        {u"2009/02/24", 3, {2009, 2, 24, X, X, X, X}},
        {u"2009/02/24 ", 3, {2009, 2, 24, X, X, X, X}},
        {u"2009/02/24 13:05:07", 6, {2009, 2, 24, 13, 5, 7, X}},
        {u"2009/02/24 13:05:07.", 6, {2009, 2, 24, 13, 5, 7, X}},
        {u"2009/02/24 13:05:07.2505", 7, {2009, 2, 24, 13, 5, 7, 250}},
        {u"2009/02/24 13:05:07,250", 6, {2009, 2, 24, 13, 5, 7, X}},
        {u"2009-02-24", 1, {2009, X, X, X, X, X, X}},
        {u"20091/02/24", 1, {2009, X, X, X, X, X, X}},
        {u"99999/01/01", 1, {9999, X, X, X, X, X, X}},
        {u"2009 /02/24", 1, {2009, X, X, X, X, X, X}},  // literals match exactly, no white space before
        {u"  2009/ 02/\t24", 3, {2009, 2, 24, X, X, X, X}},
        {u"2009/02/24\t\t13:05:07.250", 7, {2009, 2, 24, 13, 5, 7, 250}},
        {u"2009/02/2413:05:07.250", 7, {2009, 2, 24, 13, 5, 7, 250}},
        {u"2009/02/24 13:5:7.25 trailing", 7, {2009, 2, 24, 13, 5, 7, 25}},
        {u"/02/24", 0, {X, X, X, X, X, X, X}},
        {u"-", 0, {X, X, X, X, X, X, X}},
        {u"2009/-", 1, {2009, X, X, X, X, X, X}},
        {u"2009/x", 1, {2009, X, X, X, X, X, X}},
        {u"\uFF12\uFF10", 0, {X, X, X, X, X, X, X}},  // full-width digits are not digits here
        {u"2009/02\0/24"s, 2, {2009, 2, X, X, X, X, X}},
        {u"\0 2009"s, -1, {X, X, X, X, X, X, X}},
    };
    for (const auto& c : cases) {
        const Scan s = Read(c.text);
        EXPECT_EQ(s.count, c.count) << U8(c.text);
        for (int i = 0; i < 7; ++i) EXPECT_EQ(s.f[i], c.f[i]) << U8(c.text) << " field " << i;
    }
}

TEST(ScanTimeText, LongInput) {
    EXPECT_EQ(Read(std::u16string(100000, u' ')).count, -1);
    EXPECT_EQ(Read(std::u16string(100000, u'x')).count, 0);
    EXPECT_EQ(Read(std::u16string(100000, u'1')).count, 1);
    EXPECT_EQ(Read(u"2009/02/24 13:05:07.250" + std::u16string(100000, u'z')).count, 7);
    EXPECT_EQ(Read(std::u16string(99990, u' ') + u"2009/02/24").count, 3);
}

TEST(ScanTimeText, NullTargetsAreSuppressedFields) {
    WORD mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    EXPECT_EQ(com::ScanTimeText(u"2009/02/24 13:05:07.250", nullptr, &mo, &d, &h, &mi, &s, &ms), 6);
    EXPECT_EQ(mo, 2);
    EXPECT_EQ(ms, 250);
    EXPECT_EQ(com::ScanTimeText(u"2009/02/24 13:05:07.250", nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr),
              0);
}

}  // namespace
