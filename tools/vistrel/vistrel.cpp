#include "tools/vistrel/vistrel.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <unordered_map>

#include "client/browse.h"
#include "client/browsefilter.h"
#include "client/continuation.h"
#include "client/datagenerator.h"
#include "client/items.h"
#include "client/lists.h"
#include "client/readmodified.h"
#include "client/reads.h"
#include "client/status.h"
#include "client/textforms.h"
#include "client/timetext.h"
#include "client/updates.h"
#include "com/objbase.h"
#include "com/oleauto.h"
#include "com/text.h"
#include "com/timeapi.h"
#include "hda/discovery.h"
#include "hda/hdaserver.h"
#include "hda/messages.h"
#ifdef VISTREL_WITH_REMOTE
#include "remote/remote.h"
#endif
#include "tools/vistrel/args.h"
#include "tools/vistrel/output.h"
#include "tools/vistrel/timeinput.h"
#include "tools/vistrel/trace.h"
#include "tools/vistrel/updaterows.h"

namespace vistrel {

namespace {

// A failure that ends the command: its exit code and its one line.
struct Failure : std::runtime_error {
    Failure(int code, const std::string& what) : std::runtime_error(what), exitCode(code) {}
    int exitCode;
};

std::string U8(std::u16string_view s) {
    return com::Utf16ToUtf8(s);
}
std::u16string U16(std::string_view s) {
    return com::Utf8ToUtf16(s);
}

using client::Hex8;

std::string CodeText(HRESULT hr) {
    return client::ResultCodeText(hr);
}

// The result members of a group.
Fields CodeFields(HRESULT hr) {
    return {{"code", Hex8(static_cast<DWORD>(hr))}, {"code_text", CodeText(hr)}};
}

std::string CodeLine(HRESULT hr) {
    return Hex8(static_cast<DWORD>(hr)) + " " + CodeText(hr);
}

std::string WithCodeText(const std::string& message);

// A name as typed against one the server gives: letter case, blanks, '_' and '-' do not count, so that
// DESCRIPTION, eng_units and TimeAverage find "Description", "Eng Units" and "Time Average".
std::string NameKey(std::string_view s) {
    std::string k;
    for (char c : s)
        if (c != ' ' && c != '_' && c != '-')
            k += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return k;
}

// The connection's window-less owner: the item list it keeps in step is never shown.
class CCliOwner final : public IHDAServerOwner, public IItemListView {
public:
    IItemListView* GetItemListView() override { return this; }
    const void* GetMessageOwner() const override { return nullptr; }
    CHDAServer* GetCurrentServer() override { return m_pCurrent; }
    int GetItemCount() const override { return static_cast<int>(m_rows.size()); }
    void DeleteAllItems() override { m_rows.clear(); }
    void InsertItem(int, const std::u16string& s, int) override { m_rows.push_back(s); }
    void DeleteItem(int i) override {
        if (i >= 0 && i < GetItemCount()) m_rows.erase(m_rows.begin() + i);
    }
    std::u16string GetItemText(int i) const override {
        return i >= 0 && i < GetItemCount() ? m_rows[static_cast<std::size_t>(i)] : std::u16string();
    }
    int GetSelectedCount() const override { return 0; }
    int GetNextSelectedItem(int) const override { return -1; }
    CHDAServer* m_pCurrent = nullptr;

private:
    std::vector<std::u16string> m_rows;
};

// One item of the command: its ID, its server handle, and the code GetItemHandles gave it.
struct Item {
    std::string id;
    OPCHANDLE handle = 0;
    HRESULT code = S_OK;
    bool ok() const { return SUCCEEDED(code); }
};

using client::RecordView;
using client::ViewOf;
constexpr client::CTimestampWriter::Form Display = client::CTimestampWriter::Form::Display;

class CSession {
public:
    CSession(const ParsedArgs& a, Streams io) : m_a(a), m_io(io) {}
    ~CSession() { Close(); }
    int Run();

private:
    // ---- set-up ----
    void ReadCommonOptions();
    void PreCheck();
    void StartCom();
    void Connect();
    void Close();
    std::vector<std::string> ItemIds();
    std::vector<Item> RegisterItems();
    IOPCHDA_SyncRead* SyncRead();
    IOPCHDA_SyncUpdate* SyncUpdate();
    std::istream& OpenInput(const std::string& name, std::ifstream& file);

    // ---- times ----
    struct TimeValue {
        bool given = false;
        std::u16string text;          // the text record (relative times)
        std::optional<FILETIME> utc;  // a moment
    };
    TimeValue Time(const std::string& option);
    FILETIME Moment(const std::string& what, const std::string& text);
    std::vector<FILETIME> Timestamps();
    // A time in the output's form (ISO 8601 in CSV), or in the display form for messages.
    std::string TimeText(FILETIME ft) const { return TimeText(ft, StampForm()); }
    std::string TimeText(FILETIME ft, client::CTimestampWriter::Form form) const;
    static client::TimeArg Arg(const TimeValue& t);

    // ---- output ----
    Fields Header(const char* operation) const;
    std::string TimeColumn(const char* name) const;
    // Files for other programs (CSV) carry ISO 8601 times with their offsets.
    client::CTimestampWriter::Form StampForm() const {
        return m_format == Format::Csv ? client::CTimestampWriter::Form::Iso8601
                                       : client::CTimestampWriter::Form::Display;
    }
    void ValueColumns(std::vector<Column>& cols) const;
    void WriteValues(CWriter& w, const std::string& item, const RecordView& r, std::size_t from);
    void ItemFailed(const std::string& item, HRESULT code);
    void Problem(const std::string& text);

    // ---- subcommands ----
    void Servers();
    void Browse();
    void Attributes();
    void Aggregates();
    void Status();
    void ReadRaw();
    void ReadRawAll(CWriter& w, const std::vector<Item>& items);
    void ReadProcessed();
    void ReadAtTime();
    void ReadAttribute();
    void ReadModified();
    void Update(OPCHDA_EDITTYPE mode);
    void DeleteRaw();
    void DeleteAtTime();

    void CallFailed(const char* what, HRESULT hr, const std::optional<client::Message>& message);

