// The four text forms: every row of each table, the fallbacks and the documented examples.
#include <gtest/gtest.h>

#include <cstring>

#include "client/textforms.h"
#include "client/timetext.h"
#include "com/objbase.h"
#include "com/oleauto.h"
#include "com/text.h"
#include "com/timeapi.h"
#include "hda/opchda.h"

namespace {

std::u16string Q(const char* s) {
    return com::Utf8ToUtf16(s);
}

VARIANT MakeVt(VARTYPE vt, ULONGLONG bits = 0) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    v.ullVal = bits;
    return v;
}

VARIANT MakeI4(LONG value) {
    VARIANT v = MakeVt(VT_I4);
    v.lVal = value;
    return v;
}

VARIANT MakeBstr(const std::u16string& s) {
    VARIANT v = MakeVt(VT_BSTR);
    v.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return v;
}

// A UTC FILETIME from calendar fields (proleptic Gregorian), independent of the runtime.
FILETIME MakeFileTime(int year, int month, int day, int hour, int minute, int second, int ms, int ticks = 0) {
    const int y = year - (month <= 2 ? 1 : 0);
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long daysSince1601 = era * 146097 + doe - 719468 + 134774;
    return U64ToFileTime(static_cast<ULONGLONG>(daysSince1601) * 864000000000ULL +
                         static_cast<ULONGLONG>(((hour * 60LL + minute) * 60 + second) * 1000 + ms) *
                             10000ULL +
                         static_cast<ULONGLONG>(ticks));
}

std::u16string FormatQuality(DWORD q) {
    return std::u16string(client::FormatQuality(q));
}

// ---- Result codes ----

struct CodeText {
    DWORD code;
    const char* text;
};

constexpr CodeText kCodeTable[] = {
    {0x00000000, "OK"},
    {0x0004000D, "Unsupported Rate"},
    {0x0004000E, "Clamp"},
    {0x0004000F, "In Use"},
    {0x40041002, "No Data"},
    {0x40041003, "More Data Exists"},
    {0x40041005, "Current Value"},
    {0x40041006, "Extra Data"},
    {0x4004100E, "Inserted"},
    {0x4004100F, "Replaced"},
    {0x80004005, "Failed"},
    {0x80041007, "No Filter"},
    {0xC0040001, "Invalid Handle"},
    {0xC0040004, "Bad Type"},
    {0xC0040005, "Public"},
    {0xC0040006, "Bad Rights"},
    {0xC0040007, "Unknown Item ID"},
    {0xC0040008, "Invalid Item ID"},
    {0xC0040009, "Invalid Filter"},
    {0xC004000A, "Unknown Path"},
    {0xC004000B, "Range"},
    {0xC004000C, "Duplicate Name"},
    {0xC0040010, "Invalid Config File"},
    {0xC0040011, "Not Found"},
    {0xC0040203, "Invalid PID"},
    {0xC0041001, "Max Exceeded"},
    {0xC0041004, "Invalid Aggregate"},
    {0xC0041008, "Unknown Attribute ID"},
    {0xC0041009, "Not Available"},
    {0xC004100A, "Invalid Data Type"},
    {0xC004100B, "Data Exists"},
    {0xC004100C, "Invalid Attribute ID"},
};

TEST(FormatResultCode, EveryCodeOfTheTableHasItsName) {
    for (const CodeText& row : kCodeTable)
        EXPECT_EQ(client::FormatResultCode(static_cast<HRESULT>(row.code)), Q(row.text))
            << std::hex << row.code;
}

