// BSTR, VARIANT and VariantChangeType(Ex): the Windows coercion rules and the bad-input cases.
#include <gtest/gtest.h>

#include <atomic>
#include <cfloat>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "com/objbase.h"
#include "com/oleauto.h"
#include "com/text.h"
#include "com/unknwn.h"
#include "comma_locale.h"

namespace {

// Every test starts with '.' as the user's separator and must give back every block it took.
class OleAut : public ::testing::Test {
protected:
    void SetUp() override {
        com::SetUserDecimalSeparator(u'.');
        m_blocks = com::LiveTaskMemBlocks();
    }
    void TearDown() override {
        EXPECT_EQ(com::LiveTaskMemBlocks(), m_blocks) << "task memory leaked or over-freed";
        com::SetUserDecimalSeparator(0);
    }
    long m_blocks = 0;
};

std::u16string Text(BSTR b) {
    return b ? std::u16string(b, SysStringLen(b)) : std::u16string();
}

VARIANT Make(VARTYPE vt) {
    VARIANT v;
    std::memset(&v, 0, sizeof(v));
    v.vt = vt;
    return v;
}
VARIANT I1(signed char x) {
    auto v = Make(VT_I1);
    v.cVal = static_cast<CHAR>(x);
    return v;
}
VARIANT I2(SHORT x) {
    auto v = Make(VT_I2);
    v.iVal = x;
    return v;
}
VARIANT I4(LONG x) {
    auto v = Make(VT_I4);
    v.lVal = x;
    return v;
}
VARIANT I8(LONGLONG x) {
    auto v = Make(VT_I8);
    v.llVal = x;
    return v;
}
VARIANT UI1(BYTE x) {
    auto v = Make(VT_UI1);
    v.bVal = x;
    return v;
}
VARIANT UI2(USHORT x) {
    auto v = Make(VT_UI2);
    v.uiVal = x;
    return v;
}
VARIANT UI4(ULONG x) {
    auto v = Make(VT_UI4);
    v.ulVal = x;
    return v;
}
VARIANT UI8(ULONGLONG x) {
    auto v = Make(VT_UI8);
    v.ullVal = x;
    return v;
}
VARIANT Int(INT x) {
    auto v = Make(VT_INT);
    v.intVal = x;
    return v;
}
VARIANT UInt(UINT x) {
    auto v = Make(VT_UINT);
    v.uintVal = x;
    return v;
}
VARIANT R4(float x) {
    auto v = Make(VT_R4);
    v.fltVal = x;
    return v;
}
VARIANT R8(double x) {
    auto v = Make(VT_R8);
    v.dblVal = x;
    return v;
}
VARIANT Cy(LONGLONG x) {
    auto v = Make(VT_CY);
    v.cyVal.int64 = x;
    return v;
}
VARIANT Bool(VARIANT_BOOL x) {
    auto v = Make(VT_BOOL);
    v.boolVal = x;
    return v;
}
VARIANT Date(double x) {
    auto v = Make(VT_DATE);
    v.date = x;
    return v;
}
VARIANT Error(SCODE x) {
    auto v = Make(VT_ERROR);
    v.scode = x;
    return v;
}

// A VT_BSTR that owns its string; the test clears it.
VARIANT Str(std::u16string_view s) {
    auto v = Make(VT_BSTR);
    v.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return v;
}

struct Converted {
    HRESULT hr;
    std::u16string text;
};

// The FormatVariant road: copy, convert the copy in place to VT_BSTR, read it, clear it.
Converted ToText(const VARIANT& value, USHORT flags = 0, LCID lcid = LOCALE_USER_DEFAULT) {
    VARIANT copy;
    VariantInit(&copy);
    HRESULT hr = VariantCopy(&copy, &value);
    if (FAILED(hr)) return {hr, {}};
    hr = VariantChangeTypeEx(&copy, &copy, lcid, flags, VT_BSTR);
    Converted r{hr, {}};
    if (SUCCEEDED(hr)) {
        EXPECT_EQ(copy.vt, VT_BSTR);
        r.text = Text(copy.bstrVal);
    }
    VariantClear(&copy);
    return r;
}

// Converts text into vt; the result variant is returned for inspection (scalar types only).
VARIANT FromText(std::u16string_view s, VARTYPE vt, HRESULT* hr, LCID lcid = LOCALE_USER_DEFAULT) {
    VARIANT src = Str(s);
    VARIANT dst;
    VariantInit(&dst);
    *hr = VariantChangeTypeEx(&dst, &src, lcid, 0, vt);
    VariantClear(&src);
    if (FAILED(*hr)) {
        EXPECT_EQ(dst.vt, VT_EMPTY) << "a failed conversion must leave the destination alone";
    }
    return dst;
}

VARIANT Convert(const VARIANT& src, VARTYPE vt, HRESULT* hr) {
    VARIANT dst;
    VariantInit(&dst);
    *hr = VariantChangeType(&dst, &src, 0, vt);
    return dst;
}

// A counting IUnknown (also answers one extra IID when told to).
class Counted final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || (m_extra && riid == *m_extra)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    std::atomic<ULONG> refs{1};
    const IID* m_extra = nullptr;
};

constexpr IID kIID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// ---- BSTR ---------------------------------------------------------------------------------------

TEST_F(OleAut, BstrHoldsItsLengthAndATerminator) {
    BSTR b = SysAllocString(u"abc");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(SysStringByteLen(b), 6u);
    EXPECT_EQ(b[3], u'\0');
    EXPECT_EQ(com::LiveTaskMemBlocks(), m_blocks + 1);
    SysFreeString(b);
    EXPECT_EQ(com::LiveTaskMemBlocks(), m_blocks);
}

TEST_F(OleAut, BstrNullAndEmpty) {
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);
    BSTR e = SysAllocString(u"");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(SysStringLen(e), 0u);
    EXPECT_EQ(e[0], u'\0');
    SysFreeString(e);
    BSTR z = SysAllocStringLen(u"xyz", 0);
    ASSERT_NE(z, nullptr);
    EXPECT_EQ(SysStringLen(z), 0u);
    SysFreeString(z);
}

TEST_F(OleAut, BstrFromNullSourceIsZeroedText) {
    BSTR b = SysAllocStringLen(nullptr, 5);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 5u);
    for (int i = 0; i <= 5; ++i) EXPECT_EQ(b[i], u'\0');
    SysFreeString(b);
}

TEST_F(OleAut, BstrKeepsEmbeddedNuls) {
    const char16_t src[] = {u'a', u'\0', u'b'};
    BSTR b = SysAllocStringLen(src, 3);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(b[2], u'b');
    EXPECT_EQ(b[3], u'\0');
    VARIANT v = Make(VT_BSTR);
    v.bstrVal = b;
    VARIANT c;
    VariantInit(&c);
    ASSERT_EQ(VariantCopy(&c, &v), S_OK);
    EXPECT_EQ(Text(c.bstrVal), std::u16string(src, 3));
    VariantClear(&c);
    VariantClear(&v);
}

TEST_F(OleAut, BstrRefusesLengthsThatOverflow) {
    EXPECT_EQ(SysAllocStringLen(nullptr, UINT_MAX), nullptr);
    EXPECT_EQ(SysAllocStringLen(u"x", UINT_MAX), nullptr);
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x7FFFFFFDu), nullptr);
    EXPECT_EQ(com::LiveTaskMemBlocks(), m_blocks);
}

TEST_F(OleAut, BstrOfAHundredThousandCharacters) {
    const std::u16string big(100000, u'x');
    BSTR b = SysAllocString(big.c_str());
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 100000u);
    EXPECT_EQ(SysStringByteLen(b), 200000u);
    SysFreeString(b);
}

// ---- VariantInit / Clear / Copy -----------------------------------------------------------------

TEST_F(OleAut, InitAndClear) {
    VARIANT v;
    std::memset(&v, 0xAB, sizeof(v));
    VariantInit(&v);
    EXPECT_EQ(v.vt, VT_EMPTY);
    VariantInit(nullptr);
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(VariantClear(nullptr), E_POINTER);

    VARIANT s = Str(u"hello");
    EXPECT_EQ(com::LiveTaskMemBlocks(), m_blocks + 1);
    EXPECT_EQ(VariantClear(&s), S_OK);
    EXPECT_EQ(s.vt, VT_EMPTY);

    VARIANT nullText = Make(VT_BSTR);  // a null BSTR is a valid empty string
    EXPECT_EQ(VariantClear(&nullText), S_OK);
}