    const ParsedArgs& m_a;
    Streams m_io;
    Format m_format = Format::Csv;
    client::TimeBasis m_basis = client::TimeBasis::LocalCurrentBias;
    std::string m_basisText;
    TraceSink m_trace;
    std::shared_ptr<client::CallTrace> m_callTrace = std::make_shared<client::CallTrace>();
    bool m_bTracing = false;
    std::vector<std::string> m_messages;
    hda::MessageSink m_previousSink;
    bool m_bSinkSet = false;
    bool m_bComInitialized = false;
    bool m_bRemoteInstalled = false;
    std::vector<std::u16string> m_servers;
    CCliOwner m_owner;
    std::unique_ptr<CHDAServer> m_pConn;
    std::string m_progId;
    int m_exit = kExitOk;
};

// ---------------------------------------------------------------------------------------------
// Set-up

void CSession::ReadCommonOptions() {
    if (auto f = m_a.Get("--format")) {
        if (*f == "table")
            m_format = Format::Table;
        else if (*f == "csv")
            m_format = Format::Csv;
        else if (*f == "json")
            m_format = Format::Json;
        else
            throw UsageError("unknown format '" + *f + "' (table, csv or json)");
    } else {
        m_format = m_io.outIsTerminal ? Format::Table : Format::Csv;
    }
    std::string basis = "current";
    if (auto tz = m_a.Get("--tz")) basis = *tz;
    if (m_a.Has("--utc")) {
        if (m_a.Has("--tz") && basis != "utc")
            throw UsageError("--utc and --tz " + basis + " contradict each other");
        basis = "utc";
    }
    const LONG bias = com::CurrentBiasMinutes();
    const LONG offset = -bias;
    char off[32];
    std::snprintf(off, sizeof off, "UTC%c%02ld:%02ld", offset < 0 ? '-' : '+', std::labs(offset) / 60,
                  std::labs(offset) % 60);
    if (basis == "current") {
        m_basis = client::TimeBasis::LocalCurrentBias;
        m_basisText = std::string("local, the offset in force now (") + off + ") for every time";
    } else if (basis == "local") {
        m_basis = client::TimeBasis::LocalAtInstant;
        m_basisText = "local, each time with the offset in force at that instant";
    } else if (basis == "utc") {
        m_basis = client::TimeBasis::Utc;
        m_basisText = "UTC";
    } else {
        throw UsageError("unknown time basis '" + basis + "' (local, current or utc)");
    }
    if (m_a.Has("--trace")) {
        m_bTracing = true;
        m_trace.out = &m_io.err;
        m_trace.codeText = [](HRESULT hr) { return CodeText(hr); };
    }
}

void CSession::StartCom() {
    // Every message of the shared connection code comes here; the command decides what to say.
    m_previousSink = hda::SetMessageSink([this](const hda::MessageRequest& r) {
        m_messages.push_back(U8(r.text));
        return r.buttons == hda::MsgButtons::YesNo || r.buttons == hda::MsgButtons::YesNoCancel
                   ? hda::MsgResult::No
                   : hda::MsgResult::Ok;
    });
    m_bSinkSet = true;
#ifdef VISTREL_WITH_REMOTE
    // Servers on other computers through their hosts; with --isolate this computer's in-process
    // servers run in surrogate processes, so that a crashing server cannot take the command down.
    remote::ClientOptions remoteOptions;
    remoteOptions.isolate = m_a.Has("--isolate");
    remote::InstallRemoteActivator(remoteOptions);
    m_bRemoteInstalled = true;
#else
    if (m_a.Has("--isolate")) throw UsageError("--isolate needs the remote layer, which this build lacks");
#endif
    const auto t0 = std::chrono::steady_clock::now();
    m_bComInitialized = hda::InitComAndDiscoverServers(
        nullptr, [this](const std::u16string& progId) { m_servers.push_back(progId); });
    if (m_bTracing)
        TraceLine(m_trace, "discovery (" + std::to_string(m_servers.size()) + " servers)", S_OK,
                  std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0)
                      .count());
    if (!m_bComInitialized) {
        std::string why = m_messages.empty() ? "COM could not be initialised" : m_messages.front();
        throw Failure(kExitFailure, why);
    }
    for (const auto& m : m_messages) m_io.err << "vistrel: warning: " << m << "\n";
    m_messages.clear();
}

void CSession::Connect() {
    const std::string computer = m_a.Get("--computer").value_or("");
    if (auto s = m_a.Get("--server")) {
        m_progId = *s;
    } else if (!m_servers.empty()) {
        m_progId = U8(m_servers.front());
    } else {
        throw Failure(kExitFailure, "no HDA server is registered on this computer; name one with --server");
    }
    if (m_progId.empty()) throw UsageError("--server needs a ProgID");
    if (computer.size() > kMaxComputerName)
        throw UsageError("computer name longer than " + std::to_string(kMaxComputerName) + " characters");
    const std::u16string progId = U16(m_progId);
    if (computer.empty()) {
        // Said plainly here; the connection would report it only as a failed creation.
        CLSID clsid{};
        const HRESULT hr = CLSIDFromProgID(progId.c_str(), &clsid);
        if (hr != S_OK)
            throw Failure(kExitFailure,
                          "server '" + m_progId +
                              "' is not registered on this computer (CLSIDFromProgID: " + CodeLine(hr) + ")");
    }
    m_pConn = std::make_unique<CHDAServer>(&m_owner);
    m_owner.m_pCurrent = m_pConn.get();
    const auto t0 = std::chrono::steady_clock::now();
    const BOOL ok = m_pConn->Connect(U16(computer), progId);
    if (m_bTracing)
        TraceLine(m_trace, "connect " + (computer.empty() ? m_progId : computer + " " + m_progId),
                  ok ? S_OK : E_FAIL,
                  std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0)
                      .count());
    if (!ok) {
        m_pConn.reset();
        m_owner.m_pCurrent = nullptr;
        std::string why =
            m_messages.empty() ? "connection to '" + m_progId + "' failed" : WithCodeText(m_messages.front());
        m_messages.clear();
        throw Failure(kExitFailure, why);
    }
    // Interfaces the server lacks are reported when a subcommand needs them.
    m_messages.clear();
    if (m_bTracing) {
        // From here on every call passes the tracer; the interfaces Connect obtained are asked again
        // through it when needed.
        m_callTrace->SetRecorder(&m_trace);
        client::TraceConnection(*m_pConn, m_callTrace, false);
    }
}

void CSession::Close() {
    if (m_pConn) {
        m_pConn->RemoveAllItems();
        if (m_pConn->m_pServer) {
            m_pConn->m_pServer->Release();
            m_pConn->m_pServer = nullptr;
        }
        m_pConn.reset();
    }
#ifdef VISTREL_WITH_REMOTE
    if (m_bRemoteInstalled) {
        remote::ShutdownClient();
        m_bRemoteInstalled = false;
    }
#endif
    if (m_bComInitialized) {
        CoUninitialize();
        m_bComInitialized = false;
    }
    if (m_bSinkSet) {
        hda::SetMessageSink(m_previousSink);
        m_bSinkSet = false;
    }
}

std::istream& CSession::OpenInput(const std::string& name, std::ifstream& file) {
    if (name == "-") return m_io.in;
    file.open(name, std::ios::binary);
    if (!file) throw UsageError("cannot read '" + name + "': " + std::strerror(errno));
    return file;
}

std::vector<std::string> CSession::ItemIds() {
    std::vector<std::string> ids = m_a.positional;
    if (auto f = m_a.Get("--items")) {
        std::ifstream file;
        std::istream& in = OpenInput(*f, file);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            std::size_t b = line.find_first_not_of(" \t");
            if (b == std::string::npos || line[b] == '#') continue;
            std::size_t e = line.find_last_not_of(" \t");
            ids.push_back(line.substr(b, e - b + 1));
        }
    }
    return ids;
}

void CSession::ItemFailed(const std::string& item, HRESULT code) {
    m_io.err << "vistrel: item '" << item << "': " << CodeLine(code) << "\n";
    m_exit = std::max<int>(m_exit, kExitItemFailed);
}

void CSession::Problem(const std::string& text) {
    m_io.err << "vistrel: " << text << "\n";
    m_exit = std::max<int>(m_exit, kExitItemFailed);
}

std::vector<Item> CSession::RegisterItems() {
    const std::vector<std::string> ids = ItemIds();
    if (ids.empty()) throw UsageError(std::string(m_a.sub->name) + " needs item IDs (arguments or --items)");
    std::vector<std::u16string> wide;
    for (const auto& id : ids) wide.push_back(U16(id));
    client::HandlesOutcome h = client::GetItemHandles(m_pConn->m_pServer, wide);
    if (h.message) throw Failure(kExitFailure, U8(h.message->text));
    if (FAILED(h.hr)) throw Failure(kExitFailure, "GetItemHandles failed: " + CodeLine(h.hr));
    std::vector<Item> items;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        Item it;
        it.id = ids[i];
        if (i >= h.errors.size() || i >= h.handles.size()) {
            it.code = E_FAIL;
            Problem("the server's answer to GetItemHandles holds no entry for '" + ids[i] + "'");
        } else {
            it.code = h.errors[i];
            it.handle = h.handles[i];
            if (FAILED(it.code)) ItemFailed(it.id, it.code);
        }
        items.push_back(std::move(it));
    }
    return items;
}

IOPCHDA_SyncRead* CSession::SyncRead() {
    if (!m_pConn->EnsureSyncRead() || !m_pConn->m_pSyncRead) {
        std::string why =
            m_messages.empty() ? "the server offers no IOPCHDA_SyncRead" : WithCodeText(m_messages.front());
        throw Failure(kExitFailure, why);
    }
    return m_pConn->m_pSyncRead;
}

IOPCHDA_SyncUpdate* CSession::SyncUpdate() {
    if (!m_pConn->EnsureSyncUpdate() || !m_pConn->m_pSyncUpdate) {
        std::string why =
            m_messages.empty() ? "the server offers no IOPCHDA_SyncUpdate" : WithCodeText(m_messages.front());
        throw Failure(kExitFailure, why);
    }
    return m_pConn->m_pSyncUpdate;
}