TEST(FormatResultCode, AnyOtherCodeGivesItsHexadecimalWithoutLeadingZeros) {
    const std::pair<DWORD, const char*> rows[] = {
        {0xC004100D, "Unknown Error code : 0xC004100D"},  // OPC_E_NODATAEXISTS has no entry
        {0x00000001, "Unknown Error code : 0x1"},         // S_FALSE: success codes too
        {0x00040000, "Unknown Error code : 0x40000"},    {0x80004001, "Unknown Error code : 0x80004001"},
        {0x80000000, "Unknown Error code : 0x80000000"}, {0xFFFFFFFF, "Unknown Error code : 0xFFFFFFFF"},
        {0x0000ABCD, "Unknown Error code : 0xABCD"},
    };
    for (const auto& [code, text] : rows)
        EXPECT_EQ(client::FormatResultCode(static_cast<HRESULT>(code)), Q(text)) << std::hex << code;
}

// ---- Qualities ----

struct QualityName {
    DWORD status;
    const char* text;
};

constexpr QualityName kQualityTable[] = {
    {0x00, "Bad, Non-Specific"},
    {0x04, "Bad, Configuration Error"},
    {0x08, "Bad, Not Connected"},
    {0x0C, "Bad, Device Failure"},
    {0x10, "Bad, Sensor Failure"},
    {0x14, "Bad, Last Known Value"},
    {0x18, "Bad, Communication Failure"},
    {0x1C, "Bad, Out of Service"},
    {0x40, "Uncertain, Non-Specific"},
    {0x44, "Uncertain, Last Usable Value"},
    {0x50, "Uncertain, Sensor Not Accurate"},
    {0x54, "Uncertain, EU Exceeded"},
    {0x58, "Uncertain, Sub-Normal"},
    {0xC0, "Good, Non-specific"},
    {0xD8, "Good, Local Override"},
};

constexpr const char* kLimitSuffix[] = {"", " (Low Limited)", " (High Limited)", " (Constant)"};

constexpr std::pair<DWORD, const char*> kHdaFlags[] = {
    {0x00010000, " : Extra Data"},
    {0x00020000, " : Interpolated Value"},
    {0x00040000, " : Raw"},
    {0x00080000, " : Calculated"},
    {0x00100000, " : No Bound"},
    {0x00200000, " : No Data Collected"},
    {0x00400000, " : Data collection lost"},
    {0x00800000, " : Scaling / Conversion Error"},
};

TEST(FormatQuality, EveryNameWithEveryLimit) {
    for (const QualityName& row : kQualityTable)
        for (DWORD limit = 0; limit < 4; ++limit)
            EXPECT_EQ(FormatQuality(row.status | limit), Q(row.text) + Q(kLimitSuffix[limit]))
                << std::hex << (row.status | limit);
}

TEST(FormatQuality, EveryOtherStatusIsUnknownQuality) {
    for (DWORD status = 0; status <= 0xFC; status += 4) {
        bool named = false;
        for (const QualityName& row : kQualityTable) named = named || row.status == status;
        if (named) continue;
        EXPECT_EQ(FormatQuality(status), Q("Unknown Quality")) << std::hex << status;
        EXPECT_EQ(FormatQuality(status | 3 | OPCHDA_RAW), Q("Unknown Quality (Constant) : Raw"))
            << std::hex << status;
    }
}

TEST(FormatQuality, EachHdaFlagAloneAddsItsSuffix) {
    for (const auto& [flag, suffix] : kHdaFlags) {
        EXPECT_EQ(FormatQuality(0xC0 | flag), Q("Good, Non-specific") + Q(suffix)) << std::hex << flag;
        EXPECT_EQ(FormatQuality(0x56 | flag), Q("Uncertain, EU Exceeded (High Limited)") + Q(suffix))
            << std::hex << flag;
    }
}

TEST(FormatQuality, AnyOtherHighWordAddsNothing) {
    const DWORD highWords[] = {0x00000000, 0x00060000, 0x00810000, 0x01000000 /* OPCHDA_PARTIAL */,
                               0x02000000, 0x80000000, 0xFFFF0000, 0x00FF0000,
                               0x00030000};
    for (DWORD high : highWords)
        EXPECT_EQ(FormatQuality(high | 0xC1), Q("Good, Non-specific (Low Limited)")) << std::hex << high;
}