TEST_F(OleAut, ClearReleasesInterfaces) {
    Counted obj;
    VARIANT u = Make(VT_UNKNOWN);
    u.punkVal = &obj;
    obj.AddRef();
    EXPECT_EQ(VariantClear(&u), S_OK);
    EXPECT_EQ(obj.refs, 1u);
    VARIANT d = Make(VT_DISPATCH);
    d.punkVal = &obj;
    obj.AddRef();
    EXPECT_EQ(VariantClear(&d), S_OK);
    EXPECT_EQ(obj.refs, 1u);
    VARIANT n = Make(VT_UNKNOWN);  // null interface
    EXPECT_EQ(VariantClear(&n), S_OK);
}

TEST_F(OleAut, ClearOfBadTypesFailsAndChangesNothing) {
    const VARTYPE bad[] = {15,
                           24 /*VT_VOID*/,
                           25 /*VT_HRESULT*/,
                           30 /*VT_LPSTR*/,
                           31 /*VT_LPWSTR*/,
                           36 /*VT_RECORD: not supported*/,
                           64 /*VT_FILETIME*/,
                           0x0FFF,
                           0x1000 | VT_I4 /*VT_VECTOR*/,
                           0x8000 | VT_I4 /*VT_RESERVED*/,
                           VT_BYREF | VT_EMPTY,
                           VT_BYREF | VT_NULL,
                           VT_ARRAY | VT_EMPTY,
                           VT_BYREF | 15};
    for (VARTYPE vt : bad) {
        VARIANT v = Make(vt);
        v.llVal = 0x1234;
        EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE) << "vt " << vt;
        EXPECT_EQ(v.vt, vt);
        EXPECT_EQ(v.llVal, 0x1234);
    }
}

TEST_F(OleAut, ClearOfArraysAndReferences) {
    // Arrays are opaque here: a non-null one cannot be freed, so it is left for its owner.
    alignas(16) static char fakeArray[32];
    VARIANT a = Make(VT_ARRAY | VT_I4);
    a.parray = reinterpret_cast<SAFEARRAY*>(fakeArray);
    EXPECT_EQ(VariantClear(&a), E_NOTIMPL);
    EXPECT_EQ(a.vt, VT_ARRAY | VT_I4);
    EXPECT_EQ(a.parray, reinterpret_cast<SAFEARRAY*>(fakeArray));

    VARIANT empty = Make(VT_ARRAY | VT_BSTR);  // null parray: nothing owned
    EXPECT_EQ(VariantClear(&empty), S_OK);
    EXPECT_EQ(empty.vt, VT_EMPTY);

    SAFEARRAY* held = reinterpret_cast<SAFEARRAY*>(fakeArray);
    VARIANT ref = Make(VT_BYREF | VT_ARRAY | VT_I4);  // references own nothing
    ref.byref = &held;
    EXPECT_EQ(VariantClear(&ref), S_OK);

    BSTR text = SysAllocString(u"kept");
    VARIANT bref = Make(VT_BYREF | VT_BSTR);
    bref.byref = &text;
    EXPECT_EQ(VariantClear(&bref), S_OK);
    EXPECT_EQ(Text(text), u"kept");
    SysFreeString(text);
}

TEST_F(OleAut, CopyIsDeepForTextAndCountsInterfaces) {
    VARIANT src = Str(u"value");
    VARIANT dst = Str(u"old");  // the old value is released
    ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
    EXPECT_EQ(dst.vt, VT_BSTR);
    EXPECT_NE(dst.bstrVal, src.bstrVal);
    EXPECT_EQ(Text(dst.bstrVal), u"value");
    EXPECT_EQ(com::LiveTaskMemBlocks(), m_blocks + 2);
    VariantClear(&dst);
    VariantClear(&src);

    Counted obj;
    VARIANT u = Make(VT_UNKNOWN);
    u.punkVal = &obj;
    VARIANT c;
    VariantInit(&c);
    ASSERT_EQ(VariantCopy(&c, &u), S_OK);
    EXPECT_EQ(obj.refs, 2u);
    VariantClear(&c);
    EXPECT_EQ(obj.refs, 1u);

    VARIANT nullText = Make(VT_BSTR);
    ASSERT_EQ(VariantCopy(&c, &nullText), S_OK);
    EXPECT_EQ(c.vt, VT_BSTR);
    EXPECT_EQ(c.bstrVal, nullptr);
}

TEST_F(OleAut, CopyBadInput) {
    VARIANT dst = Str(u"stays");
    BSTR before = dst.bstrVal;
    VARIANT bad = Make(15);
    EXPECT_EQ(VariantCopy(&dst, &bad), DISP_E_BADVARTYPE);
    EXPECT_EQ(dst.bstrVal, before);
    EXPECT_EQ(VariantCopy(nullptr, &dst), E_POINTER);
    EXPECT_EQ(VariantCopy(&dst, nullptr), E_POINTER);
    EXPECT_EQ(VariantCopy(&dst, &dst), S_OK);  // self-copy: nothing happens
    EXPECT_EQ(dst.bstrVal, before);

    alignas(16) static char fakeArray[32];
    VARIANT a = Make(VT_ARRAY | VT_R8);
    a.parray = reinterpret_cast<SAFEARRAY*>(fakeArray);
    EXPECT_EQ(VariantCopy(&dst, &a), E_NOTIMPL);
    EXPECT_EQ(dst.bstrVal, before);

    VARIANT garbageDest = Make(0x0FFF);  // an uninitialised destination is refused, nothing leaks
    VARIANT src = Str(u"x");
    EXPECT_EQ(VariantCopy(&garbageDest, &src), DISP_E_BADVARTYPE);
    VariantClear(&src);
    VariantClear(&dst);
}

// ---- to text ------------------------------------------------------------------------------------

struct TextCase {
    const char* name;
    VARIANT value;
    std::u16string expected;
};

