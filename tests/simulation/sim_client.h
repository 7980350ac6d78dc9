// A small HDA client for the tests: it creates the simulation historian through the plugin's
// class factory, calls it only through its COM interfaces, copies every reply into plain values
// and frees what the server allocated.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "hda/opchda.h"

namespace simtest {

using Ticks = std::uint64_t;
constexpr Ticks kSecond = 10'000'000ULL;
constexpr Ticks kMinute = 60 * kSecond;

// 2024-01-01 05:00:00 UTC.
constexpr Ticks kFiveAm = 133485588000000000ULL;

// A directory removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Once per process: registers the plugin with the registration command in a class store of the
// tests' own (VISTREL_CLASS_STORE) and joins COM. Returns the class the ProgID names.
const CLSID& RegisteredClass();
// The class store directory used.
const std::string& ClassStoreDir();
// The plugin's class object, through the runtime.
IClassFactory* Factory();
// A new server object, made as the client makes it: by ProgID with CoCreateInstanceEx, asking for
// IOPCHDA_Server and IOPCHDA_AsyncRead at once. The environment settings (VISTREL_SIM_*) are set
// first; those not given are cleared.
IOPCHDA_Server* CreateServer(const std::map<std::string, std::string>& env);

// A returned value, comparable in tests.
struct Val {
    VARTYPE vt = VT_EMPTY;
    double num = 0;        // numbers, BOOL (-1/0), CY in currency units, DATE
    std::int64_t raw = 0;  // CY's 64 bits
    std::u16string text;
};
Val ValOf(const VARIANT& v);

struct ItemReply {
    HRESULT code = S_OK;
    OPCHANDLE hClient = 0;
    DWORD aggregate = 0;
    std::vector<Ticks> t;
    std::vector<DWORD> q;
    std::vector<Val> v;
    bool nullArrays = true;  // all three arrays were NULL
};

struct Reply {
    HRESULT hr = S_OK;
    bool nullOutputs = true;  // both out arrays were NULL (they must be when hr failed)
    std::vector<ItemReply> items;
    Ticks startOut = 0, endOut = 0;  // ftTime of the in/out records after the call
};

struct ModifiedReply {
    HRESULT code = S_OK;
    std::vector<Ticks> t;
    std::vector<Val> v;
    std::vector<Ticks> modTime;
    std::vector<OPCHDA_EDITTYPE> edit;
    std::vector<std::u16string> user;
};

// An HDA time argument: absolute, relative text, or not given.
struct Time {
    bool text = false;
    std::u16string s;
    Ticks ft = 0;
    static Time At(Ticks t) { return Time{false, {}, t}; }
    static Time Rel(std::u16string s) { return Time{true, std::move(s), 0}; }
    static Time None() { return Time{true, {}, 0}; }
};

// A value to write: text (as the client sends it) or a VARIANT of another type.
struct In {
    Ticks t;
    VARIANT v;
    DWORD quality = OPC_QUALITY_GOOD;
};
In Text(Ticks t, std::u16string s, DWORD quality = OPC_QUALITY_GOOD);
// ASCII text as UTF-16.
std::u16string U16(const std::string& s);
In Real(Ticks t, double x, DWORD quality = OPC_QUALITY_GOOD);

class Client {
public:
    explicit Client(const std::string& db, std::map<std::string, std::string> env = {});
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    IOPCHDA_Server* server() const { return m_server; }
    IOPCHDA_SyncRead* read() const { return m_read; }
    IOPCHDA_SyncUpdate* update() const { return m_update; }

    // The server handle of an item (the test fails when it is refused).
    OPCHANDLE Handle(const std::u16string& id, OPCHANDLE client = 7);

    Reply ReadRaw(const Time& start, const Time& end, DWORD n, bool bounds, const std::vector<OPCHANDLE>& h);
    Reply ReadProcessed(const Time& start, const Time& end, Ticks interval, const std::vector<OPCHANDLE>& h,
                        const std::vector<DWORD>& aggregates);
    Reply ReadAtTime(const std::vector<Ticks>& times, const std::vector<OPCHANDLE>& h);
    std::vector<ModifiedReply> ReadModified(const Time& start, const Time& end, DWORD n,
                                            const std::vector<OPCHANDLE>& h, HRESULT* hr = nullptr);

    enum class Op { Insert, Replace, InsertReplace };
    // One entry per value; hr receives the call's result. The VARIANTs in `values` are cleared.
    std::vector<HRESULT> Write(Op op, const std::vector<OPCHANDLE>& h, std::vector<In> values,
                               HRESULT* hr = nullptr);
    // All values for one item.
    std::vector<HRESULT> Write(Op op, OPCHANDLE h, std::vector<In> values, HRESULT* hr = nullptr);
    std::vector<HRESULT> DeleteAtTime(const std::vector<OPCHANDLE>& h, const std::vector<Ticks>& t,
                                      HRESULT* hr = nullptr);
    std::vector<HRESULT> DeleteRaw(const Time& start, const Time& end, const std::vector<OPCHANDLE>& h,
                                   HRESULT* hr = nullptr);

    std::u16string StatusString();

private:
    IOPCHDA_Server* m_server = nullptr;
    IOPCHDA_SyncRead* m_read = nullptr;
    IOPCHDA_SyncUpdate* m_update = nullptr;
};

}  // namespace simtest