TEST(FormatQuality, DocumentedExamples) {
    EXPECT_EQ(FormatQuality(0x000400C0), Q("Good, Non-specific : Raw"));
    EXPECT_EQ(FormatQuality(0x00020041), Q("Uncertain, Non-Specific (Low Limited) : Interpolated Value"));
    EXPECT_EQ(FormatQuality(0x000600C0), Q("Good, Non-specific"));
    EXPECT_EQ(FormatQuality(0), Q("Bad, Non-Specific"));
    EXPECT_EQ(FormatQuality(0xC3), Q("Good, Non-specific (Constant)"));
    EXPECT_EQ(FormatQuality(0x80), Q("Unknown Quality"));
    EXPECT_EQ(FormatQuality(0x00800000), Q("Bad, Non-Specific : Scaling / Conversion Error"));
}

// ---- Values ----

class FormatVariantTest : public ::testing::Test {
protected:
    void SetUp() override { com::SetUserDecimalSeparator(u'.'); }
};

TEST_F(FormatVariantTest, ConvertedTypesUseTheStandardCoercion) {
    struct Row {
        VARIANT v;
        const char* text;
    };
    auto make = [](VARTYPE vt, auto set) {
        VARIANT v = MakeVt(vt);
        set(v);
        return v;
    };
    const Row rows[] = {
        {MakeVt(VT_EMPTY), ""},
        {make(VT_I2, [](VARIANT& v) { v.iVal = -12; }), "-12"},
        {MakeI4(42), "42"},
        {MakeI4(-2147483647 - 1), "-2147483648"},
        {make(VT_R4, [](VARIANT& v) { v.fltVal = 1.5f; }), "1.5"},
        {make(VT_R8, [](VARIANT& v) { v.dblVal = 2.25; }), "2.25"},
        {make(VT_R8, [](VARIANT& v) { v.dblVal = 0.1; }), "0.1"},
        {make(VT_R8, [](VARIANT& v) { v.dblVal = -1234567.125; }), "-1234567.125"},
        {make(VT_CY, [](VARIANT& v) { v.cyVal.int64 = 12345; }), "1.2345"},
        {make(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; }), "-1"},
        {make(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_FALSE; }), "0"},
        {make(VT_I1, [](VARIANT& v) { v.cVal = -7; }), "-7"},
        {make(VT_UI1, [](VARIANT& v) { v.bVal = 200; }), "200"},
        {make(VT_UI2, [](VARIANT& v) { v.uiVal = 65535; }), "65535"},
        {make(VT_UI4, [](VARIANT& v) { v.ulVal = 4294967295u; }), "4294967295"},
    };
    for (const Row& row : rows) EXPECT_EQ(client::FormatVariant(row.v), Q(row.text)) << "vt " << row.v.vt;
}

TEST_F(FormatVariantTest, AStringIsShownAsItIsAndStaysTheCallers) {
    const long before = com::LiveTaskMemBlocks();
    VARIANT v = MakeBstr(u"Tank 1 \u00e9t\u00e9 level");
    const BSTR original = v.bstrVal;
    EXPECT_EQ(client::FormatVariant(v), std::u16string(u"Tank 1 \u00e9t\u00e9 level"));
    EXPECT_EQ(v.vt, VT_BSTR);
    EXPECT_EQ(v.bstrVal, original);
    EXPECT_EQ(std::u16string(v.bstrVal), std::u16string(u"Tank 1 \u00e9t\u00e9 level"));

    VARIANT i4 = MakeI4(7);
    EXPECT_EQ(client::FormatVariant(i4), Q("7"));
    EXPECT_EQ(i4.vt, VT_I4);  // converted on a copy
    EXPECT_EQ(i4.lVal, 7);

    VariantClear(&v);
    EXPECT_EQ(com::LiveTaskMemBlocks(), before);  // nothing of the conversions stays behind

    VARIANT empty = MakeBstr(u"");
    EXPECT_EQ(client::FormatVariant(empty), std::u16string());
    VariantClear(&empty);
    VARIANT null = MakeVt(VT_BSTR);  // a null BSTR is an empty string
    EXPECT_EQ(client::FormatVariant(null), std::u16string());
}

