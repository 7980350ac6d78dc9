// The recording HDA test server: records every call and answers as the test scripts it. What it
// answers by default and how a test drives it is described in recording_control.h.
#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <type_traits>
#include <utility>

#include "com/oleauto.h"
#include "com/text.h"
#include "tests/plugins/recording_control.h"

#define HDATEST_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using namespace hdatest;

// The default answers take their blocks through Must/MustBstr: when one is refused (memory running out,
// or the tests' failure injection), the answer in progress stops, every block it took is freed, the
// out-pointers that held them are cleared and the method fails with E_OUTOFMEMORY.
struct OutOfTaskMemory {};
struct AnswerArena {
    std::vector<std::pair<void*, bool>> blocks;  // block, is a BSTR
    void Free() {
        for (auto& [p, bstr] : blocks) {
            if (bstr)
                SysFreeString(static_cast<BSTR>(p));
            else
                CoTaskMemFree(p);
        }
    }
    bool Holds(const void* p) const {
        return p && std::any_of(blocks.begin(), blocks.end(), [p](const auto& b) { return b.first == p; });
    }
};
thread_local AnswerArena* t_arena = nullptr;

template <class T>
T* Must(T* p) {
    if (p == nullptr) throw OutOfTaskMemory{};
    if (t_arena) t_arena->blocks.emplace_back(const_cast<void*>(static_cast<const void*>(p)), false);
    return p;
}
inline BSTR MustBstr(BSTR p) {
    if (p == nullptr) throw OutOfTaskMemory{};
    if (t_arena) t_arena->blocks.emplace_back(p, true);
    return p;
}
// An out-pointer argument that holds a block of the failed answer is cleared.
template <class A>
void ClearFreedOut(const AnswerArena& arena, A arg) {
    if constexpr (std::is_pointer_v<A> && std::is_pointer_v<std::remove_pointer_t<A>> &&
                  !std::is_const_v<std::remove_pointer_t<A>>) {
        if (arg && arena.Holds(*arg)) *arg = nullptr;
    }
}

std::atomic<long> g_pluginLive{0};
std::atomic<long> g_pluginRefs{0};

// ---- The address space as a tree ----

struct Node {
    std::u16string name;
    bool item = false;
    std::vector<std::unique_ptr<Node>> children;  // in the order the IDs were given

    Node* Child(std::u16string_view n) const {
        for (const auto& c : children)
            if (c->name == n) return c.get();
        return nullptr;
    }
    bool IsBranch() const { return !children.empty(); }
};

std::vector<std::u16string> Split(std::u16string_view id, char16_t sep) {
    std::vector<std::u16string> parts;
    std::size_t start = 0;
    while (true) {
        std::size_t p = id.find(sep, start);
        parts.emplace_back(
            id.substr(start, p == std::u16string_view::npos ? std::u16string_view::npos : p - start));
        if (p == std::u16string_view::npos) break;
        start = p + 1;
    }
    return parts;
}

std::shared_ptr<const Node> BuildTree(const std::vector<std::u16string>& ids, char16_t sep) {
    auto root = std::make_shared<Node>();
    for (const auto& id : ids) {
        Node* n = root.get();
        for (const auto& part : Split(id, sep)) {
            Node* c = n->Child(part);
            if (c == nullptr) {
                n->children.push_back(std::make_unique<Node>());
                c = n->children.back().get();
                c->name = part;
            }
            n = c;
        }
        n->item = true;
    }
    return root;
}

// ---- Per-class state ----

struct ClassState {
    CLSID clsid{};
    Profile profile = Profile::Full;
    std::mutex mutex;  // guards calls, hooks (copies), space
    std::vector<RecordedCall> calls;
    RecordingHooks hooks;
    std::vector<std::u16string> space = DefaultAddressSpace();
    char16_t separator = u'.';
    std::atomic<DWORD> offered{kOfferAll};
    std::atomic<long> live{0};
    std::atomic<long> refs{0};
    std::atomic<unsigned> serial{0};
    std::atomic<long> created{0};
    std::atomic<DWORD> misbehaviour{0};

    std::size_t Append(RecordedCall&& c) {
        std::lock_guard lock(mutex);
        calls.push_back(std::move(c));
        return calls.size() - 1;
    }
    void SetResult(std::size_t index, const std::string& method, HRESULT hr) {
        std::lock_guard lock(mutex);
        if (index < calls.size() && calls[index].method == method) calls[index].result = hr;
    }
    template <class Hook>
    Hook HookOf(Hook RecordingHooks::*member) {
        std::lock_guard lock(mutex);
        return hooks.*member;
    }
    void Reset() {
        std::lock_guard lock(mutex);
        calls.clear();
        hooks = RecordingHooks{};
        space = DefaultAddressSpace();
        separator = u'.';
        offered = ProfileOffers(profile);
        serial = 0;
        created = 0;
        misbehaviour = 0;
    }
};

bool ParseClsid(REFCLSID clsid, Profile* profile) {
    const CLSID base = RecordingClsid(Profile::Full);
    if (clsid.Data1 != base.Data1 || clsid.Data2 != base.Data2 || clsid.Data3 != base.Data3) return false;
    for (int i : {0, 1, 2, 3, 6})
        if (clsid.Data4[i] != base.Data4[i]) return false;
    if (clsid.Data4[7] > static_cast<BYTE>(Profile::NoServer)) return false;
    *profile = static_cast<Profile>(clsid.Data4[7]);
    return true;
}

ClassState* StateFor(REFCLSID clsid) {
    static std::mutex mutex;
    static std::map<GUID, std::unique_ptr<ClassState>> states;
    Profile profile;
    if (!ParseClsid(clsid, &profile)) return nullptr;
    std::lock_guard lock(mutex);
    auto& s = states[clsid];
    if (!s) {
        s = std::make_unique<ClassState>();
        s->clsid = clsid;
        s->profile = profile;
        s->offered = ProfileOffers(profile);
    }
    return s.get();
}

// ---- Recording helpers ----

std::u16string Ascii(std::string_view s) {
    return std::u16string(s.begin(), s.end());
}

template <class T>
std::u16string Number(T v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return Ascii(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
}

RecordedValue RecordValue(const VARIANT& v) {
    RecordedValue r;
    r.vt = v.vt;
    switch (v.vt) {
        case VT_I1:
            r.text = Number(static_cast<int>(v.cVal));
            break;
        case VT_I2:
            r.text = Number(v.iVal);
            break;
        case VT_I4:
            r.text = Number(v.lVal);
            break;
        case VT_I8:
            r.text = Number(v.llVal);
            break;
        case VT_UI1:
            r.text = Number(static_cast<unsigned>(v.bVal));
            break;
        case VT_UI2:
            r.text = Number(v.uiVal);
            break;
        case VT_UI4:
            r.text = Number(v.ulVal);
            break;
        case VT_UI8:
            r.text = Number(v.ullVal);
            break;
        case VT_INT:
            r.text = Number(v.intVal);
            break;
        case VT_UINT:
            r.text = Number(v.uintVal);
            break;
        case VT_R4:
            r.text = Number(v.fltVal);
            break;
        case VT_R8:
            r.text = Number(v.dblVal);
            break;
        case VT_DATE:
            r.text = Number(v.date);
            break;
        case VT_BOOL:
            r.text = Number(v.boolVal);
            break;
        case VT_CY: {
            LONGLONG units = v.cyVal.int64;
            ULONGLONG mag = units < 0 ? 0ULL - static_cast<ULONGLONG>(units) : static_cast<ULONGLONG>(units);
            std::u16string frac = Number(mag % 10000);
            frac.insert(0, 4 - frac.size(), u'0');
            while (!frac.empty() && frac.back() == u'0') frac.pop_back();
            r.text = (units < 0 ? u"-" : u"") + Number(mag / 10000) + (frac.empty() ? u"" : u"." + frac);
            break;
        }
        case VT_ERROR: {
            char buf[16];
            std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(v.scode));
            r.text = Ascii(buf);
            break;
        }
        case VT_BSTR:
            if (v.bstrVal) r.text.assign(v.bstrVal, SysStringLen(v.bstrVal));
            break;
        default:
            break;
    }
    return r;
}

RecordedCall NewCall(const char* method, unsigned server) {
    RecordedCall c;
    c.method = method;
    c.server = server;
    return c;
}

void NoteNull(RecordedCall& c, const char* name, const void* p) {
    if (p == nullptr) c.nullArgs.emplace_back(name);
}

template <class T, class U>
void CopyArray(RecordedCall& c, const char* name, const T* p, DWORD n, std::vector<U>* out) {
    NoteNull(c, name, p);
    if (p) out->assign(p, p + n);
}

void CopyTimes(RecordedCall& c, const char* name, const FILETIME* p, DWORD n, std::vector<ULONGLONG>* out) {
    NoteNull(c, name, p);
    if (p)
        for (DWORD i = 0; i < n; ++i) out->push_back(FileTimeToU64(p[i]));
}