void CSession::CallFailed(const char* what, HRESULT hr, const std::optional<client::Message>& message) {
    std::string line = std::string(what) + " failed: " + CodeLine(hr);
    if (message && SUCCEEDED(hr)) line = U8(message->text);
    throw Failure(kExitFailure, line);
}

// Reads what can be read before any server is asked, so that a typing error is a usage error
// whatever the state of the server.
void CSession::PreCheck() {
    for (const char* o : {"--start", "--end"})
        if (m_a.Has(o)) Time(o);
    if (m_a.Has("--from")) Moment("--from", *m_a.Get("--from"));
    for (const auto& t : m_a.All("--at")) Moment("--at", t);
    if (auto m = m_a.Get("--max")) {
        char* e = nullptr;
        errno = 0;
        unsigned long long v = std::strtoull(m->c_str(), &e, 10);
        if (m->empty() || *e || errno || v > 0xFFFFFFFFULL || (*m)[0] == '-')
            throw UsageError("--max: '" + *m + "' is not a count");
    }
    for (const char* o : {"--interval", "--every"})
        if (auto d = m_a.Get(o); d && !ParseDuration(*d))
            throw UsageError(std::string(o) + ": unreadable duration '" + *d + "'");
    if (auto mode = m_a.Get("--mode"); mode && *mode != "level" && *mode != "tree" && *mode != "flat")
        throw UsageError("unknown browse mode '" + *mode + "' (level, tree or flat)");
}

// A message of the shared connection code ends in a code in hexadecimal: its text is added.
std::string WithCodeText(const std::string& message) {
    std::size_t e = message.size();
    while (e > 0 && (message[e - 1] == '.' || message[e - 1] == ' ')) --e;
    std::size_t b = e;
    while (b > 0 && std::isxdigit(static_cast<unsigned char>(message[b - 1]))) --b;
    if (e - b < 1 || e - b > 8 || (b > 0 && message[b - 1] != ' ' && message[b - 1] != 'x')) return message;
    const HRESULT hr = static_cast<HRESULT>(std::strtoul(message.substr(b, e - b).c_str(), nullptr, 16));
    if (!FAILED(hr)) return message;
    return message + " (" + CodeText(hr) + ")";
}

// ---------------------------------------------------------------------------------------------
// Times

CSession::TimeValue CSession::Time(const std::string& option) {
    TimeValue v;
    auto text = m_a.Get(option);
    if (!text) return v;
    std::string err;
    auto t = ParseTimeInput(*text, &err);
    if (!t) throw UsageError(option + ": unreadable time '" + *text + "': " + err);
    v.given = true;
    switch (t->kind) {
        case TimeInput::Kind::Relative:
            v.text = t->text;
            break;
        case TimeInput::Kind::Utc:
            v.utc = U64ToFileTime(t->utcTicks);
            break;
        case TimeInput::Kind::Local: {
            FILETIME shown{}, utc{};
            if (!SystemTimeToFileTime(&t->local, &shown) || !client::DisplayToUtc(shown, m_basis, &utc))
                throw UsageError(option + ": '" + *text + "' has no UTC moment on this time basis");
            v.utc = utc;
            break;
        }
    }
    return v;
}

FILETIME CSession::Moment(const std::string& what, const std::string& text) {
    std::string err;
    auto t = ParseTimeInput(text, &err);
    if (!t) throw UsageError(what + ": unreadable time '" + text + "': " + err);
    if (t->kind == TimeInput::Kind::Relative)
        throw UsageError(what + ": a timestamp must be absolute, not '" + text + "'");
    if (t->kind == TimeInput::Kind::Utc) return U64ToFileTime(t->utcTicks);
    FILETIME shown{}, utc{};
    if (!SystemTimeToFileTime(&t->local, &shown) || !client::DisplayToUtc(shown, m_basis, &utc))
        throw UsageError(what + ": '" + text + "' has no UTC moment on this time basis");
    return utc;
}

std::vector<FILETIME> CSession::Timestamps() {
    std::vector<FILETIME> ts;
    for (const auto& t : m_a.All("--at")) ts.push_back(Moment("--at", t));
    if (auto f = m_a.Get("--times")) {
        std::ifstream file;
        std::istream& in = OpenInput(*f, file);
        std::size_t n = 0;
        for (std::string line; std::getline(in, line);) {
            ++n;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.find_first_not_of(" \t") == std::string::npos ||
                line[line.find_first_not_of(" \t")] == '#')
                continue;
            ts.push_back(Moment(*f + " line " + std::to_string(n), line));
        }
    }
    if (ts.empty()) throw UsageError(std::string(m_a.sub->name) + " needs timestamps (--at or --times)");
    return ts;
}

client::TimeArg CSession::Arg(const TimeValue& t) {
    client::TimeArg a;
    a.inUse = t.given;
    a.text = t.text;
    a.moment = t.utc;
    return a;
}

std::string CSession::TimeText(FILETIME ft, client::CTimestampWriter::Form form) const {
    char16_t buf[client::kMaxTimestampChars];
    const std::size_t n = client::CTimestampWriter(m_basis, form).Write(ft, buf);
    std::string s(n, ' ');
    bool ascii = true;
    for (std::size_t i = 0; i < n; ++i) {
        if (buf[i] >= 0x80) ascii = false;
        s[i] = static_cast<char>(buf[i]);
    }
    return ascii ? s : U8(std::u16string_view(buf, n));
}

// ---------------------------------------------------------------------------------------------
// Output

Fields CSession::Header(const char* operation) const {
    Fields f{{"operation", operation}};
    if (!m_progId.empty()) f.push_back({"server", m_progId});
    if (auto c = m_a.Get("--computer"); c && !c->empty()) f.push_back({"computer", *c});
    f.push_back({"time_basis", m_basisText});
    return f;
}

std::string CSession::TimeColumn(const char* name) const {
    return client::TimeColumnName(name, m_basis);
}

void CSession::ValueColumns(std::vector<Column>& cols) const {
    // The layout every CSV of values has; JSON names the members.
    static const char* const kKeys[] = {"item", "timestamp", "value", "quality", "quality_text"};
    const std::vector<std::string> names = client::ValueColumnNames(m_basis);
    for (std::size_t i = 0; i < names.size(); ++i) cols.push_back({names[i], kKeys[i], i == 0});
}

void CSession::WriteValues(CWriter& w, const std::string& item, const RecordView& r, std::size_t from) {
    client::CValueCells cells(m_basis, StampForm());  // the offset in force now, once per page
    for (std::size_t i = from; i < r.count; ++i) {
        cells.Set(r.t[i], r.q[i], r.v[i]);
        w.Row({item, cells.ts, cells.value, cells.qualityWord, cells.qualityText});
    }
}

// ---------------------------------------------------------------------------------------------
// Subcommands without items

void CSession::Servers() {
    std::vector<std::string> names;
    if (auto c = m_a.Get("--computer"); c && !c->empty()) {
        // The host's server-list service lists the servers registered there.
        const std::u16string host = U16(*c);
        COSERVERINFO info{};
        info.pwszName = const_cast<LPWSTR>(host.c_str());
        MULTI_QI qi{&IID_IOPCServerList, nullptr, S_OK};
        HRESULT hr = CoCreateInstanceEx(CLSID_OpcServerList, nullptr, CLSCTX_REMOTE_SERVER, &info, 1, &qi);
        if (FAILED(hr) || FAILED(qi.hr) || !qi.pItf)
            throw Failure(kExitFailure, "the server list of '" + *c + "' cannot be reached: " +
                                            CodeLine(FAILED(hr)      ? hr
                                                     : FAILED(qi.hr) ? qi.hr
                                                                     : E_NOINTERFACE));
        com::ComPtr<IOPCServerList> list =
            com::ComPtr<IOPCServerList>::Attach(static_cast<IOPCServerList*>(qi.pItf));
        const CATID cat = CATID_OPCHDAServer10;
        IEnumGUID* pEnumRaw = nullptr;
        hr = list->EnumClassesOfCategories(1, const_cast<CATID*>(&cat), 0, nullptr, &pEnumRaw);
        com::ComPtr<IEnumGUID> pEnum = com::ComPtr<IEnumGUID>::Attach(pEnumRaw);
        if (FAILED(hr) || !pEnum)
            throw Failure(kExitFailure, "EnumClassesOfCategories on '" + *c + "' failed: " + CodeLine(hr));
        GUID clsid{};
        ULONG fetched = 0;
        while (pEnum->Next(1, &clsid, &fetched) == S_OK && fetched == 1) {
            LPOLESTR progId = nullptr, userType = nullptr;
            if (SUCCEEDED(list->GetClassDetails(clsid, &progId, &userType)) && progId)
                names.push_back(U8(progId));
            CoTaskMemFree(progId);
            CoTaskMemFree(userType);
            fetched = 0;
        }
    } else {
        for (const auto& s : m_servers) names.push_back(U8(s));
    }
    auto w = MakeWriter(m_format, m_io.out);
    Fields header{{"operation", "servers"}};
    if (auto c = m_a.Get("--computer"); c && !c->empty()) header.push_back({"computer", *c});
    w->Begin(header, {{"progid", "progid", false}}, "", "servers");
    for (const auto& n : names) w->Row({n});
    w->End();
}