TEST_F(OleAut, ToTextFollowsTheWindowsForms) {
    const double dmax = std::numeric_limits<double>::max();
    const TextCase cases[] = {
        {"empty", Make(VT_EMPTY), u""},
        {"i1", I1(-5), u"-5"},
        {"i1 min", I1(-128), u"-128"},
        {"i2 min", I2(-32768), u"-32768"},
        {"i4 42", I4(42), u"42"},
        {"i4 min", I4(INT32_MIN), u"-2147483648"},
        {"i8 min", I8(INT64_MIN), u"-9223372036854775808"},
        {"i8 max", I8(INT64_MAX), u"9223372036854775807"},
        {"ui1", UI1(255), u"255"},
        {"ui2", UI2(65535), u"65535"},
        {"ui4", UI4(4294967295u), u"4294967295"},
        {"ui8", UI8(UINT64_MAX), u"18446744073709551615"},
        {"int", Int(-7), u"-7"},
        {"uint", UInt(7), u"7"},
        {"r8 0.1", R8(0.1), u"0.1"},
        {"r8 1e-5", R8(1e-5), u"1E-05"},
        {"r8 1e20", R8(1e20), u"1E+20"},
        {"r8 1.5", R8(1.5), u"1.5"},
        {"r8 100", R8(100.0), u"100"},
        {"r8 0", R8(0.0), u"0"},
        {"r8 -0", R8(-0.0), u"0"},
        {"r8 -2.5", R8(-2.5), u"-2.5"},
        {"r8 1e-4", R8(1e-4), u"0.0001"},
        {"r8 third", R8(1.0 / 3.0), u"0.333333333333333"},
        {"r8 15 digits", R8(123456789012345.0), u"123456789012345"},
        {"r8 16 digits", R8(1234567890123456.0), u"1.23456789012346E+15"},
        {"r8 1e15", R8(1e15), u"1E+15"},
        {"r8 max", R8(dmax), u"1.79769313486232E+308"},
        {"r8 tiny", R8(4.9406564584124654e-324), u"4.94065645841247E-324"},
        {"r8 inf", R8(HUGE_VAL), u"INF"},
        {"r8 -inf", R8(-HUGE_VAL), u"-INF"},
        {"r8 nan", R8(std::nan("")), u"NAN"},
        {"r4 123456789", R4(123456789.0f), u"1.234568E+08"},
        {"r4 0.1", R4(0.1f), u"0.1"},
        {"r4 1.5", R4(1.5f), u"1.5"},
        {"r4 max", R4(FLT_MAX), u"3.402823E+38"},
        {"cy 12345", Cy(12345), u"1.2345"},
        {"cy -1", Cy(-1), u"-0.0001"},
        {"cy 1", Cy(10000), u"1"},
        {"cy 1.5", Cy(15000), u"1.5"},
        {"cy 0", Cy(0), u"0"},
        {"cy max", Cy(INT64_MAX), u"922337203685477.5807"},
        {"cy min", Cy(INT64_MIN), u"-922337203685477.5808"},
        {"bool true", Bool(VARIANT_TRUE), u"-1"},
        {"bool false", Bool(VARIANT_FALSE), u"0"},
        {"date and time", Date(39868.0 + 47107.0 / 86400.0), u"2/24/2009 1:05:07 PM"},
        {"date only", Date(39868.0), u"2/24/2009"},
        {"time only", Date(0.5), u"12:00:00 PM"},
        {"day zero", Date(0.0), u"12:00:00 AM"},
        {"before 1899-12-30", Date(-1.25), u"12/29/1899 6:00:00 AM"},
        {"morning", Date(39868.0 + 3723.0 / 86400.0), u"2/24/2009 1:02:03 AM"},
        {"first date", Date(-657434.0), u"1/1/100"},
        {"last second", Date(2958465.99999), u"12/31/9999 11:59:59 PM"},
        {"rounds to the second", Date(39868.0 + 47107.6 / 86400.0), u"2/24/2009 1:05:08 PM"},
    };
    for (const auto& c : cases) {
        const Converted r = ToText(c.value);
        EXPECT_EQ(r.hr, S_OK) << c.name;
        EXPECT_EQ(r.text, c.expected) << c.name;
    }
}

TEST_F(OleAut, AlphaBoolGivesWords) {
    EXPECT_EQ(ToText(Bool(VARIANT_TRUE), VARIANT_ALPHABOOL).text, u"True");
    EXPECT_EQ(ToText(Bool(VARIANT_FALSE), VARIANT_ALPHABOOL).text, u"False");
    EXPECT_EQ(ToText(Bool(VARIANT_TRUE), VARIANT_LOCALBOOL).text, u"True");
    EXPECT_EQ(ToText(Bool(1), 0).text, u"1");  // a non-canonical true shows its number, as on Windows
}

TEST_F(OleAut, TypesWithoutATextForm) {
    Counted obj;
    VARIANT unk = Make(VT_UNKNOWN);
    unk.punkVal = &obj;
    VARIANT disp = Make(VT_DISPATCH);
    disp.punkVal = &obj;
    VARIANT arr = Make(VT_ARRAY | VT_I4);
    const TextCase cases[] = {
        {"null", Make(VT_NULL), u""}, {"error", Error(E_FAIL), u""},      {"unknown", unk, u""},
        {"dispatch", disp, u""},      {"decimal", Make(VT_DECIMAL), u""}, {"array", arr, u""},
    };
    for (const auto& c : cases) {
        VARIANT v = c.value;
        VARIANT dst;
        VariantInit(&dst);
        EXPECT_EQ(VariantChangeType(&dst, &v, 0, VT_BSTR), DISP_E_TYPEMISMATCH) << c.name;
        EXPECT_EQ(dst.vt, VT_EMPTY) << c.name;
        EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), DISP_E_TYPEMISMATCH) << c.name;
        EXPECT_EQ(v.vt, c.value.vt) << c.name << ": an in-place failure keeps the value";
    }
    EXPECT_EQ(obj.refs, 1u);
    EXPECT_EQ(ToText(Date(3e6)).hr, E_INVALIDARG);  // past 9999-12-31
    EXPECT_EQ(ToText(Date(std::nan(""))).hr, E_INVALIDARG);
}

TEST_F(OleAut, TextUsesTheUsersDecimalSeparator) {
    com::SetUserDecimalSeparator(u',');
    EXPECT_EQ(com::GetUserDecimalSeparator(), u',');
    EXPECT_EQ(ToText(R8(1.5)).text, u"1,5");
    EXPECT_EQ(ToText(R8(1e-5)).text, u"1E-05");
    EXPECT_EQ(ToText(R8(-1234.25)).text, u"-1234,25");
    EXPECT_EQ(ToText(R4(0.1f)).text, u"0,1");
    EXPECT_EQ(ToText(Cy(12345)).text, u"1,2345");
    EXPECT_EQ(ToText(I4(-1234)).text, u"-1234");
    // Other locales: their own separator, whatever the user's.
    EXPECT_EQ(ToText(R8(1.5), 0, LOCALE_INVARIANT).text, u"1.5");
    EXPECT_EQ(ToText(R8(1.5), 0, 0x0409).text, u"1.5");  // en-US
    EXPECT_EQ(ToText(R8(1.5), 0, 0x0407).text, u"1,5");  // de-DE
    EXPECT_EQ(ToText(R8(1.5), 0, 0x0807).text, u"1.5");  // de-CH
    EXPECT_EQ(ToText(R8(1.5), 0, 0x040C).text, u"1,5");  // fr-FR
    EXPECT_EQ(ToText(R8(1.5), 0, LOCALE_SYSTEM_DEFAULT).text, u"1,5");

    // Reading follows the same separator, with '.' as the group separator.
    HRESULT hr;
    VARIANT v = FromText(u"1,5", VT_R8, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(v.dblVal, 1.5);
    v = FromText(u"1.234,5", VT_R8, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(v.dblVal, 1234.5);
    v = FromText(u"1.5", VT_R8, &hr, LOCALE_INVARIANT);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(v.dblVal, 1.5);
    v = FromText(u"1 234,5", VT_R8, &hr, 0x040C);  // fr-FR groups with spaces
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(v.dblVal, 1234.5);
    v = FromText(u"1.5", VT_R8, &hr, 0x040C);
    EXPECT_EQ(hr, DISP_E_TYPEMISMATCH);

    // Unusable separators are refused; 0 returns to the environment's.
    com::SetUserDecimalSeparator(u'7');
    EXPECT_EQ(com::GetUserDecimalSeparator(), u',');
    com::SetUserDecimalSeparator(u'-');
    EXPECT_EQ(com::GetUserDecimalSeparator(), u',');
    com::SetUserDecimalSeparator(0);
    const OLECHAR env = com::GetUserDecimalSeparator();
    EXPECT_NE(env, 0);
    com::SetUserDecimalSeparator(u',');
    EXPECT_EQ(ToText(R8(1.5), VARIANT_NOUSEROVERRIDE).text, std::u16string(u"1") + env + u"5");
}

TEST_F(OleAut, DefaultSeparatorComesFromTheEnvironment) {
    com::SetUserDecimalSeparator(0);
    // The test environment runs in C/C.UTF-8/POSIX or an English locale: '.'.
    const char* lang = std::getenv("LC_ALL");
    if (!lang || !*lang) lang = std::getenv("LC_NUMERIC");
    if (!lang || !*lang) lang = std::getenv("LANG");
    const std::string l = lang ? lang : "";
    if (!(l.empty() || l == "C" || l == "POSIX" || l.rfind("C.", 0) == 0 || l.rfind("en_", 0) == 0))
        GTEST_SKIP() << "locale " << l;
    EXPECT_EQ(com::GetUserDecimalSeparator(), u'.');
    EXPECT_EQ(ToText(R8(2.25)).text, u"2.25");
    HRESULT hr;
    VARIANT v = FromText(u"1,000.5", VT_R8, &hr);  // ',' groups beside '.', as in en-US
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(v.dblVal, 1000.5);
}

// The environment is read once per process, so this runs in a fresh child process.
TEST(OleAutEnvironment, DefaultSeparatorFollowsLcNumeric) {
    const auto comma = testsupport::CommaLocale();
    if (!comma) GTEST_SKIP() << "no locale with a decimal comma, and none could be built";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            unsetenv("LC_ALL");
            setenv("LC_NUMERIC", comma->c_str(), 1);
            const char* globalBefore = std::setlocale(LC_NUMERIC, nullptr);
            const std::string before = globalBefore ? globalBefore : "";
            int failures = 0;
            if (com::GetUserDecimalSeparator() != u',') failures |= 1;
            if (ToText(R8(1.5)).text != u"1,5") failures |= 2;
            HRESULT hr;
            VARIANT v = FromText(u"1.234,5", VT_R8, &hr);  // the locale's group separator is '.'
            if (hr != S_OK || v.dblVal != 1234.5) failures |= 4;
            if (ToText(R8(1.5), 0, LOCALE_INVARIANT).text != u"1.5") failures |= 8;
            com::SetUserDecimalSeparator(u'.');  // the user's choice overrides the locale
            if (ToText(R8(1.5)).text != u"1.5") failures |= 16;
            if (ToText(R8(1.5), VARIANT_NOUSEROVERRIDE).text != u"1,5") failures |= 32;
            const char* globalAfter = std::setlocale(LC_NUMERIC, nullptr);  // never changed
            if (before != (globalAfter ? globalAfter : "")) failures |= 64;
            std::exit(failures);
        },
        ::testing::ExitedWithCode(0), "");
}