TEST_F(FormatVariantTest, AStringWhoseLengthClaimsMoreThanItsBlockIsCutAtTheBlock) {
    VARIANT v = MakeBstr(u"abc");
    const DWORD claimed = 1000;  // bytes, as a server that lies in the prefix would say
    std::memcpy(reinterpret_cast<char*>(v.bstrVal) - sizeof(DWORD), &claimed, sizeof claimed);
    EXPECT_EQ(client::FormatVariant(v),
              u"abc" + std::u16string(1, u'\0'));  // the block holds the terminator too
    VariantClear(&v);
}

TEST_F(FormatVariantTest, DatesAndErrorsAreAcknowledgedNotShown) {
    VARIANT date = MakeVt(VT_DATE);
    date.date = 39868.5;
    EXPECT_EQ(client::FormatVariant(date), Q("Ack - Date"));
    VARIANT error = MakeVt(VT_ERROR);
    error.scode = E_FAIL;
    EXPECT_EQ(client::FormatVariant(error), Q("Ack - Error value"));
}

TEST_F(FormatVariantTest, EveryOtherTypeIsUnknownAndNoPointerIsFollowed) {
    // Pointers that would crash if anything dereferenced them.
    const ULONGLONG bogus = 0x10;
    const VARTYPE types[] = {VT_NULL,
                             VT_DISPATCH,
                             VT_VARIANT,
                             VT_UNKNOWN,
                             VT_DECIMAL,
                             15,
                             VT_I8,
                             VT_UI8,
                             VT_INT,
                             VT_UINT,
                             VT_VOID,
                             VT_HRESULT,
                             VT_LPSTR,
                             VT_LPWSTR,
                             VT_FILETIME,
                             0x0FFF,
                             VT_ARRAY | VT_I4,
                             VT_ARRAY | VT_BSTR,
                             VT_BYREF | VT_I4,
                             VT_BYREF | VT_BSTR,
                             VT_BYREF | VT_VARIANT,
                             0xFFFF};
    for (VARTYPE vt : types) EXPECT_EQ(client::FormatVariant(MakeVt(vt, bogus)), Q("Unknown")) << "vt " << vt;
}

// ---- Timestamps ----

class FormatTimestampTest : public ::testing::Test {
protected:
    void TearDown() override { com::ResetClock(); }
};

TEST_F(FormatTimestampTest, DocumentedExamplesPadEveryField) {
    com::SetFixedBiasMinutes(0);
    EXPECT_EQ(client::FormatTimestamp(MakeFileTime(2009, 2, 24, 13, 5, 7, 250)),
              Q("2009/02/24 13:05:07.250"));
    EXPECT_EQ(client::FormatTimestamp(MakeFileTime(2009, 1, 5, 3, 4, 5, 6)), Q("2009/01/05 03:04:05.006"));
    EXPECT_EQ(client::FormatTimestamp(MakeFileTime(1601, 1, 1, 0, 0, 0, 0)), Q("1601/01/01 00:00:00.000"));
    EXPECT_EQ(client::FormatTimestamp(MakeFileTime(2024, 2, 29, 23, 59, 59, 999)),
              Q("2024/02/29 23:59:59.999"));
}

TEST_F(FormatTimestampTest, SubMillisecondTicksAreTruncated) {
    com::SetFixedBiasMinutes(0);
    EXPECT_EQ(client::FormatTimestamp(MakeFileTime(2009, 2, 24, 13, 5, 7, 250, 9999)),
              Q("2009/02/24 13:05:07.250"));
}