void CSession::Attributes() {
    client::AttributeList l = client::GetItemAttributes(m_pConn->m_pServer);
    if (FAILED(l.hr) || (l.message && l.attributes.empty())) CallFailed("GetItemAttributes", l.hr, l.message);
    if (l.message) Problem(U8(l.message->text));
    auto w = MakeWriter(m_format, m_io.out);
    w->Begin(Header("attributes"),
             {{"id", "id", false},
              {"name", "name", false},
              {"type", "type", false},
              {"description", "description", false}},
             "", "attributes");
    for (const auto& a : l.attributes) {
        const std::string id = std::to_string(a.id), name = U8(client::AttributeDisplayName(a)),
                          type = std::to_string(a.type), desc = U8(a.description);
        w->Row({id, name, type, desc});
    }
    w->End();
}

void CSession::Aggregates() {
    client::AggregateList l = client::GetAggregates(m_pConn->m_pServer);
    if (FAILED(l.hr) || (l.message && l.aggregates.empty())) CallFailed("GetAggregates", l.hr, l.message);
    if (l.message) Problem(U8(l.message->text));
    auto w = MakeWriter(m_format, m_io.out);
    w->Begin(Header("aggregates"),
             {{"id", "id", false}, {"name", "name", false}, {"description", "description", false}}, "",
             "aggregates");
    for (const auto& a : l.aggregates) {
        const std::string id = std::to_string(a.id), name = U8(a.name), desc = U8(a.description);
        w->Row({id, name, desc});
    }
    w->End();
}

void CSession::Status() {
    client::ServerStatus s = client::GetHistorianStatus(m_pConn->m_pServer);
    if (!s.called || FAILED(s.hr)) CallFailed("GetHistorianStatus", s.hr, s.message);
    client::StatusTexts t = client::FormatServerStatus(s, m_basis);
    auto w = MakeWriter(m_format, m_io.out);
    w->Begin(Header("status"), {{"field", "field", false}, {"value", "value", false}}, "", "status");
    const std::pair<const char*, const std::u16string*> rows[] = {
        {"status", &t.serverStatus},
        {"status string", &t.statusString},
        {"current time", &t.currentTime},
        {"start time", &t.startTime},
        {"major version", &t.majorVersion},
        {"minor version", &t.minorVersion},
        {"build number", &t.buildNumber},
        {"vendor", &t.vendorInfo},
        {"max return values", &t.maxReturnValues},
    };
    for (const auto& [k, v] : rows) {
        const std::string val = U8(*v);
        w->Row({k, val});
    }
    w->End();
    for (const auto& p : t.problems) Problem(U8(p));
}

void CSession::Browse() {
    const std::string mode = m_a.Get("--mode").value_or("level");
    if (mode != "level" && mode != "tree" && mode != "flat")
        throw UsageError("unknown browse mode '" + mode + "' (level, tree or flat)");
    std::vector<client::BrowseFilter> filters;
    for (const auto& f : m_a.All("--filter")) {
        std::string err;
        auto parsed = client::ParseBrowseFilter(U16(f), &err);
        if (!parsed) throw UsageError("--filter '" + f + "': " + err);
        filters.push_back(std::move(*parsed));
    }
    std::vector<std::u16string> path;
    if (auto p = m_a.Get("--path")) {
        std::u16string all = U16(*p), part;
        for (char16_t c : all) {
            if (c == u'/') {
                if (!part.empty()) path.push_back(part);
                part.clear();
            } else {
                part += c;
            }
        }
        if (!part.empty()) path.push_back(part);
    }

    // Attributes by the names the server gives them, or by number.
    std::vector<DWORD> filterIds;
    if (!filters.empty()) {
        client::AttributeList offered = client::GetItemAttributes(m_pConn->m_pServer);
        for (const auto& f : filters) {
            const std::string name = U8(f.attribute);
            char* e = nullptr;
            unsigned long v = std::strtoul(name.c_str(), &e, 0);
            if (!name.empty() && !*e && std::isdigit(static_cast<unsigned char>(name[0]))) {
                filterIds.push_back(static_cast<DWORD>(v));
                continue;
            }
            auto it = std::find_if(offered.attributes.begin(), offered.attributes.end(),
                                   [&](const client::ItemAttribute& a) {
                                       return a.name && NameKey(U8(*a.name)) == NameKey(name);
                                   });
            if (it == offered.attributes.end())
                throw UsageError("--filter: the server offers no attribute '" + name + "'");
            filterIds.push_back(it->id);
        }
    }
    client::Browser b;
    std::vector<HRESULT> filterCodes;
    auto msg = filters.empty() ? b.Create(m_pConn->m_pServer)
                               : b.Create(m_pConn->m_pServer, filterIds, filters, &filterCodes);
    if (msg) throw Failure(kExitFailure, U8(msg->text));
    for (std::size_t i = 0; i < filterCodes.size() && i < filters.size(); ++i)
        if (filterCodes[i] != S_OK)
            Problem("filter '" + m_a.All("--filter")[i] + "' was not applied: " + CodeLine(filterCodes[i]));
    if (!path.empty()) {
        std::u16string failedAt;
        const HRESULT hr = b.MoveTo(path, &failedAt);
        if (hr != S_OK)
            throw Failure(kExitFailure, "cannot browse to '" + U8(failedAt) + "': " + CodeLine(hr));
    }
    constexpr DWORD kMaxNames = 10000000;
    auto w = MakeWriter(m_format, m_io.out);
    if (mode == "flat") {
        w->Begin(Header("browse"), {{"item", "item", false}}, "", "items");
        client::Browser::Names n = b.Enumerate(OPCHDA_FLAT, kMaxNames);
        if (!n.problem.empty()) Problem(U8(n.problem));
        for (const auto& id : n.names) w->Row({U8(id)});
        w->End();
        return;
    }
    w->Begin(Header("browse"), {{"kind", "kind", false}, {"name", "name", false}, {"item", "item", false}},
             "", "entries");
    // Depth first: the branches of a level and their contents, then its leaves.
    std::function<void(const std::string&, int)> level = [&](const std::string& prefix, int depth) {
        client::Browser::Names branches = b.Enumerate(OPCHDA_BRANCH, kMaxNames);
        if (!branches.problem.empty()) Problem(U8(branches.problem));
        for (const auto& br : branches.names) {
            const std::string name = prefix + U8(br);
            w->Row({"branch", name, ""});
            if (mode == "tree" && depth < 64) {
                if (SUCCEEDED(b.ChangePosition(OPCHDA_BROWSE_DOWN, br))) {
                    level(name + "/", depth + 1);
                    b.ChangePosition(OPCHDA_BROWSE_UP, u"");
                } else {
                    Problem("cannot browse down to '" + name + "'");
                }
            }
        }
        client::Browser::Names leaves = b.Enumerate(OPCHDA_LEAF, kMaxNames);
        if (!leaves.problem.empty()) Problem(U8(leaves.problem));
        for (const auto& lf : leaves.names) {
            client::Browser::ItemId id = b.GetItemID(lf);
            const std::string name = prefix + U8(lf);
            if (!id.resolved) Problem("no item ID for leaf '" + name + "'");
            w->Row({"leaf", name, id.resolved ? U8(id.itemId) : std::string()});
        }
    };
    level("", 0);
    w->End();
}