// ---- from text ----------------------------------------------------------------------------------

struct IntCase {
    const char16_t* text;
    VARTYPE vt;
    HRESULT hr;
    long long value;  // read back through the target's field
};

long long ReadInteger(const VARIANT& v) {
    switch (v.vt) {
        case VT_I1:
            return static_cast<signed char>(v.cVal);
        case VT_I2:
            return v.iVal;
        case VT_I4:
            return v.lVal;
        case VT_INT:
            return v.intVal;
        case VT_I8:
            return v.llVal;
        case VT_UI1:
            return v.bVal;
        case VT_UI2:
            return v.uiVal;
        case VT_UI4:
            return v.ulVal;
        case VT_UINT:
            return v.uintVal;
        case VT_UI8:
            return static_cast<long long>(v.ullVal);
        case VT_BOOL:
            return v.boolVal;
        case VT_CY:
            return v.cyVal.int64;
        default:
            ADD_FAILURE() << "vt " << v.vt;
            return 0;
    }
}

TEST_F(OleAut, TextToIntegers) {
    const IntCase cases[] = {
        {u"42", VT_I4, S_OK, 42},
        {u"  42  ", VT_I4, S_OK, 42},
        {u"\t-42\n", VT_I4, S_OK, -42},
        {u"+42", VT_I4, S_OK, 42},
        {u"- 42", VT_I4, S_OK, -42},
        {u"42-", VT_I4, S_OK, -42},
        {u"(42)", VT_I4, S_OK, -42},
        {u"2.5", VT_I4, S_OK, 2},
        {u"3.5", VT_I4, S_OK, 4},
        {u"-2.5", VT_I4, S_OK, -2},
        {u"-3.5", VT_I4, S_OK, -4},
        {u"0.5", VT_I4, S_OK, 0},
        {u"1.5", VT_I4, S_OK, 2},
        {u"2.50000000000000000001", VT_I4, S_OK, 3},
        {u"2.4999999999", VT_I4, S_OK, 2},
        {u".7", VT_I4, S_OK, 1},
        {u"7.", VT_I4, S_OK, 7},
        {u"1e3", VT_I4, S_OK, 1000},
        {u"1.5E+1", VT_I4, S_OK, 15},
        {u"25e-1", VT_I4, S_OK, 2},
        {u"1d2", VT_I4, S_OK, 100},
        {u"1,000", VT_I4, S_OK, 1000},
        {u"1,000,000", VT_I4, S_OK, 1000000},
        {u"1,000.5", VT_I4, S_OK, 1000},
        {u"0000000000000000000000000042", VT_I4, S_OK, 42},
        {u"&HFF", VT_I4, S_OK, 255},
        {u"&hff", VT_I4, S_OK, 255},
        // Hexadecimal and octal give the target's bits when they fit its width.
        {u"&HFFFF", VT_I4, S_OK, 65535},
        {u"&HFFFF", VT_I2, S_OK, -1},
        {u"&HFFFF", VT_UI2, S_OK, 65535},
        {u"&HFF", VT_I1, S_OK, -1},
        {u"&HFF", VT_UI1, S_OK, 255},
        {u"&H100", VT_UI1, DISP_E_OVERFLOW, 0},
        {u"&HFFFFFFFF", VT_I4, S_OK, -1},
        {u"&H10000", VT_I4, S_OK, 65536},
        {u"&H10000", VT_I2, DISP_E_OVERFLOW, 0},
        {u"&H100000000", VT_I4, DISP_E_OVERFLOW, 0},
        {u"-&H10", VT_I4, S_OK, -16},
        {u"-&H10", VT_UI4, DISP_E_OVERFLOW, 0},
        {u" &h1f ", VT_UI2, S_OK, 31},
        {u"&O17", VT_I4, S_OK, 15},
        {u"&O177777", VT_I2, S_OK, -1},
        {u"&HFFFFFFFFFFFFFFFF", VT_I8, S_OK, -1},
        {u"&HFFFFFFFFFFFFFFFF", VT_UI8, S_OK, -1 /* all ones */},
        {u"&H1FFFFFFFFFFFFFFFF", VT_I8, DISP_E_OVERFLOW, 0},
        {u"&HFFFFFFFF", VT_CY, S_OK, -10000},
        {u"&H1", VT_BOOL, S_OK, VARIANT_TRUE},
        {u"&H0", VT_BOOL, S_OK, VARIANT_FALSE},
        {u"&H", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"&O8", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"2147483647", VT_I4, S_OK, INT32_MAX},
        {u"2147483648", VT_I4, DISP_E_OVERFLOW, 0},
        {u"-2147483648", VT_I4, S_OK, INT32_MIN},
        {u"-2147483649", VT_I4, DISP_E_OVERFLOW, 0},
        {u"2147483646.5", VT_I4, S_OK, 2147483646},
        {u"2147483647.5", VT_I4, DISP_E_OVERFLOW, 0},
        {u"1e10", VT_I4, DISP_E_OVERFLOW, 0},
        {u"1e400", VT_I4, DISP_E_OVERFLOW, 0},
        {u"1e-400", VT_I4, S_OK, 0},
        {u"12", VT_INT, S_OK, 12},
        {u"12", VT_UINT, S_OK, 12},
        {u"-128", VT_I1, S_OK, -128},
        {u"128", VT_I1, DISP_E_OVERFLOW, 0},
        {u"255", VT_UI1, S_OK, 255},
        {u"256", VT_UI1, DISP_E_OVERFLOW, 0},
        {u"-1", VT_UI1, DISP_E_OVERFLOW, 0},
        {u"-0.4", VT_UI1, S_OK, 0},
        {u"-0.5", VT_UI1, S_OK, 0},
        {u"-0.6", VT_UI1, DISP_E_OVERFLOW, 0},
        {u"-32768", VT_I2, S_OK, -32768},
        {u"32768", VT_I2, DISP_E_OVERFLOW, 0},
        {u"65535", VT_UI2, S_OK, 65535},
        {u"4294967295", VT_UI4, S_OK, 4294967295LL},
        {u"4294967296", VT_UI4, DISP_E_OVERFLOW, 0},
        {u"-9223372036854775808", VT_I8, S_OK, INT64_MIN},
        {u"9223372036854775808", VT_I8, DISP_E_OVERFLOW, 0},
        {u"18446744073709551615", VT_UI8, S_OK, -1 /* all ones */},
        {u"18446744073709551616", VT_UI8, DISP_E_OVERFLOW, 0},
        {u"99999999999999999999999", VT_UI8, DISP_E_OVERFLOW, 0},
        {u"abc", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"   ", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"-", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u".", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"1e", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"1e+", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"1.2.3", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"12abc", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"1 2", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u",5", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"1,", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"--1", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"-1-", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"(-1)", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"(1", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"1.2345", VT_CY, S_OK, 12345},
        {u"1.23455", VT_CY, S_OK, 12346},
        {u"1.23445", VT_CY, S_OK, 12344},
        {u"-0.0001", VT_CY, S_OK, -1},
        {u"922337203685477.5807", VT_CY, S_OK, INT64_MAX},
        {u"-922337203685477.5808", VT_CY, S_OK, INT64_MIN},
        {u"922337203685477.5808", VT_CY, DISP_E_OVERFLOW, 0},
        {u"x", VT_CY, DISP_E_TYPEMISMATCH, 0},
        {u"True", VT_BOOL, S_OK, VARIANT_TRUE},
        {u"  false ", VT_BOOL, S_OK, VARIANT_FALSE},
        {u"TRUE", VT_BOOL, S_OK, VARIANT_TRUE},
        {u"#TRUE#", VT_BOOL, S_OK, VARIANT_TRUE},
        {u"#False#", VT_BOOL, S_OK, VARIANT_FALSE},
        {u"-1", VT_BOOL, S_OK, VARIANT_TRUE},
        {u"0", VT_BOOL, S_OK, VARIANT_FALSE},
        {u"2", VT_BOOL, S_OK, VARIANT_TRUE},
        {u"0.0", VT_BOOL, S_OK, VARIANT_FALSE},
        {u"0.001", VT_BOOL, S_OK, VARIANT_TRUE},
        {u"yes", VT_BOOL, DISP_E_TYPEMISMATCH, 0},
        {u"", VT_BOOL, DISP_E_TYPEMISMATCH, 0},
        {u"1e400", VT_BOOL, DISP_E_OVERFLOW, 0},
    };
    for (const auto& c : cases) {
        HRESULT hr;
        VARIANT v = FromText(c.text, c.vt, &hr);
        EXPECT_EQ(hr, c.hr) << std::string(com::Utf16ToUtf8(c.text)) << " as vt " << c.vt;
        if (SUCCEEDED(hr) && hr == c.hr) {
            EXPECT_EQ(v.vt, c.vt);
            EXPECT_EQ(ReadInteger(v), c.value) << std::string(com::Utf16ToUtf8(c.text)) << " as vt " << c.vt;
        }
    }
}

