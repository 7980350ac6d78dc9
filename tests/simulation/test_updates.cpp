// Updates through the COM interface: per-entry codes, conversions, ReadModified, persistence and
// atomicity when the process is killed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <map>
#include <random>

#include "com/objbase.h"
#include "com/timeapi.h"
#include "tests/simulation/sim_client.h"

namespace simtest {
namespace {

Ticks Sec(int s) {
    return kFiveAm + static_cast<Ticks>(s) * kSecond;
}

// The stored (time, value) pairs of an item.
std::map<Ticks, double> Stored(Client& c, OPCHANDLE h) {
    Reply r = c.ReadRaw(Time::At(0), Time::At(kFiveAm * 2), 0, false, {h});
    std::map<Ticks, double> m;
    if (r.items.size() == 1)
        for (std::size_t k = 0; k < r.items[0].t.size(); ++k) m[r.items[0].t[k]] = r.items[0].v[k].num;
    return m;
}

class Updates : public ::testing::Test {
protected:
    void SetUp() override {
        client = std::make_unique<Client>(dir.File("h.db"));
        h = client->Handle(u"Writable.Real8");
    }
    void TearDown() override { com::ResetClock(); }

    TempDir dir;
    std::unique_ptr<Client> client;
    OPCHANDLE h = 0;
};

TEST_F(Updates, EntryCodesFollowTheStandard) {
    using Op = Client::Op;
    struct Step {
        const char* name;
        Op op;
        std::vector<std::pair<int, const char16_t*>> values;
        std::vector<HRESULT> codes;
    };
    const Step steps[] = {
        {"insert new", Op::Insert, {{1, u"1"}, {2, u"2"}}, {S_OK, S_OK}},
        {"insert over a value", Op::Insert, {{1, u"9"}, {3, u"3"}}, {OPC_E_DATAEXISTS, S_OK}},
        {"replace", Op::Replace, {{1, u"11"}, {4, u"4"}}, {S_OK, OPC_E_NODATAEXISTS}},
        {"insert or replace", Op::InsertReplace, {{1, u"21"}, {5, u"5"}}, {OPC_S_REPLACED, OPC_S_INSERTED}},
        // Entries run in order: the second sees the first.
        {"insert twice", Op::Insert, {{7, u"7"}, {7, u"8"}}, {S_OK, OPC_E_DATAEXISTS}},
        {"insert-replace twice", Op::InsertReplace, {{8, u"1"}, {8, u"2"}}, {OPC_S_INSERTED, OPC_S_REPLACED}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        std::vector<In> in;
        for (auto [sec, text] : s.values) in.push_back(Text(Sec(sec), text));
        HRESULT hr = E_FAIL;
        EXPECT_EQ(client->Write(s.op, h, std::move(in), &hr), s.codes);
        bool allOk = std::all_of(s.codes.begin(), s.codes.end(), [](HRESULT c) { return c == S_OK; });
        EXPECT_EQ(hr, allOk ? S_OK : S_FALSE);
    }
    HRESULT hr = E_FAIL;
    EXPECT_EQ(client->DeleteAtTime({h, h}, {Sec(2), Sec(6)}, &hr),
              (std::vector<HRESULT>{S_OK, OPC_S_NODATA}));
    EXPECT_EQ(hr, S_FALSE);
    const std::map<Ticks, double> expected = {
        {Sec(1), 21}, {Sec(3), 3}, {Sec(5), 5}, {Sec(7), 7}, {Sec(8), 2}};
    EXPECT_EQ(Stored(*client, h), expected);
}

TEST_F(Updates, DeleteRawDeletesItsDomain) {
    std::vector<In> in;
    for (int s = 0; s < 10; ++s) in.push_back(Real(Sec(s), s));
    ASSERT_EQ(client->Write(Client::Op::Insert, h, std::move(in)).size(), 10u);
    OPCHANDLE sine = client->Handle(u"Generated.Waves.Sine");
    HRESULT hr = E_FAIL;
    EXPECT_EQ(client->DeleteRaw(Time::At(Sec(2)), Time::At(Sec(5)), {h, sine, 0xBAD}, &hr),
              (std::vector<HRESULT>{S_OK, OPC_E_BADRIGHTS, OPC_E_INVALIDHANDLE}));
    EXPECT_EQ(client->DeleteRaw(Time::At(Sec(2)), Time::At(Sec(5)), {h}), std::vector<HRESULT>{OPC_S_NODATA});
    // End before start deletes (end, start].
    EXPECT_EQ(client->DeleteRaw(Time::At(Sec(9)), Time::At(Sec(7)), {h}), std::vector<HRESULT>{S_OK});
    std::map<Ticks, double> expected = {{Sec(0), 0}, {Sec(1), 1}, {Sec(5), 5}, {Sec(6), 6}, {Sec(7), 7}};
    EXPECT_EQ(Stored(*client, h), expected);
    // Both times are needed; relative ones resolve against the runtime's clock.
    client->DeleteRaw(Time::None(), Time::At(Sec(7)), {h}, &hr);
    EXPECT_EQ(hr, E_INVALIDARG);
    com::SetFixedNow(Sec(6) + kSecond / 2);
    EXPECT_EQ(client->DeleteRaw(Time::Rel(u"SECOND-1S"), Time::Rel(u"NOW"), {h}), std::vector<HRESULT>{S_OK});
    expected.erase(Sec(5));
    expected.erase(Sec(6));
    EXPECT_EQ(Stored(*client, h), expected);
}

TEST_F(Updates, TextValuesConvertToEachItemsType) {
    struct Conv {
        const char16_t* item;
        const char16_t* text;
        VARTYPE vt;
        double value;
    };
    const Conv good[] = {
        {u"Writable.Int1", u"-5", VT_I1, -5},
        {u"Writable.Int2", u"300", VT_I2, 300},
        {u"Writable.Int4", u"-70000", VT_I4, -70000},
        {u"Writable.UInt1", u"200", VT_UI1, 200},
        {u"Writable.UInt2", u"60000", VT_UI2, 60000},
        {u"Writable.UInt4", u"4000000000", VT_UI4, 4e9},
        {u"Writable.Real4", u"1.5", VT_R4, 1.5},
        {u"Writable.Real8", u"2.25", VT_R8, 2.25},
        {u"Writable.Currency", u"12.3456", VT_CY, 12.3456},
        {u"Writable.Boolean", u"-1", VT_BOOL, VARIANT_TRUE},
        {u"Writable.Text", u"hello", VT_BSTR, 0},
    };
    for (const Conv& c : good) {
        SCOPED_TRACE(std::string(c.item, c.item + std::char_traits<char16_t>::length(c.item)));
        OPCHANDLE item = client->Handle(c.item);
        ASSERT_EQ(client->Write(Client::Op::Insert, item, {Text(Sec(1), c.text)}),
                  std::vector<HRESULT>{S_OK});
        Reply r = client->ReadRaw(Time::At(Sec(1)), Time::At(Sec(1)), 0, false, {item});
        ASSERT_EQ(r.items[0].v.size(), 1u);
        EXPECT_EQ(r.items[0].v[0].vt, c.vt);
        if (c.vt == VT_BSTR)
            EXPECT_EQ(r.items[0].v[0].text, c.text);
        else
            EXPECT_NEAR(r.items[0].v[0].num, c.value, 1e-9);
    }
    // A number for a date item.
    OPCHANDLE date = client->Handle(u"Writable.Date");
    ASSERT_EQ(client->Write(Client::Op::Insert, date, {Real(Sec(1), 45366.5)}), std::vector<HRESULT>{S_OK});
    Reply r = client->ReadRaw(Time::At(Sec(1)), Time::At(Sec(1)), 0, false, {date});
    EXPECT_EQ(r.items[0].v[0].vt, VT_DATE);
    EXPECT_EQ(r.items[0].v[0].num, 45366.5);
}

TEST_F(Updates, EntriesThatCannotBeStoredFailAloneAndTheRestIsWritten) {
    OPCHANDLE i1 = client->Handle(u"Writable.Int1"), u1 = client->Handle(u"Writable.UInt1");
    OPCHANDLE sine = client->Handle(u"Generated.Waves.Sine");
    In empty{Sec(6), {}, OPC_QUALITY_GOOD};
    VariantInit(&empty.v);
    std::vector<In> in;
    in.push_back(Text(Sec(1), u"300"));               // Int1: out of range
    in.push_back(Text(Sec(2), u"abc"));               // Real8: not a number
    in.push_back(Text(Sec(3), u"-1"));                // UInt1: negative
    in.push_back(Text(Sec(4), u"7"));                 // Real8: fine
    in.push_back(Real(Sec(5), NAN));                  // Real8: cannot be stored
    in.push_back(std::move(empty));                   // Real8: no value at all
    in.push_back(Text(Sec(7), u"1"));                 // generated
    in.push_back(Text(0x8000000000000000ULL, u"1"));  // no calendar date
    in.push_back(Text(Sec(9), u"9", 0x00FF0044));     // HDA flags from a client are dropped
    HRESULT hr = E_FAIL;
    auto codes = client->Write(Client::Op::Insert, {i1, h, u1, h, h, h, sine, h, h}, std::move(in), &hr);
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(codes, (std::vector<HRESULT>{OPC_E_BADTYPE, OPC_E_BADTYPE, OPC_E_BADTYPE, S_OK, E_INVALIDARG,
                                           OPC_E_BADTYPE, OPC_E_BADRIGHTS, E_INVALIDARG, S_OK}));
    EXPECT_EQ(Stored(*client, h), (std::map<Ticks, double>{{Sec(4), 7}, {Sec(9), 9}}));
    Reply r = client->ReadRaw(Time::At(Sec(9)), Time::At(Sec(9)), 0, false, {h});
    EXPECT_EQ(r.items[0].q[0], OPCHDA_RAW | OPC_QUALITY_LAST_USABLE);
}

TEST_F(Updates, TooManyEntriesInOneCallAreRefusedWhole) {
    Client small(dir.File("small.db"), {{"VISTREL_SIM_MAX_CALL_VALUES", "1000"}});
    OPCHANDLE item = small.Handle(u"Writable.Real8");
    std::vector<In> in;
    for (int k = 0; k < 1001; ++k) in.push_back(Real(Sec(k), k));
    HRESULT hr = S_OK;
    EXPECT_TRUE(small.Write(Client::Op::Insert, item, std::move(in), &hr).empty());
    EXPECT_EQ(hr, OPC_E_MAXEXCEEDED);
    EXPECT_TRUE(Stored(small, item).empty());
}

TEST_F(Updates, ReadModifiedReturnsSupersededValuesNewestFirst) {
    IOPCCommon* common = nullptr;
    ASSERT_EQ(client->server()->QueryInterface(IID_IOPCCommon, reinterpret_cast<void**>(&common)), S_OK);
    EXPECT_EQ(common->SetClientName(u"tester"), S_OK);
    common->Release();
    const Ticks m0 = Sec(1000);
    com::SetFixedNow(m0);
    client->Write(Client::Op::Insert, h, {Real(Sec(1), 1), Real(Sec(2), 5)});
    com::SetFixedNow(m0 + 1);
    client->Write(Client::Op::Replace, h, {Real(Sec(1), 2)});
    com::SetFixedNow(m0 + 2);
    client->Write(Client::Op::InsertReplace, h, {Real(Sec(1), 3)});
    com::SetFixedNow(m0 + 3);
    client->DeleteAtTime({h}, {Sec(1)});
    com::SetFixedNow(m0 + 4);
    client->DeleteRaw(Time::At(Sec(0)), Time::At(Sec(10)), {h});

    auto mods = client->ReadModified(Time::At(Sec(0)), Time::At(Sec(10)), 0, {h});
    ASSERT_EQ(mods.size(), 1u);
    const ModifiedReply& m = mods[0];
    EXPECT_EQ(m.code, S_OK);
    EXPECT_EQ(m.t, (std::vector<Ticks>{Sec(1), Sec(1), Sec(1), Sec(2)}));
    ASSERT_EQ(m.v.size(), 4u);
    EXPECT_EQ(m.v[0].num, 3);
    EXPECT_EQ(m.v[1].num, 2);
    EXPECT_EQ(m.v[2].num, 1);
    EXPECT_EQ(m.v[3].num, 5);
    EXPECT_EQ(m.edit, (std::vector<OPCHDA_EDITTYPE>{OPCHDA_DELETE, OPCHDA_INSERTREPLACE, OPCHDA_REPLACE,
                                                    OPCHDA_DELETE}));
    EXPECT_EQ(m.modTime, (std::vector<Ticks>{m0 + 3, m0 + 2, m0 + 1, m0 + 4}));
    EXPECT_EQ(m.user, std::vector<std::u16string>(4, u"tester"));

    HRESULT hr = S_OK;
    auto page = client->ReadModified(Time::At(Sec(10)), Time::At(Sec(0)), 2,
                                     {h, client->Handle(u"Generated.Waves.Sine")}, &hr);
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(page[0].code, OPC_S_MOREDATA);
    EXPECT_EQ(page[0].t, (std::vector<Ticks>{Sec(2), Sec(1)}));
    EXPECT_EQ(page[1].code, OPC_S_NODATA);  // generated history is never modified
}

TEST_F(Updates, HistorySurvivesAReopen) {
    ASSERT_EQ(client->Write(Client::Op::Insert, h, {Real(Sec(1), 1.5), Real(Sec(2), 2.5)}).size(), 2u);
    client->Write(Client::Op::Replace, h, {Real(Sec(2), 3.5)});
    client.reset();
    Client again(dir.File("h.db"));
    OPCHANDLE h2 = again.Handle(u"Writable.Real8");
    EXPECT_EQ(Stored(again, h2), (std::map<Ticks, double>{{Sec(1), 1.5}, {Sec(2), 3.5}}));
    auto mods = again.ReadModified(Time::At(Sec(0)), Time::At(Sec(10)), 0, {h2});
    ASSERT_EQ(mods[0].v.size(), 1u);
    EXPECT_EQ(mods[0].v[0].num, 2.5);
}

// A child process inserts calls of kPerCall values, each call's values carrying the call's number,
// and reports each finished call through a pipe; it is killed at a random moment.
constexpr int kPerCall = 40;

[[noreturn]] void InsertForever(const std::string& db, int report) {
    setenv("VISTREL_SIM_DB", db.c_str(), 1);
    IOPCHDA_Server* server = nullptr;
    IOPCHDA_SyncUpdate* update = nullptr;
    if (FAILED(CoCreateInstance(RegisteredClass(), nullptr, CLSCTX_INPROC_SERVER, IID_IOPCHDA_Server,
                                reinterpret_cast<void**>(&server))) ||
        FAILED(server->QueryInterface(IID_IOPCHDA_SyncUpdate, reinterpret_cast<void**>(&update))))
        _exit(2);
    LPWSTR id[] = {const_cast<LPWSTR>(u"Writable.Real8")};
    OPCHANDLE client = 1, *handles = nullptr;
    HRESULT* errors = nullptr;
    if (server->GetItemHandles(1, id, &client, &handles, &errors) != S_OK) _exit(3);
    std::vector<OPCHANDLE> h(kPerCall, handles[0]);
    for (int call = 0;; ++call) {
        std::vector<FILETIME> ft;
        std::vector<VARIANT> v(kPerCall);
        std::vector<DWORD> q(kPerCall, OPC_QUALITY_GOOD);
        for (int k = 0; k < kPerCall; ++k) {
            ft.push_back(U64ToFileTime(Sec(call * kPerCall + k)));
            v[k].vt = VT_R8;
            v[k].dblVal = call;
        }
        HRESULT* codes = nullptr;
        if (update->Insert(kPerCall, h.data(), ft.data(), v.data(), q.data(), &codes) != S_OK) _exit(4);
        CoTaskMemFree(codes);
        if (write(report, &call, sizeof call) != sizeof call) _exit(5);
    }
}

TEST(Atomicity, KilledDuringInsertsEveryCallIsWholeOrAbsent) {
    TempDir dir;
    RegisteredClass();  // registered before forking
    std::mt19937 rng(3);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::string db = dir.File("kill" + std::to_string(round) + ".db");
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(fds[0]);
            InsertForever(db, fds[1]);
        }
        close(fds[1]);
        int done = -1, call = 0;
        const int target = 5 + static_cast<int>(rng() % 20);
        while (done < target && read(fds[0], &call, sizeof call) == sizeof call) done = call;
        usleep(rng() % 3000);
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        close(fds[0]);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped by itself: " << WEXITSTATUS(status);
        ASSERT_GE(done, target);

        Client c(db, {{"VISTREL_SIM_MAX_VALUES", "1000000"}});
        std::map<int, int> perCall;
        for (auto [t, v] : Stored(c, c.Handle(u"Writable.Real8"))) {
            EXPECT_EQ(static_cast<int>((t - kFiveAm) / kSecond) / kPerCall, static_cast<int>(v));
            ++perCall[static_cast<int>(v)];
        }
        // Every reported call is there, each call complete, and the calls form an unbroken run.
        ASSERT_GE(static_cast<int>(perCall.size()), done + 1);
        int expectCall = 0;
        for (auto [callNo, count] : perCall) {
            EXPECT_EQ(callNo, expectCall++);
            EXPECT_EQ(count, kPerCall) << "call " << callNo << " is torn";
        }
    }
}

}  // namespace
}  // namespace simtest