void CopyStrings(RecordedCall& c, const char* name, const LPWSTR* p, DWORD n,
                 std::vector<std::u16string>* out) {
    NoteNull(c, name, p);
    if (!p) return;
    for (DWORD i = 0; i < n; ++i) {
        if (p[i] == nullptr) {
            c.nullArgs.push_back(std::string(name) + "[" + std::to_string(i) + "]");
            out->emplace_back();
        } else {
            out->emplace_back(p[i]);
        }
    }
}

void CopyValues(RecordedCall& c, const char* name, const VARIANT* p, DWORD n,
                std::vector<RecordedValue>* out) {
    NoteNull(c, name, p);
    if (p)
        for (DWORD i = 0; i < n; ++i) out->push_back(RecordValue(p[i]));
}

std::optional<RecordedTime> RecordTime(RecordedCall& c, const char* name, const OPCHDA_TIME* t) {
    NoteNull(c, name, t);
    if (!t) return std::nullopt;
    RecordedTime r;
    r.bString = t->bString;
    r.szTimeNull = t->szTime == nullptr;
    if (t->szTime) r.szTime = t->szTime;
    r.ftTime = FileTimeToU64(t->ftTime);
    return r;
}

void CopyText(RecordedCall& c, const char* name, LPCWSTR s) {
    NoteNull(c, name, s);
    if (s) c.text = s;
}

// ---- Objects ----

// IUnknown with the class's counters: live objects and references held.
template <class... Interfaces>
class Tracked : public Interfaces... {
public:
    ULONG STDMETHODCALLTYPE AddRef() override {
        ++m_state->refs;
        ++g_pluginRefs;
        return ++m_ref;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        --m_state->refs;
        --g_pluginRefs;
        ULONG n = --m_ref;
        if (n == 0) delete this;
        return n;
    }

protected:
    explicit Tracked(ClassState* state) : m_state(state) {
        ++m_state->live;
        ++g_pluginLive;
        ++m_state->refs;
        ++g_pluginRefs;
    }
    virtual ~Tracked() {
        --m_state->live;
        --g_pluginLive;
    }

    // Records the call, runs the hook when one is set (else the default), records the result.
    template <class Hook, class Default, class... Args>
    HRESULT Answer(RecordedCall&& call, Hook RecordingHooks::*member, Default&& byDefault, Args... args) {
        std::string method = call.method;
        std::size_t index = m_state->Append(std::move(call));
        Hook hook = m_state->HookOf(member);
        HRESULT hr = S_OK;
        if (hook) {
            hr = hook(args...);
        } else {
            AnswerArena arena;
            AnswerArena* outer = std::exchange(t_arena, &arena);
            try {
                hr = byDefault();
            } catch (const OutOfTaskMemory&) {
                (ClearFreedOut(arena, args), ...);
                arena.Free();
                hr = E_OUTOFMEMORY;
            }
            t_arena = outer;
        }
        m_state->SetResult(index, method, hr);
        return hr;
    }

    ClassState* m_state;
    std::atomic<ULONG> m_ref{1};
};

class Control final : public IRecordingControl {
public:
    explicit Control(ClassState* state) : m_state(state) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IRecordingControl) return E_NOINTERFACE;
        *ppv = static_cast<IRecordingControl*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_ref; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG n = --m_ref;
        if (n == 0) delete this;
        return n;
    }

    void Reset() override { m_state->Reset(); }
    std::vector<RecordedCall> Calls() override {
        std::lock_guard lock(m_state->mutex);
        return m_state->calls;
    }
    std::vector<RecordedCall> CallsTo(const std::string& method) override {
        std::lock_guard lock(m_state->mutex);
        std::vector<RecordedCall> out;
        for (const auto& c : m_state->calls)
            if (c.method == method) out.push_back(c);
        return out;
    }
    void ClearCalls() override {
        std::lock_guard lock(m_state->mutex);
        m_state->calls.clear();
    }
    RecordingHooks& Hooks() override { return m_state->hooks; }
    void SetOffered(DWORD offerMask) override { m_state->offered = offerMask & kOfferAll; }
    DWORD Offered() override { return m_state->offered; }
    void SetAddressSpace(const std::vector<std::u16string>& itemIds, char16_t separator) override {
        std::lock_guard lock(m_state->mutex);
        m_state->space = itemIds;
        m_state->separator = separator;
    }
    void SetMisbehaviour(DWORD flags) override { m_state->misbehaviour = flags; }
    DWORD Misbehaviour() override { return m_state->misbehaviour; }
    long ServersCreated() override { return m_state->created; }
    long LiveObjects() override { return m_state->live; }
    long OutstandingReferences() override { return m_state->refs; }
    long PluginLiveObjects() override { return g_pluginLive; }
    long PluginOutstandingReferences() override { return g_pluginRefs; }

private:
    ~Control() = default;
    ClassState* m_state;
    std::atomic<ULONG> m_ref{1};
};

HRESULT NewControl(ClassState* state, void** ppv) {
    *ppv = static_cast<IRecordingControl*>(new Control(state));
    return S_OK;
}

// Enumerator of browse names.
class NameEnumerator final : public Tracked<IEnumString> {
public:
    NameEnumerator(ClassState* state, unsigned server, OPCHDA_BROWSETYPE type,
                   std::shared_ptr<const std::vector<std::u16string>> names, std::size_t pos)
        : Tracked(state), m_server(server), m_type(type), m_names(std::move(names)), m_pos(pos) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IEnumString) return E_NOINTERFACE;
        *ppv = static_cast<IEnumString*>(this);
        AddRef();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) override {
        RecordedCall c = NewCall("IEnumString::Next", m_server);
        c.count = celt;
        c.browseType = m_type;
        NoteNull(c, "rgelt", rgelt);
        NoteNull(c, "pceltFetched", pceltFetched);
        ULONG call = m_calls++;
        std::string method = c.method;
        std::size_t index = m_state->Append(std::move(c));
        auto hook = m_state->HookOf(&RecordingHooks::EnumNext);
        HRESULT hr = hook ? hook(m_type, call, *m_names, celt, rgelt, pceltFetched)
                          : DefaultNext(celt, rgelt, pceltFetched);
        m_state->SetResult(index, method, hr);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override {
        std::size_t left = m_names->size() - m_pos;
        if (celt > left) {
            m_pos = m_names->size();
            return S_FALSE;
        }
        m_pos += celt;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        m_pos = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumString** ppenum) override {
        if (ppenum == nullptr) return E_POINTER;
        *ppenum = new NameEnumerator(m_state, m_server, m_type, m_names, m_pos);
        return S_OK;
    }

private:
    HRESULT DefaultNext(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) {
        if (pceltFetched) *pceltFetched = 0;
        if (celt == 0) return S_OK;
        if (rgelt == nullptr) return E_POINTER;
        if (celt > 1 && pceltFetched == nullptr) return E_INVALIDARG;
        ULONG n = 0;
        while (n < celt && m_pos < m_names->size()) {
            rgelt[n] = TaskString((*m_names)[m_pos]);
            if (rgelt[n] == nullptr) {
                while (n > 0) CoTaskMemFree(rgelt[--n]);
                return E_OUTOFMEMORY;
            }
            ++n;
            ++m_pos;
        }
        if (pceltFetched) *pceltFetched = n;
        return n == celt ? S_OK : S_FALSE;
    }

    unsigned m_server;
    OPCHDA_BROWSETYPE m_type;
    std::shared_ptr<const std::vector<std::u16string>> m_names;
    std::size_t m_pos;
    ULONG m_calls = 0;
};

class Browser final : public Tracked<IOPCHDA_Browser> {
public:
    Browser(ClassState* state, unsigned server, std::shared_ptr<const Node> root, char16_t separator)
        : Tracked(state), m_server(server), m_root(std::move(root)), m_separator(separator) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IOPCHDA_Browser) return E_NOINTERFACE;
        *ppv = static_cast<IOPCHDA_Browser*>(this);
        AddRef();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetEnum(OPCHDA_BROWSETYPE dwBrowseType, IEnumString** ppIEnumString) override {
        RecordedCall c = Begin("IOPCHDA_Browser::GetEnum");
        c.browseType = dwBrowseType;
        NoteNull(c, "ppIEnumString", ppIEnumString);
        return Answer(
            std::move(c), &RecordingHooks::GetEnum,
            [&] { return DefaultGetEnum(dwBrowseType, ppIEnumString); }, dwBrowseType, ppIEnumString);
    }
    HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCHDA_BROWSEDIRECTION dwBrowseDirection,
                                                   LPCWSTR szString) override {
        RecordedCall c = Begin("IOPCHDA_Browser::ChangeBrowsePosition");
        c.browseDirection = dwBrowseDirection;
        CopyText(c, "szString", szString);
        return Answer(
            std::move(c), &RecordingHooks::ChangeBrowsePosition,
            [&] { return DefaultChangeBrowsePosition(dwBrowseDirection, szString); }, dwBrowseDirection,
            szString);
    }
    HRESULT STDMETHODCALLTYPE GetItemID(LPCWSTR szNode, LPWSTR* pszItemID) override {
        RecordedCall c = Begin("IOPCHDA_Browser::GetItemID");
        CopyText(c, "szNode", szNode);
        NoteNull(c, "pszItemID", pszItemID);
        return Answer(
            std::move(c), &RecordingHooks::GetItemID, [&] { return DefaultGetItemID(szNode, pszItemID); },
            szNode, pszItemID);
    }
    HRESULT STDMETHODCALLTYPE GetBranchPosition(LPWSTR* pszBranchPos) override {
        RecordedCall c = Begin("IOPCHDA_Browser::GetBranchPosition");
        NoteNull(c, "pszBranchPos", pszBranchPos);
        return Answer(
            std::move(c), &RecordingHooks::GetBranchPosition,
            [&] { return DefaultGetBranchPosition(pszBranchPos); }, pszBranchPos);
    }