TEST_F(FormatTimestampTest, TheBiasInForceNowAppliesToEveryInstant) {
    com::SetFixedBiasMinutes(-60);  // UTC+1
    EXPECT_EQ(client::FormatTimestamp(MakeFileTime(2009, 2, 24, 12, 5, 7, 250)),
              Q("2009/02/24 13:05:07.250"));
    com::SetFixedBiasMinutes(300);  // UTC-5, across midnight
    EXPECT_EQ(client::FormatTimestamp(MakeFileTime(2009, 1, 1, 2, 0, 0, 0)), Q("2008/12/31 21:00:00.000"));

    // A zone with summer time, "now" in winter: a summer instant is shown with the winter bias.
    const ULONGLONG summerStart = FileTimeToU64(MakeFileTime(2009, 3, 29, 1, 0, 0, 0));
    const ULONGLONG summerEnd = FileTimeToU64(MakeFileTime(2009, 10, 25, 1, 0, 0, 0));
    com::SetClock(com::Clock{
        [] { return FileTimeToU64(MakeFileTime(2009, 12, 1, 12, 0, 0, 0)); },
        [=](ULONGLONG utc) -> LONG { return utc >= summerStart && utc < summerEnd ? -120 : -60; }});
    EXPECT_EQ(client::FormatTimestamp(MakeFileTime(2009, 7, 1, 10, 0, 0, 0)), Q("2009/07/01 11:00:00.000"));
}

TEST_F(FormatTimestampTest, TheLargestSplittableTimeHasAFiveDigitYear) {
    com::SetFixedBiasMinutes(0);
    EXPECT_EQ(client::FormatTimestamp(U64ToFileTime(0x7FFFFFFFFFFFFFFFULL)), Q("30828/09/14 02:48:05.477"));
}

TEST_F(FormatTimestampTest, ATimeThatCannotBeSplitGivesATextNotAFailure) {
    com::SetFixedBiasMinutes(0);
    EXPECT_EQ(client::FormatTimestamp(U64ToFileTime(0x8000000000000000ULL)),
              Q("Invalid time 0x8000000000000000"));
    EXPECT_EQ(client::FormatTimestamp(U64ToFileTime(0xFFFFFFFFFFFFFFFFULL)),
              Q("Invalid time 0xFFFFFFFFFFFFFFFF"));
    com::SetFixedBiasMinutes(300);  // time zero shifted before 1601
    EXPECT_EQ(client::FormatTimestamp(U64ToFileTime(0)), Q("Invalid time 0x0"));
}

TEST_F(FormatTimestampTest, APageWriterTakesTheBiasOnceAndWritesWhatTheFormatterWrites) {
    com::SetFixedBiasMinutes(-60);
    const client::CTimestampWriter page(client::TimeBasis::LocalCurrentBias);
    com::SetFixedBiasMinutes(300);  // a later change of zone shows from the next page on
    const FILETIME times[] = {MakeFileTime(2009, 2, 24, 12, 5, 7, 250), U64ToFileTime(0x7FFFFFFFFFFFFFFFULL),
                              U64ToFileTime(0), U64ToFileTime(0x8000000000000000ULL)};
    const char16_t* const shown[] = {u"2009/02/24 13:05:07.250", u"Invalid time 0x7FFFFFFFFFFFFFFF",
                                     u"1601/01/01 01:00:00.000", u"Invalid time 0x8000000000000000"};
    char16_t buf[client::kMaxTimestampChars];
    for (std::size_t i = 0; i < std::size(times); ++i)
        EXPECT_EQ(std::u16string(buf, page.Write(times[i], buf)), shown[i]) << i;
    for (auto basis : {client::TimeBasis::LocalCurrentBias, client::TimeBasis::Utc})
        for (const FILETIME& t : times)
            EXPECT_EQ(std::u16string(buf, client::CTimestampWriter(basis).Write(t, buf)),
                      client::FormatTimestamp(t, basis));
}

}  // namespace