// ---------------------------------------------------------------------------------------------
// Reads

void CSession::ReadRaw() {
    const TimeValue start = Time("--start"), end = Time("--end");
    DWORD max = 0;
    if (auto m = m_a.Get("--max")) {
        char* e = nullptr;
        errno = 0;
        unsigned long long v = std::strtoull(m->c_str(), &e, 10);
        if (m->empty() || *e || errno || v > 0xFFFFFFFFULL || (*m)[0] == '-')
            throw UsageError("--max: '" + *m + "' is not a count");
        max = static_cast<DWORD>(v);
    }
    if ((start.given ? 1 : 0) + (end.given ? 1 : 0) + (max ? 1 : 0) < 2)
        throw UsageError("read-raw needs two of --start, --end and --max");
    IOPCHDA_SyncRead* sync = SyncRead();
    std::vector<Item> items = RegisterItems();

    auto w = MakeWriter(m_format, m_io.out);
    std::vector<Column> cols;
    ValueColumns(cols);
    w->Begin(Header("read-raw"), cols, "items", "values");
    if (m_a.Has("--all")) {
        ReadRawAll(*w, items);
        w->End();
        return;
    }
    std::vector<OPCHANDLE> handles;
    for (const auto& it : items)
        if (it.ok()) handles.push_back(it.handle);
    client::ReadOutcome r;
    if (!handles.empty()) {
        r = client::ReadRaw(sync, Arg(start), Arg(end), max, m_a.Has("--bounds"), handles, m_basis);
        if (!r.HasResults()) {
            w->End();
            CallFailed("ReadRaw", r.hr, r.message);
        }
    }
    std::size_t k = 0;
    for (const auto& it : items) {
        w->BeginGroup({{"item", it.id}});
        HRESULT code = it.code;
        if (it.ok()) {
            const DWORD i = static_cast<DWORD>(k++);
            if (i < r.results.Count() && r.results.Values() && r.results.Errors()) {
                code = r.results.Errors()[i];
                w->RowsResult(CodeFields(code));
                RecordView v = ViewOf(r.results.Values()[i]);
                if (v.count < v.claimed)
                    Problem("item '" + it.id + "': the server claimed " + std::to_string(v.claimed) +
                            " values but sent " + std::to_string(v.count));
                WriteValues(*w, it.id, v, 0);
                if (FAILED(code)) ItemFailed(it.id, code);
            } else {
                code = E_FAIL;
                Problem("the server's answer holds no record for '" + it.id + "'");
            }
        }
        w->EndGroup(CodeFields(code));
    }
    w->End();
}

void CSession::ReadRawAll(CWriter& w, const std::vector<Item>& items) {
    const TimeValue start0 = Time("--start"), end0 = Time("--end");
    DWORD max = 0;
    if (auto m = m_a.Get("--max")) max = static_cast<DWORD>(std::strtoul(m->c_str(), nullptr, 10));
    const bool bounds = m_a.Has("--bounds");
    IOPCHDA_SyncRead* sync = SyncRead();
    for (const auto& it : items) {
        w.BeginGroup({{"item", it.id}});
        if (!it.ok()) {
            w.EndGroup(CodeFields(it.code));
            continue;
        }
        client::CReadContinuation cont(start0.given, end0.given);
        TimeValue start = start0, end = end0;
        DWORD ask = max;
        HRESULT code = S_OK;
        const OPCHANDLE h[1] = {it.handle};
        for (std::size_t page = 0;; ++page) {
            client::ReadOutcome r = client::ReadRaw(sync, Arg(start), Arg(end), ask, bounds, h, m_basis);
            if (!r.HasResults() || r.results.Count() < 1 || !r.results.Values() || !r.results.Errors()) {
                w.EndGroup(CodeFields(r.hr));
                w.End();
                CallFailed("ReadRaw", r.hr, r.message);
            }
            code = r.results.Errors()[0];
            // The pages join to one read: rows of a page with more to come were not cut short.
            w.RowsResult(CodeFields(code == OPC_S_MOREDATA ? S_OK : code));
            RecordView v = ViewOf(r.results.Values()[0]);
            if (v.count < v.claimed)
                Problem("item '" + it.id + "': the server claimed " + std::to_string(v.claimed) +
                        " values but sent " + std::to_string(v.count));
            if (page == 0) {
                // Later pages read the domain the server resolved on the first: a relative time
                // such as NOW would move otherwise.
                if (start.given && !start.utc && FileTimeToU64(r.ftStartAfter) != 0)
                    start.utc = r.ftStartAfter;
                if (end.given && !end.utc && FileTimeToU64(r.ftEndAfter) != 0) end.utc = r.ftEndAfter;
                if (start.utc && end.utc)
                    cont.SetBackward(FileTimeToU64(*end.utc) < FileTimeToU64(*start.utc));
                else if (!start.given && end.given)
                    cont.SetBackward(true);
                else if (start.given && !end.given)
                    cont.SetBackward(false);
            }
            const std::size_t skip = cont.Accept(code, v.count, [&v](std::size_t i) {
                client::SeamValue s;
                s.t = FileTimeToU64(v.t[i]);
                s.quality = v.q[i];
                s.value = &v.v[i];
                return s;
            });
            WriteValues(w, it.id, v, std::min<std::size_t>(skip, v.count));
            if (FAILED(code)) {
                ItemFailed(it.id, code);
                break;
            }
            if (cont.Regressed()) {
                Problem("item '" + it.id +
                        "': the server's page ran back before the point it continued from");
                break;
            }
            if (!cont.HasMore()) break;
            const DWORD next = cont.NextCount(max);
            if (cont.Stalled() && next <= ask && ask != 0) {
                Problem("item '" + it.id + "': the server repeats the same page and cannot be read further");
                break;
            }
            ask = next;
            TimeValue& moving = cont.MovesStart() ? start : end;
            moving.given = true;
            moving.text.clear();
            moving.utc = U64ToFileTime(cont.ContinueFrom());
        }
        if (code == OPC_S_MOREDATA) code = S_OK;  // every page was read
        w.EndGroup(CodeFields(code));
    }
}

void CSession::ReadProcessed() {
    const TimeValue start = Time("--start"), end = Time("--end");
    if (!start.given || !end.given) throw UsageError("read-processed needs --start and --end");
    auto ivText = m_a.Get("--interval");
    if (!ivText) throw UsageError("read-processed needs --interval");
    auto iv = ParseDuration(*ivText);
    if (!iv || *iv > 0x7FFFFFFFFFFFFFFFULL)
        throw UsageError("--interval: unreadable duration '" + *ivText + "'");
    const auto aggNames = m_a.All("--aggregate");
    if (aggNames.empty()) throw UsageError("read-processed needs --aggregate");
    const std::vector<std::string> ids = ItemIds();
    if (aggNames.size() != 1 && aggNames.size() != ids.size())
        throw UsageError("give one --aggregate for every item, or one for all (" +
                         std::to_string(aggNames.size()) + " for " + std::to_string(ids.size()) + " items)");
    // Names as the server lists them, or numbers.
    std::vector<DWORD> aggIds;
    std::optional<client::AggregateList> listed;
    for (const auto& n : aggNames) {
        char* e = nullptr;
        unsigned long v = std::strtoul(n.c_str(), &e, 0);
        if (!n.empty() && !*e && std::isdigit(static_cast<unsigned char>(n[0]))) {
            aggIds.push_back(static_cast<DWORD>(v));
            continue;
        }
        if (!listed) {
            listed = client::GetAggregates(m_pConn->m_pServer);
            if (FAILED(listed->hr)) CallFailed("GetAggregates", listed->hr, listed->message);
        }
        auto it = std::find_if(listed->aggregates.begin(), listed->aggregates.end(),
                               [&](const client::Aggregate& a) { return NameKey(U8(a.name)) == NameKey(n); });
        if (it == listed->aggregates.end())
            throw UsageError("--aggregate: the server offers no aggregate '" + n + "'");
        aggIds.push_back(it->id);
    }
    IOPCHDA_SyncRead* sync = SyncRead();
    std::vector<Item> items = RegisterItems();
    std::vector<OPCHANDLE> handles;
    std::vector<DWORD> aggs;
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].ok()) {
            handles.push_back(items[i].handle);
            aggs.push_back(aggIds.size() == 1 ? aggIds[0] : aggIds[i]);
        }
    auto w = MakeWriter(m_format, m_io.out);
    std::vector<Column> cols;
    ValueColumns(cols);
    w->Begin(Header("read-processed"), cols, "items", "values");
    client::ReadOutcome r;
    if (!handles.empty()) {
        r = client::ReadProcessed(sync, Arg(start), Arg(end), U64ToFileTime(*iv), handles, aggs, m_basis);
        if (!r.HasResults()) {
            w->End();
            CallFailed("ReadProcessed", r.hr, r.message);
        }
    }
    std::size_t k = 0;
    for (std::size_t n = 0; n < items.size(); ++n) {
        const auto& it = items[n];
        const DWORD agg = aggIds.size() == 1 ? aggIds[0] : aggIds[n];
        w->BeginGroup({{"item", it.id}, {"aggregate", std::to_string(agg)}});
        HRESULT code = it.code;
        if (it.ok()) {
            const DWORD i = static_cast<DWORD>(k++);
            if (i < r.results.Count() && r.results.Values() && r.results.Errors()) {
                code = r.results.Errors()[i];
                w->RowsResult(CodeFields(code));
                WriteValues(*w, it.id, ViewOf(r.results.Values()[i]), 0);
                if (FAILED(code)) ItemFailed(it.id, code);
            } else {
                code = E_FAIL;
                Problem("the server's answer holds no record for '" + it.id + "'");
            }
        }
        w->EndGroup(CodeFields(code));
    }
    w->End();
}