private:
    RecordedCall Begin(const char* method) const { return NewCall(method, m_server); }

    const Node* Current() const { return m_path.empty() ? m_root.get() : m_path.back(); }

    std::u16string Join(const std::vector<const Node*>& path, const std::u16string* last) const {
        std::u16string s;
        for (const Node* n : path) {
            if (!s.empty()) s += m_separator;
            s += n->name;
        }
        if (last) {
            if (!s.empty()) s += m_separator;
            s += *last;
        }
        return s;
    }

    void CollectFlat(const Node* n, std::vector<const Node*>& path, std::vector<std::u16string>* out) const {
        for (const auto& c : n->children) {
            if (c->item) out->push_back(Join(path, &c->name));
            if (c->IsBranch()) {
                path.push_back(c.get());
                CollectFlat(c.get(), path, out);
                path.pop_back();
            }
        }
    }

    HRESULT DefaultGetEnum(OPCHDA_BROWSETYPE type, IEnumString** out) {
        if (out == nullptr) return E_INVALIDARG;
        *out = nullptr;
        auto names = std::make_shared<std::vector<std::u16string>>();
        const Node* cur = Current();
        switch (type) {
            case OPCHDA_BRANCH:
                for (const auto& c : cur->children)
                    if (c->IsBranch()) names->push_back(c->name);
                break;
            case OPCHDA_LEAF:
                for (const auto& c : cur->children)
                    if (!c->IsBranch() && c->item) names->push_back(c->name);
                break;
            case OPCHDA_ITEMS:
                for (const auto& c : cur->children)
                    if (c->item) names->push_back(c->name);
                break;
            case OPCHDA_FLAT: {
                std::vector<const Node*> path = m_path;
                CollectFlat(cur, path, names.get());
                break;
            }
            default:
                return E_INVALIDARG;
        }
        bool empty = names->empty();
        *out = new NameEnumerator(m_state, m_server, type, std::move(names), 0);
        return empty ? S_FALSE : S_OK;
    }

    HRESULT DefaultChangeBrowsePosition(OPCHDA_BROWSEDIRECTION dir, LPCWSTR s) {
        if (s == nullptr) return E_INVALIDARG;
        switch (dir) {
            case OPCHDA_BROWSE_UP:
                if (m_path.empty()) return E_FAIL;
                m_path.pop_back();
                return S_OK;
            case OPCHDA_BROWSE_DOWN: {
                const Node* c = Current()->Child(s);
                if (c == nullptr || !c->IsBranch()) return E_FAIL;
                m_path.push_back(c);
                return S_OK;
            }
            case OPCHDA_BROWSE_DIRECT: {
                std::vector<const Node*> path;
                std::u16string_view text(s);
                if (!text.empty()) {
                    const Node* n = m_root.get();
                    for (const auto& part : Split(text, m_separator)) {
                        n = n->Child(part);
                        if (n == nullptr || !n->IsBranch()) return E_FAIL;
                        path.push_back(n);
                    }
                }
                m_path = std::move(path);
                return S_OK;
            }
            default:
                return E_INVALIDARG;
        }
    }

    HRESULT DefaultGetItemID(LPCWSTR node, LPWSTR* out) {
        if (out == nullptr) return E_INVALIDARG;
        *out = nullptr;
        if (node == nullptr) return E_INVALIDARG;
        const Node* c = Current()->Child(node);
        if (c == nullptr || !c->item) return E_FAIL;
        *out = TaskString(Join(m_path, &c->name));
        return *out ? S_OK : E_OUTOFMEMORY;
    }

    HRESULT DefaultGetBranchPosition(LPWSTR* out) {
        if (out == nullptr) return E_INVALIDARG;
        *out = TaskString(Join(m_path, nullptr));
        return *out ? S_OK : E_OUTOFMEMORY;
    }

    unsigned m_server;
    std::shared_ptr<const Node> m_root;
    char16_t m_separator;
    std::vector<const Node*> m_path;  // from the root's child down to the current branch
};

constexpr DWORD kRawQuality = OPC_QUALITY_GOOD | OPCHDA_RAW;
constexpr DWORD kCalculatedQuality = OPC_QUALITY_GOOD | OPCHDA_CALCULATED;