TEST_F(OleAut, TextToReals) {
    struct Case {
        const char16_t* text;
        VARTYPE vt;
        HRESULT hr;
        double value;
    };
    const Case cases[] = {
        {u"0.1", VT_R8, S_OK, 0.1},
        {u"1.5", VT_R8, S_OK, 1.5},
        {u"-2.5e-3", VT_R8, S_OK, -2.5e-3},
        {u"1E+20", VT_R8, S_OK, 1e20},
        {u"1.79769313486231570e308", VT_R8, S_OK, std::numeric_limits<double>::max()},
        {u"1.8e308", VT_R8, DISP_E_OVERFLOW, 0},
        {u"1e400", VT_R8, DISP_E_OVERFLOW, 0},
        {u"-1e400", VT_R8, DISP_E_OVERFLOW, 0},
        {u"1e-400", VT_R8, S_OK, 0.0},
        {u"4.9406564584124654e-324", VT_R8, S_OK, 4.9406564584124654e-324},
        {u"123456789012345678901234567890", VT_R8, S_OK, 1.2345678901234568e29},
        {u"0.30000000000000004", VT_R8, S_OK, 0.30000000000000004},
        {u"1,234.5", VT_R8, S_OK, 1234.5},
        {u"&HFFFF", VT_R8, S_OK, 65535.0},
        {u"&HFFFFFFFF", VT_R8, S_OK, -1.0},
        {u"&H80000000", VT_R8, S_OK, -2147483648.0},
        {u"&H100000000", VT_R8, DISP_E_OVERFLOW, 0},
        {u"&O10", VT_R4, S_OK, 8.0},
        {u"abc", VT_R8, DISP_E_TYPEMISMATCH, 0},
        {u"1.5x", VT_R8, DISP_E_TYPEMISMATCH, 0},
        {u"nan", VT_R8, DISP_E_TYPEMISMATCH, 0},
        {u"inf", VT_R8, DISP_E_TYPEMISMATCH, 0},
        {u"3.5", VT_R4, S_OK, 3.5},
        {u"0.1", VT_R4, S_OK, static_cast<double>(0.1f)},
        {u"1e39", VT_R4, DISP_E_OVERFLOW, 0},
        {u"-1e39", VT_R4, DISP_E_OVERFLOW, 0},
    };
    for (const auto& c : cases) {
        HRESULT hr;
        VARIANT v = FromText(c.text, c.vt, &hr);
        EXPECT_EQ(hr, c.hr) << std::string(com::Utf16ToUtf8(c.text));
        if (SUCCEEDED(hr) && hr == c.hr) {
            ASSERT_EQ(v.vt, c.vt);
            const double got = c.vt == VT_R4 ? static_cast<double>(v.fltVal) : v.dblVal;
            EXPECT_EQ(got, c.value) << std::string(com::Utf16ToUtf8(c.text));
        }
    }
}

TEST_F(OleAut, TextToDates) {
    const double feb24 = 39868.0;  // 2009-02-24
    const double t130507 = 47107.0 / 86400.0;
    struct Case {
        const char16_t* text;
        HRESULT hr;
        double value;
    };
    const Case cases[] = {
        {u"2/24/2009 1:05:07 PM", S_OK, feb24 + t130507},
        {u"2/24/2009 13:05:07", S_OK, feb24 + t130507},
        {u"2/24/2009", S_OK, feb24},
        {u"2009-02-24", S_OK, feb24},
        {u"2009/02/24", S_OK, feb24},
        // As Windows under en-US: no milliseconds, no ISO "T", and the point separates hour and minute.
        {u"2009/02/24 13:05:07.250", DISP_E_TYPEMISMATCH, 0},
        {u"2009-02-24T13:05:07", DISP_E_TYPEMISMATCH, 0},
        {u"24.02.2009", DISP_E_TYPEMISMATCH, 0},
        {u"1.5", S_OK, 65.0 / 1440.0},
        {u"1.5 ", S_OK, 65.0 / 1440.0},
        {u"0.5", S_OK, 5.0 / 1440.0},
        {u"2.5", S_OK, 125.0 / 1440.0},
        {u"3.5", S_OK, 185.0 / 1440.0},
        {u"2/24/2009 13.05.07", S_OK, feb24 + t130507},
        {u"24/2/2009", S_OK, feb24},
        {u"Feb 24, 2009", S_OK, feb24},
        {u"24 February 2009", S_OK, feb24},
        {u"Tuesday, February 24, 2009 1:05:07 pm", S_OK, feb24 + t130507},
        {u"2/24/09", S_OK, feb24},
        {u"1/1/30", S_OK, 10959.0},  // 1930-01-01
        {u"13:05:07", S_OK, t130507},
        {u"1:05:07 PM", S_OK, t130507},
        {u"12:00 AM", S_OK, 0.0},
        {u"12:30 PM", S_OK, 0.5 + 30.0 / 1440.0},
        {u"12/31/1899", S_OK, 1.0},
        {u"12/29/1899 6:00 AM", S_OK, -1.25},
        {u"1/1/100", S_OK, -657434.0},
        {u"12/31/9999", S_OK, 2958465.0},
        {u"2/29/2008", S_OK, 39507.0},
        {u"2/29/2009", DISP_E_TYPEMISMATCH, 0},
        {u"2/30/2009", DISP_E_TYPEMISMATCH, 0},
        {u"13/13/2009", DISP_E_TYPEMISMATCH, 0},
        {u"1/1/10000", DISP_E_TYPEMISMATCH, 0},
        {u"24:00", DISP_E_TYPEMISMATCH, 0},
        {u"12:60", DISP_E_TYPEMISMATCH, 0},
        {u"2/24/2009 1:2:3:4", DISP_E_TYPEMISMATCH, 0},
        {u"2009", DISP_E_TYPEMISMATCH, 0},
        {u"NOW", DISP_E_TYPEMISMATCH, 0},
        {u"abc", DISP_E_TYPEMISMATCH, 0},
        {u"", DISP_E_TYPEMISMATCH, 0},
        {u"   ", DISP_E_TYPEMISMATCH, 0},
        {u"1/2/3/4", DISP_E_TYPEMISMATCH, 0},
        {u"2/24/2009 PM PM", DISP_E_TYPEMISMATCH, 0},
    };
    for (const auto& c : cases) {
        HRESULT hr;
        VARIANT v = FromText(c.text, VT_DATE, &hr);
        EXPECT_EQ(hr, c.hr) << std::string(com::Utf16ToUtf8(c.text));
        if (SUCCEEDED(hr) && hr == c.hr) {
            ASSERT_EQ(v.vt, VT_DATE);
            EXPECT_NEAR(v.date, c.value, 1e-9) << std::string(com::Utf16ToUtf8(c.text));
        }
    }
}

