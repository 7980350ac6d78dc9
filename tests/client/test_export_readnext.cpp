// The CSV of a result set, appending pages to a result set, Read Next against a scripted server
// that pages, and item list files.
#include <algorithm>

#include "client/csvexport.h"
#include "client/itemlist.h"
#include "client/readnext.h"
#include "com/oleauto.h"
#include "tests/client/client_fixture.h"
#include "tests/tools/model_history.h"

namespace clienttest {
namespace {

using hdatest::TaskArray;
constexpr ULONGLONG kS = 10000000ULL;

// A record of (time, quality, value) rows; a value of VT_BSTR when text is given.
struct Row {
    ULONGLONG t;
    DWORD q;
    double v;
    const char16_t* text = nullptr;
};
OPCHDA_ITEM Record(std::initializer_list<Row> rows, DWORD claimed = ~0u) {
    OPCHDA_ITEM r{};
    const DWORD n = static_cast<DWORD>(rows.size());
    r.dwCount = claimed == ~0u ? n : claimed;
    r.pftTimeStamps = TaskArray<FILETIME>(n);
    r.pdwQualities = TaskArray<DWORD>(n);
    r.pvDataValues = TaskArray<VARIANT>(n);
    DWORD i = 0;
    for (const Row& row : rows) {
        r.pftTimeStamps[i] = U64ToFileTime(row.t);
        r.pdwQualities[i] = row.q;
        if (row.text) {
            r.pvDataValues[i].vt = VT_BSTR;
            r.pvDataValues[i].bstrVal = SysAllocString(row.text);
        } else if (row.q != OPCHDA_NOBOUND) {
            r.pvDataValues[i].vt = VT_R8;
            r.pvDataValues[i].dblVal = row.v;
        }
        ++i;
    }
    return r;
}

client::ResultSet Set(std::initializer_list<OPCHDA_ITEM> records, std::initializer_list<HRESULT> codes) {
    OPCHDA_ITEM* values = TaskArray<OPCHDA_ITEM>(records.size());
    std::copy(records.begin(), records.end(), values);
    return client::ResultSet(values, TaskArray<HRESULT>(codes), static_cast<DWORD>(records.size()));
}

std::string Csv(const client::ResultSet& rs, std::vector<std::u16string> ids, client::TimeBasis basis,
                std::size_t part) {
    client::CResultSetCsv csv(rs.Values(), rs.Errors(), rs.Count(), std::move(ids), basis);
    std::string out;
    while (csv.Next(out, part)) {
    }
    EXPECT_EQ(csv.RowsWritten(), csv.TotalRows());
    return out;
}

using ExportTest = ClientTest;

TEST_F(ExportTest, AResultSetIsWrittenInTheCommandLineLayoutWhateverThePartSize) {
    const ULONGLONG t0 = Ticks(2009, 2, 24, 10, 0, 0);
    const DWORD raw = OPC_QUALITY_GOOD | OPCHDA_RAW;
    // The second record claims three values but holds two; the third is an empty answer.
    client::ResultSet rs = Set({Record({{t0, raw, 1.5}, {t0 + kS + 2500000, 0x40, 0, u"a, \"b\""}}),
                                Record({{t0, OPCHDA_NOBOUND, 0}, {t0 + 60 * kS, raw, -2}}, 3), Record({})},
                               {S_OK, OPC_S_MOREDATA, OPC_S_NODATA});
    // The empty answer still has its row, with its result.
    const std::string expected =
        "item,timestamp (UTC),value,quality,quality text,code,code text\r\n"
        "Plant.A,2009-02-24T10:00:00.000Z,1.5,0x000400C0,\"Good, Non-specific : Raw\",0x00000000,OK\r\n"
        "Plant.A,2009-02-24T10:00:01.250Z,\"a, \"\"b\"\"\",0x00000040,\"Uncertain, "
        "Non-Specific\",0x00000000,OK\r\n"
        "\"Plant,B\",2009-02-24T10:00:00.000Z,,0x00100000,\"Bad, Non-Specific : No Bound\",0x40041003,"
        "More Data Exists\r\n"
        "\"Plant,B\",2009-02-24T10:01:00.000Z,-2,0x000400C0,\"Good, Non-specific : Raw\",0x40041003,"
        "More Data Exists\r\n"
        "Plant.C,,,,,0x40041002,No Data\r\n";
    for (std::size_t part : {1u, 2u, 1000u}) {
        SCOPED_TRACE(part);
        EXPECT_EQ(Csv(rs, {u"Plant.A", u"Plant,B", u"Plant.C"}, client::TimeBasis::Utc, part), expected);
    }
    // The offset in force now names the column and is written with every time (UTC+1 in the
    // fixture); a set without results leaves their cells empty.
    const std::string local = Csv(rs, {u"Plant.A", u"Plant,B"}, client::TimeBasis::LocalCurrentBias, 10);
    EXPECT_EQ(local.substr(0, local.find('\n') + 1),
              "item,\"timestamp (local, UTC+01:00 now)\",value,quality,quality text,code,code text\r\n");
    EXPECT_NE(local.find("Plant.A,2009-02-24T11:00:00.000+01:00,1.5"), std::string::npos);
    client::CResultSetCsv bare(rs.Values(), nullptr, 1, {u"A"}, client::TimeBasis::Utc);
    std::string out;
    bare.Next(out, 1);
    EXPECT_EQ(out.substr(out.find('\n') + 1),
              "A,2009-02-24T10:00:00.000Z,1.5,0x000400C0,\"Good, Non-specific : Raw\",,\r\n");
}

TEST_F(ExportTest, AppendingAPageKeepsWhatWasThereAndReleasesWhatItReplaces) {
    const ULONGLONG t0 = Ticks(2009, 2, 24, 10, 0, 0);
    const DWORD raw = OPC_QUALITY_GOOD | OPCHDA_RAW;
    client::ResultSet rs = Set({Record({{t0, raw, 1}, {t0 + kS, raw, 2, u"two"}}), Record({{t0, raw, 9}})},
                               {OPC_S_MOREDATA, S_OK});
    OPCHDA_ITEM page = Record({{t0 + kS, raw, 2, u"two"}, {t0 + 2 * kS, raw, 3}, {t0 + 3 * kS, raw, 4}});
    ASSERT_TRUE(rs.Append(0, page, 1, S_OK));
    client::ReleaseItemValues(TaskArray<OPCHDA_ITEM>({page}), 1);
    EXPECT_EQ(Csv(rs, {u"A", u"B"}, client::TimeBasis::Utc, 100),
              "item,timestamp (UTC),value,quality,quality text,code,code text\r\n"
              "A,2009-02-24T10:00:00.000Z,1,0x000400C0,\"Good, Non-specific : Raw\",0x00000000,OK\r\n"
              "A,2009-02-24T10:00:01.000Z,two,0x000400C0,\"Good, Non-specific : Raw\",0x00000000,OK\r\n"
              "A,2009-02-24T10:00:02.000Z,3,0x000400C0,\"Good, Non-specific : Raw\",0x00000000,OK\r\n"
              "A,2009-02-24T10:00:03.000Z,4,0x000400C0,\"Good, Non-specific : Raw\",0x00000000,OK\r\n"
              "B,2009-02-24T10:00:00.000Z,9,0x000400C0,\"Good, Non-specific : Raw\",0x00000000,OK\r\n");
    EXPECT_EQ(rs.Errors()[0], S_OK);
    EXPECT_FALSE(rs.Append(2, OPCHDA_ITEM{}, 0, S_OK));  // no such record

    // Two records sharing their arrays: the other keeps them (the fixture counts the blocks).
    OPCHDA_ITEM shared = Record({{t0, raw, 5}});
    client::ResultSet twins = Set({shared, shared}, {S_OK, S_OK});
    ASSERT_TRUE(twins.Append(1, OPCHDA_ITEM{}, 0, OPC_S_NODATA));
    EXPECT_EQ(twins.Values()[0].pvDataValues[0].dblVal, 5);
    EXPECT_EQ(twins.Values()[1].dwCount, 1u);
    EXPECT_NE(twins.Values()[1].pvDataValues, twins.Values()[0].pvDataValues);

    com::FailTaskMemAlloc(1);  // the new arrays cannot be had: nothing changes
    EXPECT_FALSE(rs.Append(1, OPCHDA_ITEM{}, 0, E_FAIL));
    com::ResetTaskMemFailure();
    EXPECT_EQ(rs.Errors()[1], S_OK);
}

// ---- Read Next against a server that pages ----

std::optional<ULONGLONG> TimeOf(const OPCHDA_TIME* t) {
    if (!t || (t->bString && (!t->szTime || !*t->szTime))) return std::nullopt;
    return FileTimeToU64(t->ftTime);
}

std::vector<tooltest::Sample> Rows(const OPCHDA_ITEM& r) {
    std::vector<tooltest::Sample> out;
    const client::RecordView v = client::ViewOf(r);
    for (DWORD i = 0; i < v.count; ++i)
        out.push_back({FileTimeToU64(v.t[i]), v.v[i].vt == VT_R8 ? v.v[i].dblVal : -1, v.q[i]});
    return out;
}

TEST_F(ExportTest, ReadNextJoinsThePagesOfEveryItemToOneUnlimitedRead) {
    const ULONGLONG t0 = Ticks(2009, 2, 24, 10, 0, 0);
    // Runs of equal timestamps, one longer than a page; item B has a history of its own.
    std::map<OPCHANDLE, std::vector<tooltest::Sample>> history;
    const int runs[][2] = {{0, 1}, {1, 3}, {2, 1}, {4, 2}, {5, 5}, {6, 1}, {8, 2}, {9, 1}, {11, 3}, {12, 1}};
    double v = 0.5;
    for (const auto& r : runs)
        for (int i = 0; i < r[1]; ++i) history[hA].push_back({t0 + ULONGLONG(r[0]) * kS, v += 1.25});
    for (int i = 0; i < 7; ++i) history[hB].push_back({t0 + ULONGLONG(2 * i) * kS, 100.0 + i});
    Hooks().ReadRaw = [&](OPCHDA_TIME* s, OPCHDA_TIME* e, DWORD n, BOOL b, DWORD items, OPCHANDLE* h,
                          OPCHDA_ITEM** ppv, HRESULT** ppe) -> HRESULT {
        OPCHDA_ITEM* out = TaskArray<OPCHDA_ITEM>(items);
        HRESULT* codes = TaskArray<HRESULT>(items);
        for (DWORD i = 0; i < items; ++i) {
            const tooltest::ModelPage p =
                tooltest::ModelReadRaw(history[h[i]], TimeOf(s), TimeOf(e), n, b != FALSE);
            const DWORD c = static_cast<DWORD>(p.values.size());
            out[i].dwCount = c;
            out[i].pftTimeStamps = TaskArray<FILETIME>(c);
            out[i].pdwQualities = TaskArray<DWORD>(c);
            out[i].pvDataValues = TaskArray<VARIANT>(c);
            for (DWORD k = 0; k < c; ++k) {
                out[i].pftTimeStamps[k] = U64ToFileTime(p.values[k].t);
                out[i].pdwQualities[k] = p.values[k].q;
                if (p.values[k].q != OPCHDA_NOBOUND) {
                    out[i].pvDataValues[k].vt = VT_R8;
                    out[i].pvDataValues[k].dblVal = p.values[k].v;
                }
            }
            codes[i] = p.code;
        }
        *ppv = out;
        *ppe = codes;
        return S_OK;
    };
    struct Case {
        const char* name;
        std::optional<int> start, end;  // seconds from t0
        DWORD page;
        bool bounds;
    } cases[] = {
        {"forward", 0, 13, 3, false},
        {"forward, page of two, bounds", -3, 20, 2, true},
        {"start and count only", 2, std::nullopt, 2, false},
        {"backward, bounds", 12, 1, 2, true},
        {"end and count only", std::nullopt, 9, 3, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        auto moment = [&](std::optional<int> s) {
            return client::TimeArg{
                u"", s.has_value(),
                s ? std::optional<FILETIME>(U64ToFileTime(t0 + ULONGLONG(int64_t(*s)) * kS)) : std::nullopt};
        };
        const OPCHANDLE handles[2] = {hA, hB};
        client::ReadOutcome one = client::ReadRaw(syncRead.Get(), moment(k.start), moment(k.end),
                                                  k.start && k.end ? 0 : 100000, k.bounds, handles);
        ASSERT_TRUE(one.HasResults());
        client::PagedReadArgs args;
        args.startInUse = k.start.has_value();
        args.endInUse = k.end.has_value();
        args.maxValues = k.page;
        args.bounds = k.bounds;
        args.handles = {hA, hB};
        client::ReadOutcome paged =
            client::ReadRaw(syncRead.Get(), moment(k.start), moment(k.end), k.page, k.bounds, handles);
        ASSERT_TRUE(paged.HasResults());
        // The moments travel as the records the first call was given.
        client::CReadNext next(args, paged);
        EXPECT_TRUE(next.HasMore());
        int rounds = 0;
        while (next.HasMore() && rounds < 100) {
            EXPECT_EQ(next.Next(syncRead.Get(), paged.results), std::nullopt);
            ++rounds;
        }
        EXPECT_GT(rounds, 2);
        for (DWORD i = 0; i < 2; ++i) {
            EXPECT_EQ(Rows(paged.results.Values()[i]), Rows(one.results.Values()[i])) << i;
            EXPECT_EQ(paged.results.Errors()[i], one.results.Errors()[i]) << i;
        }
    }
}

TEST_F(ExportTest, ReadNextAfterAFailedCallAsksAgainFromTheSamePoint) {
    const ULONGLONG t0 = Ticks(2009, 2, 24, 10, 0, 0);
    bool fail = false;
    Hooks().ReadRaw = [&](OPCHDA_TIME* s, OPCHDA_TIME*, DWORD n, BOOL, DWORD items, OPCHANDLE*,
                          OPCHDA_ITEM** ppv, HRESULT** ppe) -> HRESULT {
        if (fail) return E_FAIL;
        const ULONGLONG from = *TimeOf(s);
        OPCHDA_ITEM* out = TaskArray<OPCHDA_ITEM>(items);
        for (DWORD i = 0; i < items; ++i) out[i] = hdatest::MakeItem(0, n, from, double((from - t0) / kS));
        *ppv = out;
        HRESULT* codes = TaskArray<HRESULT>(items);
        for (DWORD i = 0; i < items; ++i) codes[i] = from - t0 < 6 * kS ? OPC_S_MOREDATA : S_OK;
        *ppe = codes;
        return S_OK;
    };
    const OPCHANDLE h[1] = {hA};
    client::PagedReadArgs args;
    args.startInUse = true;
    args.endInUse = false;
    args.maxValues = 3;
    args.handles = {hA};
    const client::TimeArg start{u"", true, U64ToFileTime(t0)};
    client::ReadOutcome r = client::ReadRaw(syncRead.Get(), start, {u"", false}, 3, false, h);
    client::CReadNext next(args, r);
    EXPECT_EQ(next.ContinueFrom(0).dwLowDateTime, U64ToFileTime(t0 + 2 * kS).dwLowDateTime);
    fail = true;
    const auto message = next.Next(syncRead.Get(), r.results);
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(message->text, u"ReadRaw Failed, Function returned: 0x80004005");
    EXPECT_TRUE(next.HasMore());
    fail = false;
    while (next.HasMore()) EXPECT_EQ(next.Next(syncRead.Get(), r.results), std::nullopt);
    // 0, 1, 2 | 2, 3, 4 | 4, 5, 6 | 6, 7, 8 (S_OK): every second once.
    std::vector<double> values;
    for (const auto& s : Rows(r.results.Values()[0])) values.push_back(s.v);
    EXPECT_EQ(values, (std::vector<double>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(r.results.Errors()[0], S_OK);
}

// ---- Item list files ----

TEST(ItemListFile, WritesOneIdALineAndReadsItBack) {
    const std::vector<std::u16string> ids = {u"Plant.A", u"Kessel.Temperatur \u00b0C", u" spaced "};
    const auto text = client::FormatItemList(ids, nullptr);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text,
              "Plant.A\nKessel.Temperatur \xC2\xB0"
              "C\n spaced \n");
    EXPECT_EQ(client::ParseItemList(*text).ids, ids);

    std::u16string bad;
    EXPECT_FALSE(client::FormatItemList({u"ok", u"two\nlines"}, &bad));
    EXPECT_EQ(bad, u"two\nlines");

    struct Case {
        const char* text;
        std::vector<std::u16string> ids;
        std::size_t badLine;
    } cases[] = {
        {"\xEF\xBB\xBF"
         "A\r\n\r\nB",
         {u"A", u"B"},
         0},
        {"", {}, 0},
        {"A\nB\xFF\nC\n", {}, 2},
    };
    for (const Case& k : cases) {
        const client::ItemListFile f = client::ParseItemList(k.text);
        EXPECT_EQ(f.ids, k.ids) << k.text;
        EXPECT_EQ(f.badLine, k.badLine) << k.text;
    }
}

}  // namespace
}  // namespace clienttest