class RecordingServer final
    : public Tracked<IOPCHDA_Server, IOPCHDA_SyncRead, IOPCHDA_SyncUpdate, IOPCHDA_AsyncRead> {
public:
    explicit RecordingServer(ClassState* state) : Tracked(state), m_serial(++state->serial) {}

    // ---- IUnknown ----
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        RecordedCall c = Begin("IUnknown::QueryInterface");
        c.text = com::GuidToString(riid);
        std::size_t index = m_state->Append(std::move(c));
        HRESULT hr = DoQueryInterface(riid, ppv);
        m_state->SetResult(index, "IUnknown::QueryInterface", hr);
        return hr;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        ULONG n = Tracked::AddRef();
        auto hook = m_state->HookOf(&RecordingHooks::AddRef);
        return hook ? hook(n) : n;
    }

    // ---- IOPCHDA_Server ----
    HRESULT STDMETHODCALLTYPE GetItemAttributes(DWORD* pdwCount, DWORD** ppdwAttrID, LPWSTR** ppszAttrName,
                                                LPWSTR** ppszAttrDesc, VARTYPE** ppvtAttrDataType) override {
        RecordedCall c = Begin("IOPCHDA_Server::GetItemAttributes");
        NoteNull(c, "pdwCount", pdwCount);
        NoteNull(c, "ppdwAttrID", ppdwAttrID);
        NoteNull(c, "ppszAttrName", ppszAttrName);
        NoteNull(c, "ppszAttrDesc", ppszAttrDesc);
        NoteNull(c, "ppvtAttrDataType", ppvtAttrDataType);
        return Answer(
            std::move(c), &RecordingHooks::GetItemAttributes,
            [&] {
                return DefaultGetItemAttributes(pdwCount, ppdwAttrID, ppszAttrName, ppszAttrDesc,
                                                ppvtAttrDataType);
            },
            pdwCount, ppdwAttrID, ppszAttrName, ppszAttrDesc, ppvtAttrDataType);
    }
    HRESULT STDMETHODCALLTYPE GetAggregates(DWORD* pdwCount, DWORD** ppdwAggrID, LPWSTR** ppszAggrName,
                                            LPWSTR** ppszAggrDesc) override {
        RecordedCall c = Begin("IOPCHDA_Server::GetAggregates");
        NoteNull(c, "pdwCount", pdwCount);
        NoteNull(c, "ppdwAggrID", ppdwAggrID);
        NoteNull(c, "ppszAggrName", ppszAggrName);
        NoteNull(c, "ppszAggrDesc", ppszAggrDesc);
        return Answer(
            std::move(c), &RecordingHooks::GetAggregates,
            [&] { return DefaultGetAggregates(pdwCount, ppdwAggrID, ppszAggrName, ppszAggrDesc); }, pdwCount,
            ppdwAggrID, ppszAggrName, ppszAggrDesc);
    }
    HRESULT STDMETHODCALLTYPE GetHistorianStatus(OPCHDA_SERVERSTATUS* pwStatus, FILETIME** pftCurrentTime,
                                                 FILETIME** pftStartTime, WORD* pwMajorVersion,
                                                 WORD* pwMinorVersion, WORD* pwBuildNumber,
                                                 DWORD* pdwMaxReturnValues, LPWSTR* ppszStatusString,
                                                 LPWSTR* ppszVendorInfo) override {
        RecordedCall c = Begin("IOPCHDA_Server::GetHistorianStatus");
        NoteNull(c, "pwStatus", pwStatus);
        NoteNull(c, "pftCurrentTime", pftCurrentTime);
        NoteNull(c, "pftStartTime", pftStartTime);
        NoteNull(c, "pwMajorVersion", pwMajorVersion);
        NoteNull(c, "pwMinorVersion", pwMinorVersion);
        NoteNull(c, "pwBuildNumber", pwBuildNumber);
        NoteNull(c, "pdwMaxReturnValues", pdwMaxReturnValues);
        NoteNull(c, "ppszStatusString", ppszStatusString);
        NoteNull(c, "ppszVendorInfo", ppszVendorInfo);
        return Answer(
            std::move(c), &RecordingHooks::GetHistorianStatus,
            [&] {
                return DefaultGetHistorianStatus(pwStatus, pftCurrentTime, pftStartTime, pwMajorVersion,
                                                 pwMinorVersion, pwBuildNumber, pdwMaxReturnValues,
                                                 ppszStatusString, ppszVendorInfo);
            },
            pwStatus, pftCurrentTime, pftStartTime, pwMajorVersion, pwMinorVersion, pwBuildNumber,
            pdwMaxReturnValues, ppszStatusString, ppszVendorInfo);
    }
    HRESULT STDMETHODCALLTYPE GetItemHandles(DWORD dwCount, LPWSTR* pszItemID, OPCHANDLE* phClient,
                                             OPCHANDLE** pphServer, HRESULT** ppErrors) override {
        RecordedCall c = Begin("IOPCHDA_Server::GetItemHandles");
        c.count = dwCount;
        CopyStrings(c, "pszItemID", pszItemID, dwCount, &c.itemIds);
        CopyArray(c, "phClient", phClient, dwCount, &c.clientHandles);
        NoteNull(c, "pphServer", pphServer);
        NoteNull(c, "ppErrors", ppErrors);
        return Answer(
            std::move(c), &RecordingHooks::GetItemHandles,
            [&] { return DefaultGetItemHandles(dwCount, pszItemID, phClient, pphServer, ppErrors); }, dwCount,
            pszItemID, phClient, pphServer, ppErrors);
    }
    HRESULT STDMETHODCALLTYPE ReleaseItemHandles(DWORD dwCount, OPCHANDLE* phServer,
                                                 HRESULT** ppErrors) override {
        RecordedCall c = Begin("IOPCHDA_Server::ReleaseItemHandles");
        c.count = dwCount;
        CopyArray(c, "phServer", phServer, dwCount, &c.serverHandles);
        NoteNull(c, "ppErrors", ppErrors);
        return Answer(
            std::move(c), &RecordingHooks::ReleaseItemHandles,
            [&] { return DefaultReleaseItemHandles(dwCount, phServer, ppErrors); }, dwCount, phServer,
            ppErrors);
    }
    HRESULT STDMETHODCALLTYPE ValidateItemIDs(DWORD dwCount, LPWSTR* pszItemID, HRESULT** ppErrors) override {
        RecordedCall c = Begin("IOPCHDA_Server::ValidateItemIDs");
        c.count = dwCount;
        CopyStrings(c, "pszItemID", pszItemID, dwCount, &c.itemIds);
        NoteNull(c, "ppErrors", ppErrors);
        return Answer(
            std::move(c), &RecordingHooks::ValidateItemIDs,
            [&] {
                // A server that stops answering, for tests across processes: while the file that
                // HDATEST_HOLD_VALIDATE names exists, ValidateItemIDs waits (a minute at most).
                if (const char* hold = getenv("HDATEST_HOLD_VALIDATE")) {
                    for (int i = 0; i < 12000 && std::filesystem::exists(hold); ++i) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    }
                }
                return DefaultValidateItemIDs(dwCount, pszItemID, ppErrors);
            },
            dwCount, pszItemID, ppErrors);
    }
    HRESULT STDMETHODCALLTYPE CreateBrowse(DWORD dwCount, DWORD* pdwAttrID, OPCHDA_OPERATORCODES* pOperator,
                                           VARIANT* vFilter, IOPCHDA_Browser** pphBrowser,
                                           HRESULT** ppErrors) override {
        RecordedCall c = Begin("IOPCHDA_Server::CreateBrowse");
        c.count = dwCount;
        NoteNull(c, "pdwAttrID", pdwAttrID);
        NoteNull(c, "pOperator", pOperator);
        NoteNull(c, "vFilter", vFilter);
        NoteNull(c, "pphBrowser", pphBrowser);
        NoteNull(c, "ppErrors", ppErrors);
        if (pdwAttrID && pOperator && vFilter)
            for (DWORD i = 0; i < dwCount; ++i)
                c.filters.push_back(RecordedFilter{pdwAttrID[i], pOperator[i], RecordValue(vFilter[i])});
        return Answer(
            std::move(c), &RecordingHooks::CreateBrowse,
            [&] { return DefaultCreateBrowse(dwCount, pdwAttrID, pOperator, vFilter, pphBrowser, ppErrors); },
            dwCount, pdwAttrID, pOperator, vFilter, pphBrowser, ppErrors);
    }

    // ---- IOPCHDA_SyncRead ----
    HRESULT STDMETHODCALLTYPE ReadRaw(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime, DWORD dwNumValues,
                                      BOOL bBounds, DWORD dwNumItems, OPCHANDLE* phServer,
                                      OPCHDA_ITEM** ppItemValues, HRESULT** ppErrors) override {
        RecordedCall c = Begin("IOPCHDA_SyncRead::ReadRaw");
        RecordRange(c, htStartTime, htEndTime);
        c.numValues = dwNumValues;
        c.bounds = bBounds;
        RecordItems(c, dwNumItems, phServer);
        NoteNull(c, "ppItemValues", ppItemValues);
        NoteNull(c, "ppErrors", ppErrors);
        return Answer(
            std::move(c), &RecordingHooks::ReadRaw,
            [&] {
                // A server that crashes, for tests across processes (where hooks cannot reach): the
                // class whose ProgID HDATEST_ABORT_READRAW names aborts inside ReadRaw.
                const char* crash = getenv("HDATEST_ABORT_READRAW");
                if (crash && com::Utf8ToUtf16(crash) == ProfileProgId(m_state->profile)) abort();
                return DefaultRead(htStartTime, htEndTime, dwNumItems, phServer, nullptr, nullptr, 0,
                                   kRawQuality, ppItemValues, ppErrors);
            },
            htStartTime, htEndTime, dwNumValues, bBounds, dwNumItems, phServer, ppItemValues, ppErrors);
    }
    HRESULT STDMETHODCALLTYPE ReadProcessed(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime,
                                            FILETIME ftResampleInterval, DWORD dwNumItems,
                                            OPCHANDLE* phServer, DWORD* haAggregate,
                                            OPCHDA_ITEM** ppItemValues, HRESULT** ppErrors) override {
        RecordedCall c = Begin("IOPCHDA_SyncRead::ReadProcessed");
        RecordRange(c, htStartTime, htEndTime);
        c.interval = FileTimeToU64(ftResampleInterval);
        RecordItems(c, dwNumItems, phServer);
        CopyArray(c, "haAggregate", haAggregate, dwNumItems, &c.aggregates);
        NoteNull(c, "ppItemValues", ppItemValues);
        NoteNull(c, "ppErrors", ppErrors);
        return Answer(
            std::move(c), &RecordingHooks::ReadProcessed,
            [&] {
                if (haAggregate == nullptr) return ClearOuts(E_INVALIDARG, ppItemValues, ppErrors);
                return DefaultRead(htStartTime, htEndTime, dwNumItems, phServer, haAggregate, nullptr, 0,
                                   kCalculatedQuality, ppItemValues, ppErrors);
            },
            htStartTime, htEndTime, ftResampleInterval, dwNumItems, phServer, haAggregate, ppItemValues,
            ppErrors);
    }
    HRESULT STDMETHODCALLTYPE ReadAtTime(DWORD dwNumTimeStamps, FILETIME* ftTimeStamps, DWORD dwNumItems,
                                         OPCHANDLE* phServer, OPCHDA_ITEM** ppItemValues,
                                         HRESULT** ppErrors) override {
        RecordedCall c = Begin("IOPCHDA_SyncRead::ReadAtTime");
        c.numTimeStamps = dwNumTimeStamps;
        CopyTimes(c, "ftTimeStamps", ftTimeStamps, dwNumTimeStamps, &c.timestamps);
        RecordItems(c, dwNumItems, phServer);
        NoteNull(c, "ppItemValues", ppItemValues);
        NoteNull(c, "ppErrors", ppErrors);
        return Answer(
            std::move(c), &RecordingHooks::ReadAtTime,
            [&] {
                if (dwNumTimeStamps == 0 || ftTimeStamps == nullptr)
                    return ClearOuts(E_INVALIDARG, ppItemValues, ppErrors);
                return DefaultRead(nullptr, nullptr, dwNumItems, phServer, nullptr, ftTimeStamps,
                                   dwNumTimeStamps, kRawQuality, ppItemValues, ppErrors);
            },
            dwNumTimeStamps, ftTimeStamps, dwNumItems, phServer, ppItemValues, ppErrors);
    }
    HRESULT STDMETHODCALLTYPE ReadModified(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime,
                                           DWORD dwNumValues, DWORD dwNumItems, OPCHANDLE* phServer,
                                           OPCHDA_MODIFIEDITEM** ppItemValues, HRESULT** ppErrors) override {
        RecordedCall c = Begin("IOPCHDA_SyncRead::ReadModified");
        RecordRange(c, htStartTime, htEndTime);
        c.numValues = dwNumValues;
        RecordItems(c, dwNumItems, phServer);
        NoteNull(c, "ppItemValues", ppItemValues);
        NoteNull(c, "ppErrors", ppErrors);
        return Answer(
            std::move(c), &RecordingHooks::ReadModified,
            [&] { return ClearOuts(E_NOTIMPL, ppItemValues, ppErrors); }, htStartTime, htEndTime, dwNumValues,
            dwNumItems, phServer, ppItemValues, ppErrors);
    }
    HRESULT STDMETHODCALLTYPE ReadAttribute(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime,
                                            OPCHANDLE hServer, DWORD dwNumAttributes, DWORD* pdwAttributeIDs,
                                            OPCHDA_ATTRIBUTE** ppAttributeValues,
                                            HRESULT** ppErrors) override {
        RecordedCall c = Begin("IOPCHDA_SyncRead::ReadAttribute");
        RecordRange(c, htStartTime, htEndTime);
        c.hServer = hServer;
        c.count = dwNumAttributes;
        CopyArray(c, "pdwAttributeIDs", pdwAttributeIDs, dwNumAttributes, &c.attributeIds);
        NoteNull(c, "ppAttributeValues", ppAttributeValues);
        NoteNull(c, "ppErrors", ppErrors);
        return Answer(
            std::move(c), &RecordingHooks::ReadAttribute,
            [&] {
                return DefaultReadAttribute(htStartTime, htEndTime, hServer, dwNumAttributes, pdwAttributeIDs,
                                            ppAttributeValues, ppErrors);
            },
            htStartTime, htEndTime, hServer, dwNumAttributes, pdwAttributeIDs, ppAttributeValues, ppErrors);
    }

    // ---- IOPCHDA_SyncUpdate ----
    HRESULT STDMETHODCALLTYPE QueryCapabilities(OPCHDA_UPDATECAPABILITIES* pCapabilities) override {
        RecordedCall c = Begin("IOPCHDA_SyncUpdate::QueryCapabilities");
        NoteNull(c, "pCapabilities", pCapabilities);
        return Answer(
            std::move(c), &RecordingHooks::QueryCapabilities,
            [&] {
                if (pCapabilities == nullptr) return E_INVALIDARG;
                *pCapabilities = static_cast<OPCHDA_UPDATECAPABILITIES>(0x1F);
                return S_OK;
            },
            pCapabilities);
    }
    HRESULT STDMETHODCALLTYPE Insert(DWORD dwNumItems, OPCHANDLE* phServer, FILETIME* ftTimeStamps,
                                     VARIANT* vDataValues, DWORD* pdwQualities, HRESULT** ppErrors) override {
        return Update("IOPCHDA_SyncUpdate::Insert", &RecordingHooks::Insert, dwNumItems, phServer,
                      ftTimeStamps, vDataValues, pdwQualities, ppErrors);
    }
    HRESULT STDMETHODCALLTYPE Replace(DWORD dwNumItems, OPCHANDLE* phServer, FILETIME* ftTimeStamps,
                                      VARIANT* vDataValues, DWORD* pdwQualities,
                                      HRESULT** ppErrors) override {
        return Update("IOPCHDA_SyncUpdate::Replace", &RecordingHooks::Replace, dwNumItems, phServer,
                      ftTimeStamps, vDataValues, pdwQualities, ppErrors);
    }
    HRESULT STDMETHODCALLTYPE InsertReplace(DWORD dwNumItems, OPCHANDLE* phServer, FILETIME* ftTimeStamps,
                                            VARIANT* vDataValues, DWORD* pdwQualities,
                                            HRESULT** ppErrors) override {
        return Update("IOPCHDA_SyncUpdate::InsertReplace", &RecordingHooks::InsertReplace, dwNumItems,
                      phServer, ftTimeStamps, vDataValues, pdwQualities, ppErrors);
    }
    HRESULT STDMETHODCALLTYPE DeleteRaw(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime, DWORD dwNumItems,
                                        OPCHANDLE* phServer, HRESULT** ppErrors) override {
        RecordedCall c = Begin("IOPCHDA_SyncUpdate::DeleteRaw");
        RecordRange(c, htStartTime, htEndTime);
        RecordItems(c, dwNumItems, phServer);
        NoteNull(c, "ppErrors", ppErrors);
        return Answer(
            std::move(c), &RecordingHooks::DeleteRaw,
            [&] {
                if (htStartTime == nullptr || htEndTime == nullptr) return ClearOuts(E_INVALIDARG, ppErrors);
                return PerHandle(dwNumItems, phServer, S_OK, ppErrors);
            },
            htStartTime, htEndTime, dwNumItems, phServer, ppErrors);
    }
    HRESULT STDMETHODCALLTYPE DeleteAtTime(DWORD dwNumItems, OPCHANDLE* phServer, FILETIME* ftTimeStamps,
                                           HRESULT** ppErrors) override {
        RecordedCall c = Begin("IOPCHDA_SyncUpdate::DeleteAtTime");
        RecordItems(c, dwNumItems, phServer);
        CopyTimes(c, "ftTimeStamps", ftTimeStamps, dwNumItems, &c.timestamps);
        NoteNull(c, "ppErrors", ppErrors);
        return Answer(
            std::move(c), &RecordingHooks::DeleteAtTime,
            [&] {
                if (ftTimeStamps == nullptr) return ClearOuts(E_INVALIDARG, ppErrors);
                return PerHandle(dwNumItems, phServer, S_OK, ppErrors);
            },
            dwNumItems, phServer, ftTimeStamps, ppErrors);
    }

    // ---- IOPCHDA_AsyncRead ----
    HRESULT STDMETHODCALLTYPE ReadRaw(DWORD dwTransactionID, OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime,
                                      DWORD dwNumValues, BOOL bBounds, DWORD dwNumItems, OPCHANDLE* phServer,
                                      DWORD* pdwCancelID, HRESULT** ppErrors) override {
        RecordedCall c = BeginAsync("IOPCHDA_AsyncRead::ReadRaw", dwTransactionID, pdwCancelID, ppErrors);
        RecordRange(c, htStartTime, htEndTime);
        c.numValues = dwNumValues;
        c.bounds = bBounds;
        RecordItems(c, dwNumItems, phServer);
        return Answer(
            std::move(c), &RecordingHooks::AsyncReadRaw,
            [&] {
                return DefaultAsync(htStartTime && htEndTime, dwNumItems, phServer, pdwCancelID, ppErrors);
            },
            dwTransactionID, htStartTime, htEndTime, dwNumValues, bBounds, dwNumItems, phServer, pdwCancelID,
            ppErrors);
    }
    HRESULT STDMETHODCALLTYPE AdviseRaw(DWORD dwTransactionID, OPCHDA_TIME* htStartTime,
                                        FILETIME ftUpdateInterval, DWORD dwNumItems, OPCHANDLE* phServer,
                                        DWORD* pdwCancelID, HRESULT** ppErrors) override {
        RecordedCall c = BeginAsync("IOPCHDA_AsyncRead::AdviseRaw", dwTransactionID, pdwCancelID, ppErrors);
        c.start = RecordTime(c, "htStartTime", htStartTime);
        c.interval = FileTimeToU64(ftUpdateInterval);
        RecordItems(c, dwNumItems, phServer);
        return Answer(
            std::move(c), &RecordingHooks::AsyncAdviseRaw,
            [&] { return DefaultAsync(htStartTime != nullptr, dwNumItems, phServer, pdwCancelID, ppErrors); },
            dwTransactionID, htStartTime, ftUpdateInterval, dwNumItems, phServer, pdwCancelID, ppErrors);
    }
    HRESULT STDMETHODCALLTYPE ReadProcessed(DWORD dwTransactionID, OPCHDA_TIME* htStartTime,
                                            OPCHDA_TIME* htEndTime, FILETIME ftResampleInterval,
                                            DWORD dwNumItems, OPCHANDLE* phServer, DWORD* haAggregate,
                                            DWORD* pdwCancelID, HRESULT** ppErrors) override {
        RecordedCall c =
            BeginAsync("IOPCHDA_AsyncRead::ReadProcessed", dwTransactionID, pdwCancelID, ppErrors);
        RecordRange(c, htStartTime, htEndTime);
        c.interval = FileTimeToU64(ftResampleInterval);
        RecordItems(c, dwNumItems, phServer);
        CopyArray(c, "haAggregate", haAggregate, dwNumItems, &c.aggregates);
        return Answer(
            std::move(c), &RecordingHooks::AsyncReadProcessed,
            [&] {
                return DefaultAsync(htStartTime && htEndTime && haAggregate, dwNumItems, phServer,
                                    pdwCancelID, ppErrors);
            },
            dwTransactionID, htStartTime, htEndTime, ftResampleInterval, dwNumItems, phServer, haAggregate,
            pdwCancelID, ppErrors);
    }
    HRESULT STDMETHODCALLTYPE AdviseProcessed(DWORD dwTransactionID, OPCHDA_TIME* htStartTime,
                                              FILETIME ftResampleInterval, DWORD dwNumItems,
                                              OPCHANDLE* phServer, DWORD* haAggregate, DWORD dwNumIntervals,
                                              DWORD* pdwCancelID, HRESULT** ppErrors) override {
        RecordedCall c =
            BeginAsync("IOPCHDA_AsyncRead::AdviseProcessed", dwTransactionID, pdwCancelID, ppErrors);
        c.start = RecordTime(c, "htStartTime", htStartTime);
        c.interval = FileTimeToU64(ftResampleInterval);
        RecordItems(c, dwNumItems, phServer);
        CopyArray(c, "haAggregate", haAggregate, dwNumItems, &c.aggregates);
        c.numIntervals = dwNumIntervals;
        return Answer(
            std::move(c), &RecordingHooks::AsyncAdviseProcessed,
            [&] {
                return DefaultAsync(htStartTime && haAggregate, dwNumItems, phServer, pdwCancelID, ppErrors);
            },
            dwTransactionID, htStartTime, ftResampleInterval, dwNumItems, phServer, haAggregate,
            dwNumIntervals, pdwCancelID, ppErrors);
    }
    HRESULT STDMETHODCALLTYPE ReadAtTime(DWORD dwTransactionID, DWORD dwNumTimeStamps, FILETIME* ftTimeStamps,
                                         DWORD dwNumItems, OPCHANDLE* phServer, DWORD* pdwCancelID,
                                         HRESULT** ppErrors) override {
        RecordedCall c = BeginAsync("IOPCHDA_AsyncRead::ReadAtTime", dwTransactionID, pdwCancelID, ppErrors);
        c.numTimeStamps = dwNumTimeStamps;
        CopyTimes(c, "ftTimeStamps", ftTimeStamps, dwNumTimeStamps, &c.timestamps);
        RecordItems(c, dwNumItems, phServer);
        return Answer(
            std::move(c), &RecordingHooks::AsyncReadAtTime,
            [&] {
                return DefaultAsync(dwNumTimeStamps > 0 && ftTimeStamps, dwNumItems, phServer, pdwCancelID,
                                    ppErrors);
            },
            dwTransactionID, dwNumTimeStamps, ftTimeStamps, dwNumItems, phServer, pdwCancelID, ppErrors);
    }
    HRESULT STDMETHODCALLTYPE ReadModified(DWORD dwTransactionID, OPCHDA_TIME* htStartTime,
                                           OPCHDA_TIME* htEndTime, DWORD dwNumValues, DWORD dwNumItems,
                                           OPCHANDLE* phServer, DWORD* pdwCancelID,
                                           HRESULT** ppErrors) override {
        RecordedCall c =
            BeginAsync("IOPCHDA_AsyncRead::ReadModified", dwTransactionID, pdwCancelID, ppErrors);
        RecordRange(c, htStartTime, htEndTime);
        c.numValues = dwNumValues;
        RecordItems(c, dwNumItems, phServer);
        return Answer(
            std::move(c), &RecordingHooks::AsyncReadModified,
            [&] {
                return DefaultAsync(htStartTime && htEndTime, dwNumItems, phServer, pdwCancelID, ppErrors);
            },
            dwTransactionID, htStartTime, htEndTime, dwNumValues, dwNumItems, phServer, pdwCancelID,
            ppErrors);
    }
    HRESULT STDMETHODCALLTYPE ReadAttribute(DWORD dwTransactionID, OPCHDA_TIME* htStartTime,
                                            OPCHDA_TIME* htEndTime, OPCHANDLE hServer, DWORD dwNumAttributes,
                                            DWORD* dwAttributeIDs, DWORD* pdwCancelID,
                                            HRESULT** ppErrors) override {
        RecordedCall c =
            BeginAsync("IOPCHDA_AsyncRead::ReadAttribute", dwTransactionID, pdwCancelID, ppErrors);
        RecordRange(c, htStartTime, htEndTime);
        c.hServer = hServer;
        c.count = dwNumAttributes;
        CopyArray(c, "dwAttributeIDs", dwAttributeIDs, dwNumAttributes, &c.attributeIds);
        return Answer(
            std::move(c), &RecordingHooks::AsyncReadAttribute,
            [&] {
                if (!htStartTime || !htEndTime || !pdwCancelID || !ppErrors || dwNumAttributes == 0 ||
                    !dwAttributeIDs)
                    return ClearOuts(E_INVALIDARG, ppErrors);
                if (!ClientHandleOf(hServer, nullptr, nullptr))
                    return ClearOuts(OPC_E_INVALIDHANDLE, ppErrors);
                HRESULT* errors = TaskArray<HRESULT>(dwNumAttributes);
                if (errors == nullptr) return ClearOuts(E_OUTOFMEMORY, ppErrors);
                *ppErrors = errors;
                *pdwCancelID = NewCancelId();
                return S_OK;
            },
            dwTransactionID, htStartTime, htEndTime, hServer, dwNumAttributes, dwAttributeIDs, pdwCancelID,
            ppErrors);
    }
    HRESULT STDMETHODCALLTYPE Cancel(DWORD dwCancelID) override {
        RecordedCall c = Begin("IOPCHDA_AsyncRead::Cancel");
        c.cancelId = dwCancelID;
        return Answer(
            std::move(c), &RecordingHooks::AsyncCancel,
            [&] {
                std::lock_guard lock(m_mutex);
                return m_cancelIds.erase(dwCancelID) ? S_OK : E_FAIL;
            },
            dwCancelID);
    }

