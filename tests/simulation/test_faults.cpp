// A database that is corrupt, read-only, locked or cannot be made: the server still loads, says
// so, serves its generated items, and fails stored reads and updates with a clear code.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "com/objbase.h"
#include "tests/simulation/sim_client.h"

namespace simtest {
namespace {

constexpr HRESULT kLocked = static_cast<HRESULT>(0x80070021);
constexpr HRESULT kCorrupt = static_cast<HRESULT>(0x80070570);

Ticks Sec(int s) {
    return kFiveAm + static_cast<Ticks>(s) * kSecond;
}

std::string Narrow(const std::u16string& s) {
    return std::string(s.begin(), s.end());
}

OPCHDA_SERVERSTATUS StatusOf(Client& c) {
    OPCHDA_SERVERSTATUS status{};
    FILETIME *now = nullptr, *start = nullptr;
    WORD a, b, d;
    DWORD max;
    LPWSTR text = nullptr, vendor = nullptr;
    EXPECT_EQ(c.server()->GetHistorianStatus(&status, &now, &start, &a, &b, &d, &max, &text, &vendor), S_OK);
    CoTaskMemFree(now), CoTaskMemFree(start), CoTaskMemFree(text), CoTaskMemFree(vendor);
    return status;
}

// Generated items read; the stored item's read and an insert fail with `code`.
void ExpectDegraded(Client& c, HRESULT readCode, HRESULT writeCode) {
    OPCHANDLE sine = c.Handle(u"Generated.Waves.Sine"), stored = c.Handle(u"Writable.Real8");
    Reply r = c.ReadRaw(Time::At(Sec(0)), Time::At(Sec(10)), 0, false, {sine, stored});
    ASSERT_EQ(r.items.size(), 2u);
    EXPECT_EQ(r.items[0].code, S_OK);
    EXPECT_EQ(r.items[0].t.size(), 10u);
    EXPECT_EQ(r.items[1].code, readCode);
    HRESULT hr = S_OK;
    EXPECT_EQ(c.Write(Client::Op::Insert, {stored, sine}, {Real(Sec(1), 1), Real(Sec(1), 1)}, &hr),
              (std::vector<HRESULT>{writeCode, OPC_E_BADRIGHTS}));
    EXPECT_EQ(hr, S_FALSE);
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void MakeHistory(const std::string& db) {
    Client c(db);
    ASSERT_EQ(c.Write(Client::Op::Insert, c.Handle(u"Writable.Real8"), {Real(Sec(1), 1), Real(Sec(2), 2)}),
              (std::vector<HRESULT>{S_OK, S_OK}));
}

TEST(Faults, CorruptDatabaseIsLeftAloneAndReported) {
    TempDir dir;
    const std::string db = dir.File("h.db");
    {
        std::ofstream out(db, std::ios::binary);
        for (int k = 0; k < 4096; ++k) out << "not a database ";
    }
    const std::string before = Slurp(db);
    {
        Client c(db);
        EXPECT_NE(Narrow(c.StatusString()).find("corrupt"), std::string::npos) << Narrow(c.StatusString());
        EXPECT_EQ(StatusOf(c), OPCHDA_INDETERMINATE);
        ExpectDegraded(c, kCorrupt, kCorrupt);
    }
    EXPECT_EQ(Slurp(db), before);
}

TEST(Faults, ReadOnlyDatabaseReadsButRefusesUpdates) {
    TempDir dir;
    const std::string db = dir.File("h.db");
    MakeHistory(db);
    Client c("file:" + db + "?mode=ro");
    EXPECT_NE(Narrow(c.StatusString()).find("read-only"), std::string::npos) << Narrow(c.StatusString());
    EXPECT_EQ(StatusOf(c), OPCHDA_UP);
    ExpectDegraded(c, S_OK, E_ACCESSDENIED);
    Reply r = c.ReadRaw(Time::At(Sec(0)), Time::At(Sec(10)), 0, false, {c.Handle(u"Writable.Real8")});
    EXPECT_EQ(r.items[0].t, (std::vector<Ticks>{Sec(1), Sec(2)}));
}

TEST(Faults, ReadOnlyFileReadsButRefusesUpdates) {
    if (geteuid() == 0) GTEST_SKIP() << "file permissions do not bind root";
    TempDir dir;
    const std::string db = dir.File("h.db");
    MakeHistory(db);
    ASSERT_EQ(chmod(db.c_str(), 0444), 0);
    Client c(db);
    EXPECT_NE(Narrow(c.StatusString()).find("read-only"), std::string::npos) << Narrow(c.StatusString());
    ExpectDegraded(c, S_OK, E_ACCESSDENIED);
}

// Another process's connection, holding the database.
class Holder {
public:
    explicit Holder(const std::string& db) { EXPECT_EQ(sqlite3_open(db.c_str(), &m_db), SQLITE_OK); }
    ~Holder() { sqlite3_close(m_db); }
    int Exec(const char* sql) { return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr); }

private:
    sqlite3* m_db = nullptr;
};

TEST(Faults, LockedDatabaseFailsUpdatesUntilItIsFree) {
    TempDir dir;
    const std::string db = dir.File("h.db");
    MakeHistory(db);
    Client c(db, {{"VISTREL_SIM_BUSY_TIMEOUT_MS", "50"}});
    OPCHANDLE stored = c.Handle(u"Writable.Real8");
    {
        Holder other(db);
        ASSERT_EQ(other.Exec("BEGIN IMMEDIATE; DELETE FROM samples;"), SQLITE_OK);
        EXPECT_EQ(c.Write(Client::Op::Insert, stored, {Real(Sec(3), 3)}), std::vector<HRESULT>{kLocked});
        // Readers are not blocked by a writer, and see only what it committed.
        Reply r = c.ReadRaw(Time::At(Sec(0)), Time::At(Sec(10)), 0, false, {stored});
        EXPECT_EQ(r.items[0].t.size(), 2u);
        other.Exec("ROLLBACK");
    }
    EXPECT_EQ(c.Write(Client::Op::Insert, stored, {Real(Sec(3), 3)}), std::vector<HRESULT>{S_OK});
}

TEST(Faults, DatabaseLockedAtStartIsRetried) {
    TempDir dir;
    const std::string db = dir.File("h.db");
    MakeHistory(db);
    auto other = std::make_unique<Holder>(db);
    ASSERT_EQ(other->Exec("PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE;"), SQLITE_OK);
    Client c(db, {{"VISTREL_SIM_BUSY_TIMEOUT_MS", "50"}});
    EXPECT_NE(Narrow(c.StatusString()).find("locked"), std::string::npos) << Narrow(c.StatusString());
    EXPECT_EQ(StatusOf(c), OPCHDA_INDETERMINATE);
    ExpectDegraded(c, kLocked, kLocked);
    other.reset();
    OPCHANDLE stored = c.Handle(u"Writable.Real8");
    Reply r = c.ReadRaw(Time::At(Sec(0)), Time::At(Sec(10)), 0, false, {stored});
    EXPECT_EQ(r.items[0].t, (std::vector<Ticks>{Sec(1), Sec(2)}));
    EXPECT_EQ(StatusOf(c), OPCHDA_UP);
}

TEST(Faults, DatabaseThatCannotBeCreated) {
    TempDir dir;
    { std::ofstream(dir.File("file")) << "x"; }
    Client c(dir.File("file") + "/sub/h.db");  // a folder below a plain file
    EXPECT_NE(Narrow(c.StatusString()).find("cannot"), std::string::npos) << Narrow(c.StatusString());
    ExpectDegraded(c, static_cast<HRESULT>(0x8007006E), static_cast<HRESULT>(0x8007006E));
}

}  // namespace
}  // namespace simtest