TEST_F(OleAut, DateTextRoundTrips) {
    for (double d : {39868.0 + 47107.0 / 86400.0, 39868.0, 0.25, -1.75, 1.0, 2958465.5, -657434.0}) {
        const Converted t = ToText(Date(d));
        ASSERT_EQ(t.hr, S_OK) << d;
        HRESULT hr;
        VARIANT back = FromText(t.text, VT_DATE, &hr);
        ASSERT_EQ(hr, S_OK) << com::Utf16ToUtf8(t.text);
        EXPECT_NEAR(back.date, d, 1e-9) << com::Utf16ToUtf8(t.text);
    }
}

TEST_F(OleAut, HundredThousandCharacterTexts) {
    const std::u16string ones(100000, u'1');
    const std::u16string spaces(100000, u' ');
    const std::u16string letters(100000, u'a');
    const std::u16string tinyFraction = u"0." + std::u16string(99997, u'0') + u"1";
    const std::u16string longOne = u"1." + std::u16string(99998, u'0');
    const std::u16string bigExponent = u"1e" + std::u16string(99998, u'9');
    const std::u16string smallExponent = u"1e-" + std::u16string(99997, u'9');
    struct Case {
        const std::u16string* text;
        VARTYPE vt;
        HRESULT hr;
    };
    const Case cases[] = {
        {&ones, VT_I4, DISP_E_OVERFLOW},
        {&ones, VT_UI8, DISP_E_OVERFLOW},
        {&ones, VT_R8, DISP_E_OVERFLOW},
        {&ones, VT_R4, DISP_E_OVERFLOW},
        {&ones, VT_CY, DISP_E_OVERFLOW},
        {&ones, VT_BOOL, DISP_E_OVERFLOW},
        {&ones, VT_DATE, DISP_E_TYPEMISMATCH},
        {&spaces, VT_I4, DISP_E_TYPEMISMATCH},
        {&spaces, VT_R8, DISP_E_TYPEMISMATCH},
        {&spaces, VT_DATE, DISP_E_TYPEMISMATCH},
        {&spaces, VT_BOOL, DISP_E_TYPEMISMATCH},
        {&letters, VT_R8, DISP_E_TYPEMISMATCH},
        {&letters, VT_DATE, DISP_E_TYPEMISMATCH},
        {&tinyFraction, VT_R8, S_OK},
        {&tinyFraction, VT_I4, S_OK},
        {&longOne, VT_I4, S_OK},
        {&longOne, VT_R8, S_OK},
        {&bigExponent, VT_R8, DISP_E_OVERFLOW},
        {&bigExponent, VT_I8, DISP_E_OVERFLOW},
        {&smallExponent, VT_R8, S_OK},
        {&smallExponent, VT_CY, S_OK},
    };
    for (const auto& c : cases) {
        HRESULT hr;
        VARIANT v = FromText(*c.text, c.vt, &hr);
        EXPECT_EQ(hr, c.hr) << "vt " << c.vt << " text starting " << com::Utf16ToUtf8(c.text->substr(0, 8));
        VariantClear(&v);
    }
    HRESULT hr;
    VARIANT one = FromText(longOne, VT_R8, &hr);
    EXPECT_EQ(one.dblVal, 1.0);

    // The text itself converts to text unchanged.
    VARIANT big = Str(letters);
    EXPECT_EQ(ToText(big).text, letters);
    EXPECT_EQ(VariantChangeType(&big, &big, 0, VT_BSTR), S_OK);
    EXPECT_EQ(SysStringLen(big.bstrVal), 100000u);
    VariantClear(&big);
}