void CSession::ReadAtTime() {
    const std::vector<FILETIME> ts = Timestamps();
    IOPCHDA_SyncRead* sync = SyncRead();
    std::vector<Item> items = RegisterItems();
    std::vector<OPCHANDLE> handles;
    for (const auto& it : items)
        if (it.ok()) handles.push_back(it.handle);
    auto w = MakeWriter(m_format, m_io.out);
    std::vector<Column> cols;
    ValueColumns(cols);
    w->Begin(Header("read-at-time"), cols, "items", "values");
    client::ReadOutcome r;
    if (!handles.empty()) {
        r = client::ReadAtTime(sync, ts, handles);
        if (!r.HasResults()) {
            w->End();
            CallFailed("ReadAtTime", r.hr, r.message);
        }
    }
    std::size_t k = 0;
    for (const auto& it : items) {
        w->BeginGroup({{"item", it.id}});
        HRESULT code = it.code;
        if (it.ok()) {
            const DWORD i = static_cast<DWORD>(k++);
            if (i < r.results.Count() && r.results.Values() && r.results.Errors()) {
                code = r.results.Errors()[i];
                w->RowsResult(CodeFields(code));
                WriteValues(*w, it.id, ViewOf(r.results.Values()[i]), 0);
                if (FAILED(code)) ItemFailed(it.id, code);
            } else {
                code = E_FAIL;
                Problem("the server's answer holds no record for '" + it.id + "'");
            }
        }
        w->EndGroup(CodeFields(code));
    }
    w->End();
}

void CSession::ReadAttribute() {
    const auto wanted = m_a.All("--attribute");
    client::AttributeList offered = client::GetItemAttributes(m_pConn->m_pServer);
    if (FAILED(offered.hr) || (offered.message && offered.attributes.empty()))
        CallFailed("GetItemAttributes", offered.hr, offered.message);
    std::vector<DWORD> ids;
    for (const auto& n : wanted) {
        char* e = nullptr;
        unsigned long v = std::strtoul(n.c_str(), &e, 0);
        if (!n.empty() && !*e && std::isdigit(static_cast<unsigned char>(n[0]))) {
            ids.push_back(static_cast<DWORD>(v));
            continue;
        }
        auto it = std::find_if(
            offered.attributes.begin(), offered.attributes.end(),
            [&](const client::ItemAttribute& a) { return a.name && NameKey(U8(*a.name)) == NameKey(n); });
        if (it == offered.attributes.end())
            throw UsageError("--attribute: the server offers no attribute '" + n + "'");
        ids.push_back(it->id);
    }
    if (ids.empty())
        for (const auto& a : offered.attributes) ids.push_back(a.id);
    auto nameOf = [&](DWORD id) -> std::string {
        std::string name = "Unknown Attribute";
        for (const auto& a : offered.attributes)
            if (a.id == id) name = U8(client::AttributeDisplayName(a));
        return name;
    };
    IOPCHDA_SyncRead* sync = SyncRead();
    std::vector<Item> items = RegisterItems();
    auto w = MakeWriter(m_format, m_io.out);
    w->Begin(Header("read-attribute"),
             {{"item", "item", true},
              {"attribute", "attribute", false},
              {"name", "name", false},
              {TimeColumn("timestamp"), "timestamp", false},
              {"value", "value", false}},
             "items", "attributes");
    for (const auto& it : items) {
        w->BeginGroup({{"item", it.id}});
        HRESULT code = it.code;
        if (it.ok()) {
            client::AttributeReadOutcome r = client::ReadAttribute(sync, it.handle, ids);
            code = r.hr;
            if (!r.called || FAILED(r.hr) || r.message) {
                if (SUCCEEDED(code)) code = E_FAIL;
                m_io.err << "vistrel: item '" << it.id << "': "
                         << (r.message ? U8(r.message->text) : "ReadAttribute failed: " + CodeLine(code))
                         << "\n";
                m_exit = std::max<int>(m_exit, kExitItemFailed);
            }
            w->RowsResult(CodeFields(code));
            for (const auto& row : r.rows) {
                const std::string id = std::to_string(row.id), name = nameOf(row.id);
                std::string ts = "No Data", value = "No Data";
                if (!row.noData && row.returned) {
                    ts = row.timestamp ? TimeText(*row.timestamp) : std::string();
                    value = row.value ? U8(*row.value) : std::string();
                } else if (!row.returned) {
                    ts = value = "";
                }
                w->Row({it.id, id, name, ts, value});
            }
        }
        w->EndGroup(CodeFields(code));
    }
    w->End();
}