private:
    RecordedCall Begin(const char* method) const { return NewCall(method, m_serial); }

    RecordedCall BeginAsync(const char* method, DWORD transactionId, DWORD* pdwCancelID,
                            HRESULT** ppErrors) const {
        RecordedCall c = Begin(method);
        c.transactionId = transactionId;
        NoteNull(c, "pdwCancelID", pdwCancelID);
        NoteNull(c, "ppErrors", ppErrors);
        return c;
    }

    static void RecordRange(RecordedCall& c, const OPCHDA_TIME* start, const OPCHDA_TIME* end) {
        c.start = RecordTime(c, "htStartTime", start);
        c.end = RecordTime(c, "htEndTime", end);
    }
    static void RecordItems(RecordedCall& c, DWORD n, const OPCHANDLE* phServer) {
        c.count = n;
        CopyArray(c, "phServer", phServer, n, &c.serverHandles);
    }

    template <class... Out>
    static HRESULT ClearOuts(HRESULT hr, Out... outs) {
        ((outs ? (void)(*outs = nullptr) : (void)0), ...);
        return hr;
    }

    HRESULT DoQueryInterface(REFIID riid, void** ppv) {
        if (auto hook = m_state->HookOf(&RecordingHooks::QueryInterface)) {
            std::optional<HRESULT> forced = hook(riid);
            if (forced && FAILED(*forced)) return *forced;
        }
        DWORD offered = m_state->offered;
        if (riid == IID_IRecordingControl) return NewControl(m_state, ppv);
        if (riid == IID_IUnknown)
            *ppv = static_cast<IUnknown*>(static_cast<IOPCHDA_Server*>(this));
        else if (riid == IID_IOPCHDA_Server && (offered & kOfferServer))
            *ppv = static_cast<IOPCHDA_Server*>(this);
        else if (riid == IID_IOPCHDA_SyncRead && (offered & kOfferSyncRead))
            *ppv = static_cast<IOPCHDA_SyncRead*>(this);
        else if (riid == IID_IOPCHDA_SyncUpdate && (offered & kOfferSyncUpdate))
            *ppv = static_cast<IOPCHDA_SyncUpdate*>(this);
        else if (riid == IID_IOPCHDA_AsyncRead && (offered & kOfferAsyncRead))
            *ppv = static_cast<IOPCHDA_AsyncRead*>(this);
        else
            return E_NOINTERFACE;
        Tracked::AddRef();
        return S_OK;
    }

    // The client handle and item ID registered for a server handle; false when unknown.
    bool ClientHandleOf(OPCHANDLE h, OPCHANDLE* client, std::u16string* itemId) {
        std::lock_guard lock(m_mutex);
        auto it = m_handles.find(h);
        if (it == m_handles.end()) return false;
        if (client) *client = it->second.client;
        if (itemId) *itemId = it->second.itemId;
        return true;
    }

    DWORD NewCancelId() {
        std::lock_guard lock(m_mutex);
        DWORD id = m_nextCancelId++;
        m_cancelIds.insert(id);
        return id;
    }

    static HRESULT StringArrays(std::initializer_list<std::pair<const char16_t*, const char16_t*>> texts,
                                LPWSTR** names, LPWSTR** descs) {
        std::size_t n = texts.size();
        *names = Must(TaskArray<LPWSTR>(n));
        *descs = Must(TaskArray<LPWSTR>(n));
        std::size_t i = 0;
        for (const auto& [name, desc] : texts) {
            (*names)[i] = Must(TaskString(name));
            (*descs)[i] = Must(TaskString(desc));
            ++i;
        }
        return S_OK;
    }

    HRESULT DefaultGetItemAttributes(DWORD* pdwCount, DWORD** ppdwAttrID, LPWSTR** ppszAttrName,
                                     LPWSTR** ppszAttrDesc, VARTYPE** ppvtAttrDataType) {
        if (!pdwCount || !ppdwAttrID || !ppszAttrName || !ppszAttrDesc || !ppvtAttrDataType) {
            if (pdwCount) *pdwCount = 0;
            return ClearOuts(E_INVALIDARG, ppdwAttrID, ppszAttrName, ppszAttrDesc, ppvtAttrDataType);
        }
        *pdwCount = 4;
        *ppdwAttrID =
            Must(TaskArray<DWORD>({OPCHDA_DATA_TYPE, OPCHDA_DESCRIPTION, OPCHDA_ENG_UNITS, OPCHDA_ITEMID}));
        *ppvtAttrDataType = Must(TaskArray<VARTYPE>({VT_I2, VT_BSTR, VT_BSTR, VT_BSTR}));
        return StringArrays({{u"Data Type", u"Data type of the item"},
                             {u"Description", u"Description of the item"},
                             {u"Eng Units", u"Engineering units of the item"},
                             {u"Item ID", u"Identifier of the item"}},
                            ppszAttrName, ppszAttrDesc);
    }

    HRESULT DefaultGetAggregates(DWORD* pdwCount, DWORD** ppdwAggrID, LPWSTR** ppszAggrName,
                                 LPWSTR** ppszAggrDesc) {
        if (!pdwCount || !ppdwAggrID || !ppszAggrName || !ppszAggrDesc) {
            if (pdwCount) *pdwCount = 0;
            return ClearOuts(E_INVALIDARG, ppdwAggrID, ppszAggrName, ppszAggrDesc);
        }
        *pdwCount = 4;
        *ppdwAggrID =
            Must(TaskArray<DWORD>({OPCHDA_INTERPOLATIVE, OPCHDA_AVERAGE, OPCHDA_MINIMUM, OPCHDA_MAXIMUM}));
        return StringArrays({{u"Interpolative", u"Interpolated values"},
                             {u"Average", u"Average over the interval"},
                             {u"Minimum", u"Minimum over the interval"},
                             {u"Maximum", u"Maximum over the interval"}},
                            ppszAggrName, ppszAggrDesc);
    }

    HRESULT DefaultGetHistorianStatus(OPCHDA_SERVERSTATUS* pwStatus, FILETIME** pftCurrentTime,
                                      FILETIME** pftStartTime, WORD* pwMajorVersion, WORD* pwMinorVersion,
                                      WORD* pwBuildNumber, DWORD* pdwMaxReturnValues,
                                      LPWSTR* ppszStatusString, LPWSTR* ppszVendorInfo) {
        if (!pwStatus || !pftCurrentTime || !pftStartTime || !pwMajorVersion || !pwMinorVersion ||
            !pwBuildNumber || !pdwMaxReturnValues || !ppszStatusString || !ppszVendorInfo)
            return ClearOuts(E_INVALIDARG, pftCurrentTime, pftStartTime, ppszStatusString, ppszVendorInfo);
        const DWORD misbehaviour = m_state->misbehaviour;
        *pwStatus = OPCHDA_UP;
        if (misbehaviour & kMisbehaveShortTimes) {
            *pftCurrentTime = TaskBlock<FILETIME>(4);
            *pftStartTime = TaskBlock<FILETIME>(0);
        } else {
            *pftCurrentTime = Must(TaskArray<FILETIME>({U64ToFileTime(kStatusNowTicks)}));
            *pftStartTime =
                Must(TaskArray<FILETIME>({U64ToFileTime(kStatusNowTicks - 24ULL * 3600 * 10000000)}));
        }
        *pwMajorVersion = 1;
        *pwMinorVersion = 20;
        *pwBuildNumber = 7;
        *pdwMaxReturnValues = 1000;
        const bool bUnterminated = (misbehaviour & kMisbehaveUnterminatedStrings) != 0;
        *ppszStatusString =
            bUnterminated ? Must(UnterminatedTaskString(u"Running")) : Must(TaskString(u"Running"));
        *ppszVendorInfo = bUnterminated ? Must(UnterminatedTaskString(u"HDA Vistrel recording test server"))
                                        : Must(TaskString(u"HDA Vistrel recording test server"));
        return S_OK;
    }

    HRESULT DefaultGetItemHandles(DWORD n, LPWSTR* ids, OPCHANDLE* clients, OPCHANDLE** pphServer,
                                  HRESULT** ppErrors) {
        if (!pphServer || !ppErrors || n == 0 || !ids || !clients)
            return ClearOuts(E_INVALIDARG, pphServer, ppErrors);
        auto* handles = Must(TaskArray<OPCHANDLE>(n));
        auto* errors = Must(TaskArray<HRESULT>(n));
        bool allOk = true;
        std::lock_guard lock(m_mutex);
        for (DWORD i = 0; i < n; ++i) {
            if (ids[i] == nullptr || ids[i][0] == 0) {
                errors[i] = OPC_E_INVALIDITEMID;
                allOk = false;
                continue;
            }
            OPCHANDLE h = m_nextHandle++;
            m_handles[h] = Registered{ids[i], clients[i]};
            handles[i] = h;
        }
        *pphServer = handles;
        *ppErrors = errors;
        return allOk ? S_OK : S_FALSE;
    }

    HRESULT DefaultReleaseItemHandles(DWORD n, OPCHANDLE* handles, HRESULT** ppErrors) {
        if (!ppErrors || n == 0 || !handles) return ClearOuts(E_INVALIDARG, ppErrors);
        auto* errors = Must(TaskArray<HRESULT>(n));
        bool allOk = true;
        std::lock_guard lock(m_mutex);
        for (DWORD i = 0; i < n; ++i) {
            if (m_handles.erase(handles[i]) == 0) {
                errors[i] = OPC_E_INVALIDHANDLE;
                allOk = false;
            }
        }
        *ppErrors = errors;
        return allOk ? S_OK : S_FALSE;
    }

    HRESULT DefaultValidateItemIDs(DWORD n, LPWSTR* ids, HRESULT** ppErrors) {
        if (!ppErrors || n == 0 || !ids) return ClearOuts(E_INVALIDARG, ppErrors);
        auto* errors = Must(TaskArray<HRESULT>(n));
        bool allOk = true;
        for (DWORD i = 0; i < n; ++i) {
            if (ids[i] == nullptr || ids[i][0] == 0) {
                errors[i] = OPC_E_INVALIDITEMID;
                allOk = false;
            }
        }
        *ppErrors = errors;
        return allOk ? S_OK : S_FALSE;
    }

    HRESULT DefaultCreateBrowse(DWORD n, DWORD* attrs, OPCHDA_OPERATORCODES* ops, VARIANT* filters,
                                IOPCHDA_Browser** pphBrowser, HRESULT** ppErrors) {
        if (!pphBrowser || !ppErrors || (n > 0 && (!attrs || !ops || !filters)))
            return ClearOuts(E_INVALIDARG, pphBrowser, ppErrors);
        std::shared_ptr<const Node> root;
        char16_t separator;
        {
            std::lock_guard lock(m_state->mutex);
            root = BuildTree(m_state->space, m_state->separator);
            separator = m_state->separator;
        }
        // No filtering here: every filter is dropped with OPC_W_NOFILTER and the browser still returned.
        HRESULT* errors = nullptr;
        if (n > 0) {
            errors = Must(TaskArray<HRESULT>(n));
            for (DWORD i = 0; i < n; ++i) errors[i] = OPC_W_NOFILTER;
        }
        *pphBrowser = new Browser(m_state, m_serial, std::move(root), separator);
        *ppErrors = errors;
        return n > 0 ? S_FALSE : S_OK;
    }

    // The reads: one value per item, or one per requested timestamp.
    HRESULT DefaultRead(OPCHDA_TIME* start, OPCHDA_TIME* end, DWORD n, const OPCHANDLE* handles,
                        const DWORD* aggregates, const FILETIME* times, DWORD numTimes, DWORD quality,
                        OPCHDA_ITEM** ppItems, HRESULT** ppErrors) {
        bool needRange = times == nullptr;
        if (!ppItems || !ppErrors || n == 0 || !handles || (needRange && (!start || !end)))
            return ClearOuts(E_INVALIDARG, ppItems, ppErrors);
        std::vector<ULONGLONG> stamps;
        if (needRange) {
            stamps.push_back(start->bString ? kStatusNowTicks : FileTimeToU64(start->ftTime));
            if (start->bString) start->ftTime = U64ToFileTime(kStatusNowTicks);
            if (end->bString) end->ftTime = U64ToFileTime(kStatusNowTicks);
        } else {
            for (DWORD k = 0; k < numTimes; ++k) stamps.push_back(FileTimeToU64(times[k]));
        }
        auto* items = Must(TaskArray<OPCHDA_ITEM>(n));
        auto* errors = Must(TaskArray<HRESULT>(n));
        bool allOk = true;
        for (DWORD i = 0; i < n; ++i) {
            OPCHDA_ITEM& item = items[i];
            item.haAggregate = aggregates ? aggregates[i] : 0;
            if (!ClientHandleOf(handles[i], &item.hClient, nullptr)) {
                errors[i] = OPC_E_INVALIDHANDLE;
                allOk = false;
                continue;
            }
            auto count = static_cast<DWORD>(stamps.size());
            item.dwCount = count;
            item.pftTimeStamps = Must(TaskArray<FILETIME>(count));
            item.pdwQualities = Must(TaskArray<DWORD>(count));
            item.pvDataValues = Must(TaskArray<VARIANT>(count));
            for (DWORD k = 0; k < count; ++k) {
                item.pftTimeStamps[k] = U64ToFileTime(stamps[k]);
                item.pdwQualities[k] = quality;
                item.pvDataValues[k].vt = VT_R8;
                item.pvDataValues[k].dblVal = 10.0 * handles[i] + k;
            }
        }
        *ppItems = items;
        *ppErrors = errors;
        return allOk ? S_OK : S_FALSE;
    }

    HRESULT DefaultReadAttribute(OPCHDA_TIME* start, OPCHDA_TIME* end, OPCHANDLE hServer, DWORD n,
                                 const DWORD* ids, OPCHDA_ATTRIBUTE** ppValues, HRESULT** ppErrors) {
        if (!start || !end || !ppValues || !ppErrors || n == 0 || !ids)
            return ClearOuts(E_INVALIDARG, ppValues, ppErrors);
        OPCHANDLE client = 0;
        std::u16string itemId;
        if (!ClientHandleOf(hServer, &client, &itemId))
            return ClearOuts(OPC_E_INVALIDHANDLE, ppValues, ppErrors);
        ULONGLONG t = start->bString ? kStatusNowTicks : FileTimeToU64(start->ftTime);
        auto* values = Must(TaskArray<OPCHDA_ATTRIBUTE>(n));
        auto* errors = Must(TaskArray<HRESULT>(n));
        bool allOk = true;
        for (DWORD i = 0; i < n; ++i) {
            OPCHDA_ATTRIBUTE& a = values[i];
            a.hClient = client;
            a.dwAttributeID = ids[i];
            VARIANT v{};
            switch (ids[i]) {
                case OPCHDA_DATA_TYPE:
                    v.vt = VT_I2;
                    v.iVal = VT_R8;
                    break;
                case OPCHDA_DESCRIPTION:
                    v.vt = VT_BSTR;
                    v.bstrVal = MustBstr(SysAllocString((u"Recorded item " + itemId).c_str()));
                    break;
                case OPCHDA_ENG_UNITS:
                    v.vt = VT_BSTR;
                    v.bstrVal = MustBstr(SysAllocString(u"units"));
                    break;
                case OPCHDA_ITEMID:
                    v.vt = VT_BSTR;
                    v.bstrVal = MustBstr(SysAllocString(itemId.c_str()));
                    break;
                default:
                    errors[i] = OPC_E_INVALIDATTRID;
                    allOk = false;
                    continue;
            }
            a.dwNumValues = 1;
            a.ftTimeStamps = Must(TaskArray<FILETIME>({U64ToFileTime(t)}));
            a.vAttributeValues = Must(TaskArray<VARIANT>(1));
            a.vAttributeValues[0] = v;
        }
        *ppValues = values;
        *ppErrors = errors;
        return allOk ? S_OK : S_FALSE;
    }

    // One result per handle: `ok` for known handles, OPC_E_INVALIDHANDLE for others.
    HRESULT PerHandle(DWORD n, const OPCHANDLE* handles, HRESULT ok, HRESULT** ppErrors) {
        if (!ppErrors || n == 0 || !handles) return ClearOuts(E_INVALIDARG, ppErrors);
        auto* errors = Must(TaskArray<HRESULT>(n));
        bool allOk = true;
        for (DWORD i = 0; i < n; ++i) {
            errors[i] = ClientHandleOf(handles[i], nullptr, nullptr) ? ok : OPC_E_INVALIDHANDLE;
            if (errors[i] != S_OK) allOk = false;
        }
        *ppErrors = errors;
        return allOk ? S_OK : S_FALSE;
    }

    HRESULT Update(const char* method, RecordingHooks::UpdateHook RecordingHooks::*member, DWORD n,
                   OPCHANDLE* handles, FILETIME* times, VARIANT* values, DWORD* qualities,
                   HRESULT** ppErrors) {
        RecordedCall c = Begin(method);
        RecordItems(c, n, handles);
        CopyTimes(c, "ftTimeStamps", times, n, &c.timestamps);
        CopyValues(c, "vDataValues", values, n, &c.values);
        CopyArray(c, "pdwQualities", qualities, n, &c.qualities);
        NoteNull(c, "ppErrors", ppErrors);
        return Answer(
            std::move(c), member,
            [&] {
                if (!times || !values || !qualities) return ClearOuts(E_INVALIDARG, ppErrors);
                return PerHandle(n, handles, S_OK, ppErrors);
            },
            n, handles, times, values, qualities, ppErrors);
    }

    HRESULT DefaultAsync(bool argsPresent, DWORD n, const OPCHANDLE* handles, DWORD* pdwCancelID,
                         HRESULT** ppErrors) {
        if (pdwCancelID) *pdwCancelID = 0;
        if (!argsPresent || !pdwCancelID) return ClearOuts(E_INVALIDARG, ppErrors);
        HRESULT hr = PerHandle(n, handles, S_OK, ppErrors);
        if (SUCCEEDED(hr)) *pdwCancelID = NewCancelId();
        return hr;
    }

    struct Registered {
        std::u16string itemId;
        OPCHANDLE client;
    };
    unsigned m_serial;
    std::mutex m_mutex;
    std::map<OPCHANDLE, Registered> m_handles;
    OPCHANDLE m_nextHandle = 1;
    std::set<DWORD> m_cancelIds;
    DWORD m_nextCancelId = 1;
};