TEST_F(OleAut, NullTextIsEmptyText) {
    VARIANT v = Make(VT_BSTR);  // bstrVal null
    HRESULT hr;
    VARIANT r = Convert(v, VT_I4, &hr);
    EXPECT_EQ(hr, DISP_E_TYPEMISMATCH);
    r = Convert(v, VT_BSTR, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(r.bstrVal, nullptr);
}

// ---- between numeric types ----------------------------------------------------------------------

TEST_F(OleAut, NumericCoercions) {
    struct Case {
        const char* name;
        VARIANT src;
        VARTYPE vt;
        HRESULT hr;
        long long value;  // integer targets
    };
    const Case cases[] = {
        {"r8 2.5 -> i4", R8(2.5), VT_I4, S_OK, 2},
        {"r8 3.5 -> i4", R8(3.5), VT_I4, S_OK, 4},
        {"r8 -2.5 -> i4", R8(-2.5), VT_I4, S_OK, -2},
        {"r8 -3.5 -> i4", R8(-3.5), VT_I4, S_OK, -4},
        {"r8 2.500001 -> i4", R8(2.500001), VT_I4, S_OK, 3},
        {"r8 1e10 -> i4", R8(1e10), VT_I4, DISP_E_OVERFLOW, 0},
        {"r8 nan -> i4", R8(std::nan("")), VT_I4, DISP_E_OVERFLOW, 0},
        {"r8 inf -> i4", R8(HUGE_VAL), VT_I4, DISP_E_OVERFLOW, 0},
        {"r8 2147483647.4 -> i4", R8(2147483647.4), VT_I4, S_OK, INT32_MAX},
        {"r8 -2147483648.5 -> i4", R8(-2147483648.5), VT_I4, S_OK, INT32_MIN},
        {"r8 -2147483649.5 -> i4", R8(-2147483649.5), VT_I4, DISP_E_OVERFLOW, 0},
        {"r8 -0.5 -> ui1", R8(-0.5), VT_UI1, S_OK, 0},
        {"r8 -0.6 -> ui1", R8(-0.6), VT_UI1, DISP_E_OVERFLOW, 0},
        {"r8 255.5 -> ui1", R8(255.5), VT_UI1, DISP_E_OVERFLOW, 0},
        {"r8 9.3e18 -> i8", R8(9.3e18), VT_I8, DISP_E_OVERFLOW, 0},
        {"r8 1.8e19 -> ui8", R8(1.8e19), VT_UI8, S_OK, static_cast<long long>(18000000000000000000ULL)},
        {"r4 2.5 -> i2", R4(2.5f), VT_I2, S_OK, 2},
        {"date 1.5 -> i4", Date(1.5), VT_I4, S_OK, 2},
        {"i4 300 -> ui1", I4(300), VT_UI1, DISP_E_OVERFLOW, 0},
        {"i4 -1 -> ui1", I4(-1), VT_UI1, DISP_E_OVERFLOW, 0},
        {"i4 127 -> i1", I4(127), VT_I1, S_OK, 127},
        {"i4 128 -> i1", I4(128), VT_I1, DISP_E_OVERFLOW, 0},
        {"i2 -1 -> ui4", I2(-1), VT_UI4, DISP_E_OVERFLOW, 0},
        {"i8 2^40 -> i4", I8(1LL << 40), VT_I4, DISP_E_OVERFLOW, 0},
        {"ui8 2^63 -> i4", UI8(1ULL << 63), VT_I4, DISP_E_OVERFLOW, 0},
        {"ui4 max -> i8", UI4(0xFFFFFFFFu), VT_I8, S_OK, 0xFFFFFFFFLL},
        {"i4 -1 -> ui8", I4(-1), VT_UI8, DISP_E_OVERFLOW, 0},
        {"i8 -1 -> ui4", I8(-1), VT_UI4, DISP_E_OVERFLOW, 0},
        // Same-size signed/unsigned pairs reinterpret the bits, as Windows' VariantChangeType does.
        {"i4 -1 -> ui4", I4(-1), VT_UI4, S_OK, 0xFFFFFFFFLL},
        {"ui4 max -> i4", UI4(0xFFFFFFFFu), VT_I4, S_OK, -1},
        {"ui1 200 -> i1", UI1(200), VT_I1, S_OK, -56},
        {"i2 -2 -> ui2", I2(-2), VT_UI2, S_OK, 65534},
        {"ui8 max -> i8", UI8(UINT64_MAX), VT_I8, S_OK, -1},
        {"int -1 -> uint", Int(-1), VT_UINT, S_OK, 0xFFFFFFFFLL},
        {"int 5 -> i4", Int(5), VT_I4, S_OK, 5},
        {"i4 5 -> int", I4(5), VT_INT, S_OK, 5},
        {"bool true -> i4", Bool(VARIANT_TRUE), VT_I4, S_OK, -1},
        {"bool true -> ui1", Bool(VARIANT_TRUE), VT_UI1, S_OK, 255},
        {"bool true -> ui2", Bool(VARIANT_TRUE), VT_UI2, S_OK, 65535},
        {"bool true -> ui4", Bool(VARIANT_TRUE), VT_UI4, S_OK, 0xFFFFFFFFLL},
        {"bool false -> i8", Bool(VARIANT_FALSE), VT_I8, S_OK, 0},
        {"bool true -> cy", Bool(VARIANT_TRUE), VT_CY, S_OK, -10000},
        {"i4 5 -> bool", I4(5), VT_BOOL, S_OK, VARIANT_TRUE},
        {"i4 0 -> bool", I4(0), VT_BOOL, S_OK, VARIANT_FALSE},
        {"r8 nan -> bool", R8(std::nan("")), VT_BOOL, S_OK, VARIANT_TRUE},
        {"r8 0.0 -> bool", R8(0.0), VT_BOOL, S_OK, VARIANT_FALSE},
        {"cy 1 -> bool", Cy(1), VT_BOOL, S_OK, VARIANT_TRUE},
        {"cy 2.5 -> i4", Cy(25000), VT_I4, S_OK, 2},
        {"cy 3.5 -> i4", Cy(35000), VT_I4, S_OK, 4},
        {"cy -2.5 -> i4", Cy(-25000), VT_I4, S_OK, -2},
        {"cy -3.5 -> i4", Cy(-35000), VT_I4, S_OK, -4},
        {"cy 2.5001 -> i4", Cy(25001), VT_I4, S_OK, 3},
        {"cy max -> i4", Cy(INT64_MAX), VT_I4, DISP_E_OVERFLOW, 0},
        {"cy -> ui1 negative", Cy(-10000), VT_UI1, DISP_E_OVERFLOW, 0},
        {"r8 1.5 -> cy", R8(1.5), VT_CY, S_OK, 15000},
        {"r8 0.00005 -> cy", R8(0.00005), VT_CY, S_OK, 0},
        {"r8 0.00035 -> cy", R8(0.00035), VT_CY, S_OK, 4},
        {"r8 0.00025 -> cy", R8(0.00025), VT_CY, S_OK, 2},
        {"r8 1e15 -> cy", R8(1e15), VT_CY, DISP_E_OVERFLOW, 0},
        {"i4 -> cy", I4(-7), VT_CY, S_OK, -70000},
        {"i8 big -> cy", I8(922337203685477LL), VT_CY, S_OK, 9223372036854770000LL},
        {"i8 too big -> cy", I8(922337203685478LL), VT_CY, DISP_E_OVERFLOW, 0},
        {"ui8 too big -> cy", UI8(1ULL << 60), VT_CY, DISP_E_OVERFLOW, 0},
        {"empty -> i4", Make(VT_EMPTY), VT_I4, S_OK, 0},
        {"empty -> bool", Make(VT_EMPTY), VT_BOOL, S_OK, VARIANT_FALSE},
        {"empty -> cy", Make(VT_EMPTY), VT_CY, S_OK, 0},
        {"null -> i4", Make(VT_NULL), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {"error -> i4", Error(E_FAIL), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {"decimal -> i4", Make(VT_DECIMAL), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {"i4 -> error", I4(1), VT_ERROR, DISP_E_TYPEMISMATCH, 0},
        {"i4 -> decimal", I4(1), VT_DECIMAL, DISP_E_TYPEMISMATCH, 0},
        {"i4 -> variant", I4(1), VT_VARIANT, DISP_E_TYPEMISMATCH, 0},
        {"i4 -> unknown", I4(1), VT_UNKNOWN, DISP_E_TYPEMISMATCH, 0},
        {"i4 -> byref", I4(1), VT_BYREF | VT_I4, DISP_E_TYPEMISMATCH, 0},
        {"i4 -> array", I4(1), VT_ARRAY | VT_I4, DISP_E_TYPEMISMATCH, 0},
    };
    for (const auto& c : cases) {
        HRESULT hr;
        VARIANT v = Convert(c.src, c.vt, &hr);
        EXPECT_EQ(hr, c.hr) << c.name;
        if (FAILED(hr)) {
            EXPECT_EQ(v.vt, VT_EMPTY) << c.name;
        } else if (hr == c.hr) {
            EXPECT_EQ(v.vt, c.vt) << c.name;
            EXPECT_EQ(ReadInteger(v), c.value) << c.name;
        }
    }
}

TEST_F(OleAut, RealAndDateCoercions) {
    HRESULT hr;
    VARIANT v = Convert(R8(1e300), VT_R4, &hr);
    EXPECT_EQ(hr, DISP_E_OVERFLOW);
    v = Convert(R8(HUGE_VAL), VT_R4, &hr);
    EXPECT_EQ(hr, DISP_E_OVERFLOW);
    v = Convert(R8(std::nan("")), VT_R4, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_TRUE(std::isnan(v.fltVal));
    v = Convert(R8(0.1), VT_R4, &hr);
    EXPECT_EQ(v.fltVal, 0.1f);
    v = Convert(Cy(12345), VT_R8, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_DOUBLE_EQ(v.dblVal, 1.2345);
    v = Convert(Cy(15000), VT_R4, &hr);
    EXPECT_EQ(v.fltVal, 1.5f);
    v = Convert(I8(INT64_MAX), VT_R8, &hr);
    EXPECT_EQ(v.dblVal, 9223372036854775807.0);
    v = Convert(UI8(UINT64_MAX), VT_R4, &hr);
    EXPECT_EQ(hr, S_OK);
    v = Convert(Bool(VARIANT_TRUE), VT_R8, &hr);
    EXPECT_EQ(v.dblVal, -1.0);
    v = Convert(Date(39868.5), VT_R8, &hr);
    EXPECT_EQ(v.dblVal, 39868.5);
    v = Convert(R8(39868.5), VT_DATE, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(v.vt, VT_DATE);
    EXPECT_EQ(v.date, 39868.5);
    v = Convert(R8(-657434.0), VT_DATE, &hr);
    EXPECT_EQ(hr, S_OK);
    v = Convert(R8(-657435.0), VT_DATE, &hr);
    EXPECT_EQ(hr, DISP_E_OVERFLOW);
    v = Convert(R8(2958466.0), VT_DATE, &hr);
    EXPECT_EQ(hr, DISP_E_OVERFLOW);
    v = Convert(I4(INT32_MAX), VT_DATE, &hr);
    EXPECT_EQ(hr, DISP_E_OVERFLOW);
    v = Convert(R8(std::nan("")), VT_DATE, &hr);
    EXPECT_EQ(hr, DISP_E_OVERFLOW);
    v = Convert(Make(VT_EMPTY), VT_DATE, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(v.date, 0.0);
    v = Convert(Make(VT_EMPTY), VT_R8, &hr);
    EXPECT_EQ(v.dblVal, 0.0);
}

TEST_F(OleAut, EmptyAndNullTargets) {
    HRESULT hr;
    VARIANT v = Convert(I4(5), VT_EMPTY, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
    v = Convert(I4(5), VT_NULL, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(v.vt, VT_NULL);
    v = Convert(Make(VT_NULL), VT_EMPTY, &hr);
    EXPECT_EQ(hr, DISP_E_TYPEMISMATCH);
    v = Convert(Make(VT_NULL), VT_NULL, &hr);
    EXPECT_EQ(hr, S_OK);
    v = Convert(Error(E_FAIL), VT_EMPTY, &hr);
    EXPECT_EQ(hr, DISP_E_TYPEMISMATCH);
    v = Convert(Error(E_FAIL), VT_ERROR, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(v.scode, E_FAIL);

    VARIANT s = Str(u"dropped");  // in place to VT_EMPTY frees the text
    EXPECT_EQ(VariantChangeType(&s, &s, 0, VT_EMPTY), S_OK);
    EXPECT_EQ(s.vt, VT_EMPTY);
}

TEST_F(OleAut, InterfaceCoercions) {
    Counted obj;
    VARIANT d = Make(VT_DISPATCH);
    d.punkVal = &obj;
    HRESULT hr;
    VARIANT u = Convert(d, VT_UNKNOWN, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(u.vt, VT_UNKNOWN);
    EXPECT_EQ(u.punkVal, &obj);
    EXPECT_EQ(obj.refs, 2u);
    VariantClear(&u);

    VARIANT unk = Make(VT_UNKNOWN);
    unk.punkVal = &obj;
    VARIANT r = Convert(unk, VT_DISPATCH, &hr);
    EXPECT_EQ(hr, E_NOINTERFACE);
    EXPECT_EQ(r.vt, VT_EMPTY);
    obj.m_extra = &kIID_IDispatch;
    r = Convert(unk, VT_DISPATCH, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(r.vt, VT_DISPATCH);
    VariantClear(&r);
    r = Convert(unk, VT_UNKNOWN, &hr);  // same type: a copy with its own reference
    EXPECT_EQ(obj.refs, 2u);
    VariantClear(&r);
    EXPECT_EQ(obj.refs, 1u);

    VARIANT nullUnk = Make(VT_UNKNOWN);
    r = Convert(nullUnk, VT_DISPATCH, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(r.punkVal, nullptr);
}

TEST_F(OleAut, ByReferenceSourcesAreReadThrough) {
    LONG l = 7;
    VARIANT ref = Make(VT_BYREF | VT_I4);
    ref.byref = &l;
    EXPECT_EQ(ToText(ref).text, u"7");

    BSTR text = SysAllocString(u"2.5");
    VARIANT bref = Make(VT_BYREF | VT_BSTR);
    bref.byref = &text;
    HRESULT hr;
    VARIANT v = Convert(bref, VT_I4, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(v.lVal, 2);
    v = Convert(bref, VT_BSTR, &hr);  // a copy of the referenced text
    EXPECT_EQ(hr, S_OK);
    EXPECT_NE(v.bstrVal, text);
    EXPECT_EQ(Text(v.bstrVal), u"2.5");
    VariantClear(&v);
    // In place: the reference is replaced, the referenced string stays with its owner.
    EXPECT_EQ(VariantChangeType(&bref, &bref, 0, VT_R8), S_OK);
    EXPECT_EQ(bref.dblVal, 2.5);
    EXPECT_EQ(Text(text), u"2.5");
    SysFreeString(text);

    double d = 1.5;
    VARIANT inner = Make(VT_BYREF | VT_R8);
    inner.byref = &d;
    VARIANT vref = Make(VT_BYREF | VT_VARIANT);
    vref.byref = &inner;
    EXPECT_EQ(ToText(vref).text, u"1.5");
    VARIANT vref2 = Make(VT_BYREF | VT_VARIANT);
    vref2.byref = &vref;  // two levels: refused
    EXPECT_EQ(ToText(vref2).hr, E_INVALIDARG);

    VARIANT nullRef = Make(VT_BYREF | VT_I4);
    EXPECT_EQ(ToText(nullRef).hr, DISP_E_TYPEMISMATCH);

    signed char c = -3;
    VARIANT cref = Make(VT_BYREF | VT_I1);
    cref.byref = &c;
    EXPECT_EQ(ToText(cref).text, u"-3");
}

TEST_F(OleAut, InPlaceConversionReplacesAndFrees) {
    VARIANT v = Str(u"2.5");
    EXPECT_EQ(com::LiveTaskMemBlocks(), m_blocks + 1);
    EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 2);
    EXPECT_EQ(com::LiveTaskMemBlocks(), m_blocks);  // the text is gone

    v = R8(0.1);
    EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
    EXPECT_EQ(Text(v.bstrVal), u"0.1");
    EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);  // already text: unchanged
    EXPECT_EQ(Text(v.bstrVal), u"0.1");
    VariantClear(&v);

    // A failed in-place conversion leaves the value as it was.
    v = Str(u"abc");
    BSTR before = v.bstrVal;
    EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_R8), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(v.vt, VT_BSTR);
    EXPECT_EQ(v.bstrVal, before);
    EXPECT_EQ(Text(v.bstrVal), u"abc");
    EXPECT_EQ(VariantChangeType(&v, &v, 0, 15), DISP_E_BADVARTYPE);
    EXPECT_EQ(v.bstrVal, before);
    VariantClear(&v);

    // A separate destination: its old value is released, the source untouched.
    VARIANT src = I4(42);
    VARIANT dst = Str(u"old");
    EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_BSTR), S_OK);
    EXPECT_EQ(Text(dst.bstrVal), u"42");
    EXPECT_EQ(src.vt, VT_I4);
    VariantClear(&dst);

    // A failed conversion into a separate destination keeps the destination's value.
    VARIANT bad = Str(u"xyz");
    dst = Str(u"kept");
    EXPECT_EQ(VariantChangeType(&dst, &bad, 0, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Text(dst.bstrVal), u"kept");
    VariantClear(&dst);
    VariantClear(&bad);

    // An unusable destination: refused, and the converted value is not leaked.
    VARIANT garbage = Make(0x0FFF);
    src = R8(1.5);
    EXPECT_EQ(VariantChangeType(&garbage, &src, 0, VT_BSTR), DISP_E_BADVARTYPE);
}

TEST_F(OleAut, BadArguments) {
    VARIANT v = I4(1);
    VARIANT d;
    VariantInit(&d);
    EXPECT_EQ(VariantChangeType(nullptr, &v, 0, VT_BSTR), E_POINTER);
    EXPECT_EQ(VariantChangeType(&d, nullptr, 0, VT_BSTR), E_POINTER);
    EXPECT_EQ(VariantChangeTypeEx(nullptr, nullptr, LOCALE_USER_DEFAULT, 0, VT_BSTR), E_POINTER);
    const VARTYPE badTargets[] = {15, 24, 36, 64, 0x1000 | VT_I4, 0x0FFF, VT_BYREF | VT_EMPTY, 0xFFFF};
    for (VARTYPE vt : badTargets) EXPECT_EQ(VariantChangeType(&d, &v, 0, vt), DISP_E_BADVARTYPE) << vt;
    for (VARTYPE vt : badTargets) {
        VARIANT bad = Make(vt);
        EXPECT_EQ(VariantChangeType(&d, &bad, 0, VT_BSTR), DISP_E_BADVARTYPE) << vt;
        EXPECT_EQ(VariantChangeType(&bad, &bad, 0, VT_I4), DISP_E_BADVARTYPE) << vt;
        EXPECT_EQ(bad.vt, vt);
    }
    EXPECT_EQ(d.vt, VT_EMPTY);
}

// The output pane's road for many rows: copy, convert in place, read, clear; nothing stays behind.
TEST_F(OleAut, ManyRowsLeaveNothingBehind) {
    std::size_t chars = 0;
    for (int i = 0; i < 100000; ++i) {
        const Converted r = ToText(R8(i * 0.37 - 1000.0));
        ASSERT_EQ(r.hr, S_OK);
        chars += r.text.size();
    }
    EXPECT_GT(chars, 100000u);
}

}  // namespace