void CSession::ReadModified() {
    const TimeValue start0 = Time("--start"), end0 = Time("--end");
    DWORD max = 0;
    if (auto m = m_a.Get("--max")) {
        char* e = nullptr;
        errno = 0;
        unsigned long long v = std::strtoull(m->c_str(), &e, 10);
        if (m->empty() || *e || errno || v > 0xFFFFFFFFULL || (*m)[0] == '-')
            throw UsageError("--max: '" + *m + "' is not a count");
        max = static_cast<DWORD>(v);
    }
    if ((start0.given ? 1 : 0) + (end0.given ? 1 : 0) + (max ? 1 : 0) < 2)
        throw UsageError("read-modified needs two of --start, --end and --max");
    IOPCHDA_SyncRead* sync = SyncRead();
    std::vector<Item> items = RegisterItems();
    auto w = MakeWriter(m_format, m_io.out);
    std::vector<Column> cols;
    ValueColumns(cols);
    cols.push_back({TimeColumn("modified"), "modified", false});
    cols.push_back({"edit", "edit", false});
    cols.push_back({"user", "user", false});
    w->Begin(Header("read-modified"), cols, "items", "values");
    const bool all = m_a.Has("--all");
    for (const auto& it : items) {
        w->BeginGroup({{"item", it.id}});
        HRESULT code = it.code;
        if (it.ok()) {
            client::CReadContinuation cont(start0.given, end0.given);
            TimeValue start = start0, end = end0;
            DWORD ask = max;
            const OPCHANDLE h[1] = {it.handle};
            for (std::size_t page = 0;; ++page) {
                client::ModifiedOutcome r = client::ReadModified(sync, Arg(start), Arg(end), ask, h, m_basis);
                if (FAILED(r.hr) || r.results.Count() < 1) {
                    w->EndGroup(CodeFields(r.hr));
                    w->End();
                    CallFailed("ReadModified", r.hr, r.message);
                }
                code = r.results.Errors()[0];
                w->RowsResult(CodeFields(all && code == OPC_S_MOREDATA ? S_OK : code));
                const OPCHDA_MODIFIEDITEM& rec = r.results.Values()[0];
                const DWORD n = r.results.EntryCount(0);
                if (n < rec.dwCount)
                    Problem("item '" + it.id + "': the server claimed " + std::to_string(rec.dwCount) +
                            " values but sent " + std::to_string(n));
                if (page == 0) {
                    if (start.given && !start.utc && FileTimeToU64(r.ftStartAfter) != 0)
                        start.utc = r.ftStartAfter;
                    if (end.given && !end.utc && FileTimeToU64(r.ftEndAfter) != 0) end.utc = r.ftEndAfter;
                    if (start.utc && end.utc)
                        cont.SetBackward(FileTimeToU64(*end.utc) < FileTimeToU64(*start.utc));
                }
                const std::size_t skip = cont.Accept(code, n, [&rec](std::size_t i) {
                    client::SeamValue s;
                    s.t = FileTimeToU64(rec.pftTimeStamps[i]);
                    s.quality = rec.pdwQualities[i];
                    s.value = &rec.pvDataValues[i];
                    s.modified = FileTimeToU64(rec.pftModificationTime[i]);
                    s.edit = static_cast<DWORD>(rec.pEditType[i]);
                    s.user = rec.szUser[i] ? std::u16string_view(rec.szUser[i]) : std::u16string_view();
                    return s;
                });
                for (std::size_t i = skip; i < n; ++i) {
                    const std::string ts = TimeText(rec.pftTimeStamps[i]),
                                      value = U8(client::FormatVariant(rec.pvDataValues[i]));
                    const DWORD q = rec.pdwQualities[i];
                    const std::string qw = Hex8(q), qt = U8(client::FormatQuality(q));
                    const std::string mt = TimeText(rec.pftModificationTime[i]);
                    const OPCHDA_EDITTYPE et = rec.pEditType[i];
                    const std::string edit = et == OPCHDA_INSERT          ? "Insert"
                                             : et == OPCHDA_REPLACE       ? "Replace"
                                             : et == OPCHDA_INSERTREPLACE ? "Insert/Replace"
                                             : et == OPCHDA_DELETE        ? "Delete"
                                                                   : std::to_string(static_cast<int>(et));
                    const std::string user = rec.szUser[i] ? U8(rec.szUser[i]) : std::string();
                    w->Row({it.id, ts, value, qw, qt, mt, edit, user});
                }
                if (FAILED(code)) {
                    ItemFailed(it.id, code);
                    break;
                }
                if (!all || !cont.HasMore()) break;
                const DWORD next = cont.NextCount(max);
                if (cont.Stalled() && next <= ask && ask != 0) {
                    Problem("item '" + it.id +
                            "': the server repeats the same page and cannot be read further");
                    break;
                }
                ask = next;
                TimeValue& moving = cont.MovesStart() ? start : end;
                moving.given = true;
                moving.text.clear();
                moving.utc = U64ToFileTime(cont.ContinueFrom());
            }
            if (all && code == OPC_S_MOREDATA) code = S_OK;
        }
        w->EndGroup(CodeFields(code));
    }
    w->End();
}

// ---------------------------------------------------------------------------------------------
// Updates

void CSession::Update(OPCHDA_EDITTYPE mode) {
    struct Entry {
        std::string item;
        FILETIME t;
        std::u16string value;
        DWORD quality;
    };
    std::vector<Entry> entries;
    if (auto gen = m_a.Get("--generate")) {
        if (m_a.Has("--input")) throw UsageError("--generate and --input exclude each other");
        client::GeneratorSettings settings;
        double parts[3];
        {
            std::string g = *gen;
            std::size_t p = 0;
            for (int i = 0; i < 3; ++i) {
                std::size_t comma = g.find(',', p);
                std::string f = g.substr(p, comma == std::string::npos ? std::string::npos : comma - p);
                char* e = nullptr;
                parts[i] = std::strtod(f.c_str(), &e);
                if (f.empty() || *e || (i < 2 && comma == std::string::npos) ||
                    (i == 2 && comma != std::string::npos))
                    throw UsageError("--generate: expected INITIAL,INCREMENT,END, got '" + g + "'");
                p = comma + 1;
            }
        }
        settings.initial = parts[0];
        settings.increment = parts[1];
        settings.end = parts[2];
        if (auto ev = m_a.Get("--every")) {
            auto d = ParseDuration(*ev);
            if (!d) throw UsageError("--every: unreadable duration '" + *ev + "'");
            settings.stepTicks = *d;
        }
        settings.startTicks =
            m_a.Has("--from") ? FileTimeToU64(Moment("--from", *m_a.Get("--from"))) : com::NowUtcTicks();
        const std::string qText = m_a.Get("--quality").value_or("Good");
        const DWORD quality = client::QualityFromText(U16(qText));
        const std::vector<std::string> ids = ItemIds();
        if (ids.empty()) throw UsageError("--generate needs item IDs (arguments or --items)");
        constexpr std::size_t kMaxRows = 10000000;
        std::vector<std::pair<double, ULONGLONG>> rows;
        switch (client::Generate(settings, kMaxRows / ids.size(), [&](double v, ULONGLONG t) {
            rows.push_back({v, t});
        })) {
            case client::GeneratorResult::Ok:
                break;
            case client::GeneratorResult::WrongDirection:
                throw UsageError(U8(client::kGeneratorDirectionText));
            case client::GeneratorResult::TooMany:
                throw UsageError("--generate: more than " + std::to_string(kMaxRows) + " entries");
            case client::GeneratorResult::NoProgress:
                throw UsageError("--generate: the increment is too small to change the value");
            case client::GeneratorResult::TimeOverflow:
                throw UsageError("--generate: the timestamps leave the range of FILETIME");
        }
        if (rows.empty()) throw UsageError("There is no data to insert");
        // Row r for every item, as the dialog orders the entries.
        for (const auto& [v, t] : rows)
            for (const auto& id : ids)
                entries.push_back({id, U64ToFileTime(t), client::GeneratorValueText(v), quality});
    } else {
        if (!m_a.positional.empty() || m_a.Has("--items"))
            throw UsageError("rows name their items; item IDs go with --generate only");
        std::ifstream file;
        std::istream& in = OpenInput(m_a.Get("--input").value_or("-"), file);
        std::vector<UpdateRow> rows;
        try {
            rows = ReadUpdateRows(in);
        } catch (const std::runtime_error& e) {
            throw UsageError(std::string("input ") + e.what());
        }
        for (const auto& r : rows) {
            FILETIME t{};
            if (r.time.kind == TimeInput::Kind::Utc) {
                t = U64ToFileTime(r.time.utcTicks);
            } else {
                FILETIME shown{};
                if (!SystemTimeToFileTime(&r.time.local, &shown) || !client::DisplayToUtc(shown, m_basis, &t))
                    throw UsageError("input line " + std::to_string(r.line) + ": the time has no UTC moment");
            }
            entries.push_back({r.item, t, U16(r.value), r.quality});
        }
        if (entries.empty()) throw UsageError("There is no data to insert");
    }

    IOPCHDA_SyncUpdate* sync = SyncUpdate();
    // One handle per distinct item ID.
    std::vector<std::u16string> ids;
    std::map<std::string, std::size_t> index;
    for (const auto& e : entries)
        if (index.emplace(e.item, ids.size()).second) ids.push_back(U16(e.item));
    client::HandlesOutcome h = client::GetItemHandles(m_pConn->m_pServer, ids);
    if (h.message) throw Failure(kExitFailure, U8(h.message->text));
    if (FAILED(h.hr)) throw Failure(kExitFailure, "GetItemHandles failed: " + CodeLine(h.hr));
    std::vector<HRESULT> itemCode(ids.size(), S_OK);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        itemCode[i] = i < h.errors.size() && i < h.handles.size() ? h.errors[i] : E_FAIL;
        if (FAILED(itemCode[i])) ItemFailed(U8(ids[i]), itemCode[i]);
    }
    std::vector<OPCHANDLE> handles;
    std::vector<FILETIME> times;
    std::vector<std::u16string> values;
    std::vector<DWORD> qualities;
    std::vector<std::size_t> sent;  // entry index of each array element
    for (std::size_t k = 0; k < entries.size(); ++k) {
        const std::size_t i = index[entries[k].item];
        if (FAILED(itemCode[i])) continue;
        handles.push_back(h.handles[i]);
        times.push_back(entries[k].t);
        values.push_back(entries[k].value);
        qualities.push_back(entries[k].quality);
        sent.push_back(k);
    }
    const char* op = mode == OPCHDA_INSERT ? "insert" : mode == OPCHDA_REPLACE ? "replace" : "insert-replace";
    auto w = MakeWriter(m_format, m_io.out);
    w->Begin(Header(op),
             {{"item", "item", false},
              {TimeColumn("timestamp"), "timestamp", false},
              {"value", "value", false},
              {"quality", "quality", false},
              {"quality text", "quality_text", false},
              {"code", "code", false},
              {"code text", "code_text", false}},
             "", "entries");
    client::UpdateOutcome r;
    if (!handles.empty()) {
        r = client::InsertReplaceHistory(sync, mode, handles, times, values, qualities);
        if (!r.called || FAILED(r.hr)) {
            w->End();
            CallFailed("Insert", r.hr, r.message);
        }
    }
    std::size_t s = 0;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        const Entry& e = entries[k];
        HRESULT code = itemCode[index[e.item]];
        if (SUCCEEDED(code)) {
            const std::size_t j = s++;
            code = j < r.results.Count() && r.results.Errors() ? r.results.Errors()[j] : E_FAIL;
            if (j >= r.results.Count())
                Problem("the server's answer holds no result for entry " + std::to_string(k + 1));
            else if (FAILED(code)) {
                m_io.err << "vistrel: entry " << (k + 1) << " (" << e.item << " " << TimeText(e.t, Display)
                         << "): " << CodeLine(code) << "\n";
                m_exit = std::max<int>(m_exit, kExitItemFailed);
            }
        }
        const std::string ts = TimeText(e.t), value = U8(e.value), qw = Hex8(e.quality),
                          qt = U8(client::FormatQuality(e.quality)), c = Hex8(static_cast<DWORD>(code)),
                          ct = U8(client::FormatResultCode(code));
        w->Row({e.item, ts, value, qw, qt, c, ct});
    }
    w->End();
}