class Factory final : public IClassFactory {
public:
    explicit Factory(ClassState* state) : m_state(state) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IRecordingControl) return NewControl(m_state, ppv);
        if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_ref; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG n = --m_ref;
        if (n == 0) delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) return E_POINTER;
        *ppvObject = nullptr;
        if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
        if (auto hook = m_state->HookOf(&RecordingHooks::CreateInstance)) {
            HRESULT forced = hook();
            if (FAILED(forced)) return forced;
        }
        auto* server = new RecordingServer(m_state);
        ++m_state->created;
        HRESULT hr = server->QueryInterface(riid, ppvObject);
        server->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    ~Factory() = default;
    ClassState* m_state;
    std::atomic<ULONG> m_ref{1};
};

}  // namespace

HDATEST_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    ClassState* state = StateFor(rclsid);
    if (state == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new Factory(state);
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

HDATEST_EXPORT HRESULT DllCanUnloadNow() {
    return g_pluginLive == 0 ? S_OK : S_FALSE;
}

// Registers the five profiles under their standard ProgIDs; the library path comes from the
// registration context (the registration command, or com::RegisterServerLibrary).
HDATEST_EXPORT HRESULT DllRegisterServer() {
    for (Profile p : kAllProfiles) {
        HRESULT hr = RegisterRecordingClass(std::string(), p, ProfileProgId(p));
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HDATEST_EXPORT HRESULT DllUnregisterServer() {
    HRESULT result = S_OK;
    for (Profile p : kAllProfiles) {
        HRESULT hr = com::UnregisterComClass(RecordingClsid(p));
        if (FAILED(hr)) result = hr;
    }
    return result;
}
