// The tests' HDA client.
#include "tests/simulation/sim_client.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "com/objbase.h"

namespace simtest {

TempDir::TempDir() {
    char tmpl[] = "/tmp/simtest.XXXXXX";
    const char* p = mkdtemp(tmpl);
    m_path = p ? p : "/tmp";
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

namespace {

struct Registration {
    TempDir store;
    CLSID clsid = CLSID_NULL;
};

Registration& Registered() {
    static Registration r = [] {
        Registration reg;
        const std::string cmd = std::string("'") + VISTREL_REGSVR_PATH + "' --store '" + reg.store.path() +
                                "' '" + SIM_PLUGIN_PATH + "' 2>&1";
        FILE* p = popen(cmd.c_str(), "r");
        std::string output;
        char buf[512];
        while (p && fgets(buf, sizeof buf, p)) output += buf;
        const int status = p ? pclose(p) : -1;
        EXPECT_EQ(status, 0) << output;
        setenv("VISTREL_CLASS_STORE", reg.store.path().c_str(), 1);
        EXPECT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        EXPECT_EQ(CLSIDFromProgID(u"Brindlex.OPC.Simulation", &reg.clsid), S_OK);
        return reg;
    }();
    return r;
}

}  // namespace

const CLSID& RegisteredClass() {
    return Registered().clsid;
}
const std::string& ClassStoreDir() {
    return Registered().store.path();
}

IClassFactory* Factory() {
    IClassFactory* f = nullptr;
    EXPECT_EQ(CoGetClassObject(RegisteredClass(), CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&f)),
              S_OK);
    return f;
}

IOPCHDA_Server* CreateServer(const std::map<std::string, std::string>& env) {
    const CLSID& clsid = RegisteredClass();
    for (const char* name : {"VISTREL_SIM_DB", "VISTREL_SIM_MAX_VALUES", "VISTREL_SIM_MAX_CALL_VALUES",
                             "VISTREL_SIM_ITEMS", "VISTREL_SIM_CACHE_VALUES", "VISTREL_SIM_BUSY_TIMEOUT_MS"})
        unsetenv(name);
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    MULTI_QI qi[2] = {{&IID_IOPCHDA_Server, nullptr, S_OK}, {&IID_IOPCHDA_AsyncRead, nullptr, S_OK}};
    EXPECT_EQ(CoCreateInstanceEx(clsid, nullptr, CLSCTX_INPROC_SERVER, nullptr, 2, qi), S_OK);
    if (qi[1].pItf) qi[1].pItf->Release();
    return static_cast<IOPCHDA_Server*>(qi[0].pItf);
}

Val ValOf(const VARIANT& v) {
    Val r;
    r.vt = v.vt;
    switch (v.vt) {
        case VT_I1:
            r.num = v.cVal;
            break;
        case VT_I2:
            r.num = v.iVal;
            break;
        case VT_I4:
            r.num = v.lVal;
            break;
        case VT_UI1:
            r.num = v.bVal;
            break;
        case VT_UI2:
            r.num = v.uiVal;
            break;
        case VT_UI4:
            r.num = v.ulVal;
            break;
        case VT_R4:
            r.num = v.fltVal;
            break;
        case VT_R8:
            r.num = v.dblVal;
            break;
        case VT_DATE:
            r.num = v.date;
            break;
        case VT_BOOL:
            r.num = v.boolVal;
            break;
        case VT_CY:
            r.raw = v.cyVal.int64;
            r.num = static_cast<double>(v.cyVal.int64) / 10000.0;
            break;
        case VT_BSTR:
            r.text = v.bstrVal ? std::u16string(v.bstrVal, SysStringLen(v.bstrVal)) : u"";
            break;
        default:
            break;
    }
    return r;
}

In Text(Ticks t, std::u16string s, DWORD quality) {
    In in{t, {}, quality};
    VariantInit(&in.v);
    in.v.vt = VT_BSTR;
    in.v.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return in;
}

std::u16string U16(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

In Real(Ticks t, double x, DWORD quality) {
    In in{t, {}, quality};
    VariantInit(&in.v);
    in.v.vt = VT_R8;
    in.v.dblVal = x;
    return in;
}

namespace {

// OPCHDA_TIME records that point into the Time objects' text.
OPCHDA_TIME Record(const Time& t) {
    OPCHDA_TIME r{};
    r.bString = t.text ? TRUE : FALSE;
    r.szTime = const_cast<LPWSTR>(t.s.c_str());
    r.ftTime = U64ToFileTime(t.ft);
    return r;
}

// Copies and frees a read's records.
void Take(Reply& reply, OPCHDA_ITEM* items, HRESULT* errors, DWORD n) {
    reply.nullOutputs = items == nullptr && errors == nullptr;
    if (FAILED(reply.hr)) {
        EXPECT_TRUE(reply.nullOutputs) << "out pointers of a failed call must be NULL";
        return;
    }
    for (DWORD k = 0; items && errors && k < n; ++k) {
        ItemReply r;
        OPCHDA_ITEM& it = items[k];
        r.code = errors[k];
        r.hClient = it.hClient;
        r.aggregate = it.haAggregate;
        r.nullArrays = !it.pftTimeStamps && !it.pdwQualities && !it.pvDataValues;
        if (it.dwCount) {
            EXPECT_TRUE(it.pftTimeStamps && it.pdwQualities && it.pvDataValues);
        }
        for (DWORD j = 0; j < it.dwCount && it.pftTimeStamps && it.pdwQualities && it.pvDataValues; ++j) {
            r.t.push_back(FileTimeToU64(it.pftTimeStamps[j]));
            r.q.push_back(it.pdwQualities[j]);
            r.v.push_back(ValOf(it.pvDataValues[j]));
            VariantClear(&it.pvDataValues[j]);
        }
        CoTaskMemFree(it.pftTimeStamps);
        CoTaskMemFree(it.pdwQualities);
        CoTaskMemFree(it.pvDataValues);
        reply.items.push_back(std::move(r));
    }
    CoTaskMemFree(items);
    CoTaskMemFree(errors);
}

std::vector<HRESULT> Codes(HRESULT hr, HRESULT* errors, std::size_t n) {
    std::vector<HRESULT> codes;
    if (FAILED(hr)) {
        EXPECT_EQ(errors, nullptr) << "ppErrors of a failed call must be NULL";
    } else if (errors) {
        codes.assign(errors, errors + n);
    }
    CoTaskMemFree(errors);
    return codes;
}

}  // namespace

Client::Client(const std::string& db, std::map<std::string, std::string> env) {
    env["VISTREL_SIM_DB"] = db;
    m_server = CreateServer(env);
    if (!m_server) return;
    EXPECT_EQ(m_server->QueryInterface(IID_IOPCHDA_SyncRead, reinterpret_cast<void**>(&m_read)), S_OK);
    EXPECT_EQ(m_server->QueryInterface(IID_IOPCHDA_SyncUpdate, reinterpret_cast<void**>(&m_update)), S_OK);
}

Client::~Client() {
    if (m_update) m_update->Release();
    if (m_read) m_read->Release();
    if (m_server) m_server->Release();
}

OPCHANDLE Client::Handle(const std::u16string& id, OPCHANDLE client) {
    LPWSTR ids[] = {const_cast<LPWSTR>(id.c_str())};
    OPCHANDLE* servers = nullptr;
    HRESULT* errors = nullptr;
    HRESULT hr = m_server->GetItemHandles(1, ids, &client, &servers, &errors);
    OPCHANDLE h = 0;
    EXPECT_EQ(hr, S_OK) << "item " << std::string(id.begin(), id.end());
    if (SUCCEEDED(hr) && servers && errors) {
        EXPECT_EQ(errors[0], S_OK);
        h = servers[0];
    }
    CoTaskMemFree(servers);
    CoTaskMemFree(errors);
    return h;
}

Reply Client::ReadRaw(const Time& start, const Time& end, DWORD n, bool bounds,
                      const std::vector<OPCHANDLE>& h) {
    Reply reply;
    OPCHDA_TIME s = Record(start), e = Record(end);
    OPCHDA_ITEM* items = nullptr;
    HRESULT* errors = nullptr;
    std::vector<OPCHANDLE> handles = h;
    reply.hr = m_read->ReadRaw(&s, &e, n, bounds ? TRUE : FALSE, static_cast<DWORD>(handles.size()),
                               handles.data(), &items, &errors);
    reply.startOut = FileTimeToU64(s.ftTime);
    reply.endOut = FileTimeToU64(e.ftTime);
    Take(reply, items, errors, static_cast<DWORD>(handles.size()));
    return reply;
}

Reply Client::ReadProcessed(const Time& start, const Time& end, Ticks interval,
                            const std::vector<OPCHANDLE>& h, const std::vector<DWORD>& aggregates) {
    Reply reply;
    OPCHDA_TIME s = Record(start), e = Record(end);
    OPCHDA_ITEM* items = nullptr;
    HRESULT* errors = nullptr;
    std::vector<OPCHANDLE> handles = h;
    std::vector<DWORD> aggs = aggregates;
    reply.hr = m_read->ReadProcessed(&s, &e, U64ToFileTime(interval), static_cast<DWORD>(handles.size()),
                                     handles.data(), aggs.data(), &items, &errors);
    reply.startOut = FileTimeToU64(s.ftTime);
    reply.endOut = FileTimeToU64(e.ftTime);
    Take(reply, items, errors, static_cast<DWORD>(handles.size()));
    return reply;
}

Reply Client::ReadAtTime(const std::vector<Ticks>& times, const std::vector<OPCHANDLE>& h) {
    Reply reply;
    std::vector<FILETIME> ft;
    for (Ticks t : times) ft.push_back(U64ToFileTime(t));
    OPCHDA_ITEM* items = nullptr;
    HRESULT* errors = nullptr;
    std::vector<OPCHANDLE> handles = h;
    reply.hr = m_read->ReadAtTime(static_cast<DWORD>(ft.size()), ft.data(),
                                  static_cast<DWORD>(handles.size()), handles.data(), &items, &errors);
    Take(reply, items, errors, static_cast<DWORD>(handles.size()));
    return reply;
}

std::vector<ModifiedReply> Client::ReadModified(const Time& start, const Time& end, DWORD n,
                                                const std::vector<OPCHANDLE>& h, HRESULT* hrOut) {
    OPCHDA_TIME s = Record(start), e = Record(end);
    OPCHDA_MODIFIEDITEM* items = nullptr;
    HRESULT* errors = nullptr;
    std::vector<OPCHANDLE> handles = h;
    HRESULT hr =
        m_read->ReadModified(&s, &e, n, static_cast<DWORD>(handles.size()), handles.data(), &items, &errors);
    if (hrOut) *hrOut = hr;
    std::vector<ModifiedReply> out;
    if (FAILED(hr)) {
        EXPECT_TRUE(!items && !errors);
        return out;
    }
    for (std::size_t k = 0; k < handles.size(); ++k) {
        ModifiedReply r;
        OPCHDA_MODIFIEDITEM& it = items[k];
        r.code = errors[k];
        for (DWORD j = 0; j < it.dwCount; ++j) {
            r.t.push_back(FileTimeToU64(it.pftTimeStamps[j]));
            r.v.push_back(ValOf(it.pvDataValues[j]));
            r.modTime.push_back(FileTimeToU64(it.pftModificationTime[j]));
            r.edit.push_back(it.pEditType[j]);
            r.user.push_back(it.szUser[j]);
            VariantClear(&it.pvDataValues[j]);
            CoTaskMemFree(it.szUser[j]);
        }
        CoTaskMemFree(it.pftTimeStamps);
        CoTaskMemFree(it.pdwQualities);
        CoTaskMemFree(it.pvDataValues);
        CoTaskMemFree(it.pftModificationTime);
        CoTaskMemFree(it.pEditType);
        CoTaskMemFree(it.szUser);
        out.push_back(std::move(r));
    }
    CoTaskMemFree(items);
    CoTaskMemFree(errors);
    return out;
}

std::vector<HRESULT> Client::Write(Op op, const std::vector<OPCHANDLE>& h, std::vector<In> values,
                                   HRESULT* hrOut) {
    std::vector<OPCHANDLE> handles = h;
    std::vector<FILETIME> ft;
    std::vector<VARIANT> v;
    std::vector<DWORD> q;
    for (const In& in : values) {
        ft.push_back(U64ToFileTime(in.t));
        v.push_back(in.v);
        q.push_back(in.quality);
    }
    HRESULT* errors = nullptr;
    const DWORD n = static_cast<DWORD>(values.size());
    HRESULT hr = op == Op::Insert
                     ? m_update->Insert(n, handles.data(), ft.data(), v.data(), q.data(), &errors)
                 : op == Op::Replace
                     ? m_update->Replace(n, handles.data(), ft.data(), v.data(), q.data(), &errors)
                     : m_update->InsertReplace(n, handles.data(), ft.data(), v.data(), q.data(), &errors);
    for (auto& in : values) VariantClear(&in.v);
    if (hrOut) *hrOut = hr;
    return Codes(hr, errors, n);
}

std::vector<HRESULT> Client::Write(Op op, OPCHANDLE h, std::vector<In> values, HRESULT* hr) {
    std::vector<OPCHANDLE> handles(values.size(), h);
    return Write(op, handles, std::move(values), hr);
}

std::vector<HRESULT> Client::DeleteAtTime(const std::vector<OPCHANDLE>& h, const std::vector<Ticks>& t,
                                          HRESULT* hrOut) {
    std::vector<OPCHANDLE> handles = h;
    std::vector<FILETIME> ft;
    for (Ticks x : t) ft.push_back(U64ToFileTime(x));
    HRESULT* errors = nullptr;
    HRESULT hr =
        m_update->DeleteAtTime(static_cast<DWORD>(handles.size()), handles.data(), ft.data(), &errors);
    if (hrOut) *hrOut = hr;
    return Codes(hr, errors, handles.size());
}

std::vector<HRESULT> Client::DeleteRaw(const Time& start, const Time& end, const std::vector<OPCHANDLE>& h,
                                       HRESULT* hrOut) {
    OPCHDA_TIME s = Record(start), e = Record(end);
    std::vector<OPCHANDLE> handles = h;
    HRESULT* errors = nullptr;
    HRESULT hr = m_update->DeleteRaw(&s, &e, static_cast<DWORD>(handles.size()), handles.data(), &errors);
    if (hrOut) *hrOut = hr;
    return Codes(hr, errors, handles.size());
}

std::u16string Client::StatusString() {
    OPCHDA_SERVERSTATUS status{};
    FILETIME *now = nullptr, *start = nullptr;
    WORD major = 0, minor = 0, build = 0;
    DWORD max = 0;
    LPWSTR text = nullptr, vendor = nullptr;
    EXPECT_EQ(
        m_server->GetHistorianStatus(&status, &now, &start, &major, &minor, &build, &max, &text, &vendor),
        S_OK);
    std::u16string s = text ? text : u"";
    CoTaskMemFree(now);
    CoTaskMemFree(start);
    CoTaskMemFree(text);
    CoTaskMemFree(vendor);
    return s;
}

}  // namespace simtest