void CSession::DeleteRaw() {
    const TimeValue start = Time("--start"), end = Time("--end");
    if (!start.given || !end.given) throw UsageError("delete-raw needs --start and --end");
    IOPCHDA_SyncUpdate* sync = SyncUpdate();
    std::vector<Item> items = RegisterItems();
    std::vector<OPCHANDLE> handles;
    for (const auto& it : items)
        if (it.ok()) handles.push_back(it.handle);
    auto w = MakeWriter(m_format, m_io.out);
    w->Begin(Header("delete-raw"),
             {{"item", "item", false},
              {TimeColumn("start"), "start", false},
              {TimeColumn("end"), "end", false},
              {"code", "code", false},
              {"code text", "code_text", false}},
             "", "entries");
    client::DeleteRawOutcome r;
    if (!handles.empty()) {
        r = client::DeleteRaw(sync, Arg(start), Arg(end), handles, m_basis);
        if (!r.called || FAILED(r.hr)) {
            w->End();
            CallFailed("DeleteRaw", r.hr, r.message);
        }
    }
    std::size_t k = 0;
    for (const auto& it : items) {
        HRESULT code = it.code;
        if (it.ok()) {
            const std::size_t j = k++;
            code = j < r.results.Count() && r.results.Errors() ? r.results.Errors()[j] : E_FAIL;
            if (FAILED(code)) ItemFailed(it.id, code);
        }
        const std::string s = TimeText(r.ftStartAfter), e = TimeText(r.ftEndAfter),
                          c = Hex8(static_cast<DWORD>(code)), ct = U8(client::FormatResultCode(code));
        w->Row({it.id, s, e, c, ct});
    }
    w->End();
}

void CSession::DeleteAtTime() {
    const std::vector<FILETIME> ts = Timestamps();
    IOPCHDA_SyncUpdate* sync = SyncUpdate();
    std::vector<Item> items = RegisterItems();
    // Every timestamp for every item: entry r * n + j, as the dialog builds it.
    std::vector<OPCHANDLE> handles;
    std::vector<FILETIME> times;
    std::vector<const Item*> entryItem;
    std::vector<FILETIME> entryTime;
    for (const auto& t : ts)
        for (const auto& it : items) {
            entryItem.push_back(&it);
            entryTime.push_back(t);
            if (!it.ok()) continue;
            handles.push_back(it.handle);
            times.push_back(t);
        }
    auto w = MakeWriter(m_format, m_io.out);
    w->Begin(Header("delete-at-time"),
             {{"item", "item", false},
              {TimeColumn("timestamp"), "timestamp", false},
              {"code", "code", false},
              {"code text", "code_text", false}},
             "", "entries");
    client::UpdateOutcome r;
    if (!handles.empty()) {
        r = client::DeleteAtTime(sync, handles, times);
        if (!r.called || FAILED(r.hr)) {
            w->End();
            CallFailed("DeleteAtTime", r.hr, r.message);
        }
    }
    std::size_t k = 0;
    for (std::size_t e = 0; e < entryItem.size(); ++e) {
        HRESULT code = entryItem[e]->code;
        if (entryItem[e]->ok()) {
            const std::size_t j = k++;
            code = j < r.results.Count() && r.results.Errors() ? r.results.Errors()[j] : E_FAIL;
            if (FAILED(code)) {
                m_io.err << "vistrel: entry " << (e + 1) << " (" << entryItem[e]->id << " "
                         << TimeText(entryTime[e], Display) << "): " << CodeLine(code) << "\n";
                m_exit = std::max<int>(m_exit, kExitItemFailed);
            }
        }
        const std::string t = TimeText(entryTime[e]), c = Hex8(static_cast<DWORD>(code)),
                          ct = U8(client::FormatResultCode(code));
        w->Row({entryItem[e]->id, t, c, ct});
    }
    w->End();
}

// ---------------------------------------------------------------------------------------------

int CSession::Run() {
    ReadCommonOptions();
    PreCheck();
    const std::string name = m_a.sub->name;
    StartCom();
    if (name == "servers") {
        Servers();
        return m_exit;
    }
    Connect();
    if (name == "browse")
        Browse();
    else if (name == "attributes")
        Attributes();
    else if (name == "aggregates")
        Aggregates();
    else if (name == "status")
        Status();
    else if (name == "read-raw")
        ReadRaw();
    else if (name == "read-processed")
        ReadProcessed();
    else if (name == "read-at-time")
        ReadAtTime();
    else if (name == "read-attribute")
        ReadAttribute();
    else if (name == "read-modified")
        ReadModified();
    else if (name == "insert")
        Update(OPCHDA_INSERT);
    else if (name == "replace")
        Update(OPCHDA_REPLACE);
    else if (name == "insert-replace")
        Update(OPCHDA_INSERTREPLACE);
    else if (name == "delete-raw")
        DeleteRaw();
    else if (name == "delete-at-time")
        DeleteAtTime();
    return m_exit;
}

}  // namespace

int RunVistrel(const std::vector<std::string>& args, Streams io) {
    ParsedArgs parsed;
    try {
        parsed = ParseArgs(args);
    } catch (const UsageError& e) {
        io.err << "vistrel: " << e.what() << " (see 'vistrel --help')\n";
        return kExitUsage;
    }
    if (!parsed.sub && !parsed.help) {
        io.err << GeneralHelp();
        return kExitUsage;
    }
    if (parsed.help) {
        io.out << (parsed.sub ? SubcommandHelp(*parsed.sub) : GeneralHelp());
        return kExitOk;
    }
    CSession session(parsed, io);
    try {
        return session.Run();
    } catch (const UsageError& e) {
        io.out.flush();
        io.err << "vistrel: " << e.what() << "\n";
        return kExitUsage;
    } catch (const Failure& e) {
        io.out.flush();
        io.err << "vistrel: " << e.what() << "\n";
        return e.exitCode;
    } catch (const std::bad_alloc&) {
        io.out.flush();
        io.err << "vistrel: out of memory\n";
        return kExitFailure;
    }
}

}  // namespace vistrel
