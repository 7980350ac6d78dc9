// The historian's browse filters and positions, through its COM interface as a client calls them:
// filters on any attribute with any operator and any value type, then every listing, and browse
// positions and item names from the input. Every call answers with a code; every string and array
// handed out is freed by the rules, leaving task memory as it was.
#include <dlfcn.h>
#include <stdlib.h>

#include <cstring>
#include <vector>

#include "com/objbase.h"
#include "com/oleauto.h"
#include "fuzz/fuzz.h"
#include "hda/opchda.h"

namespace fuzz {

namespace {

// {7D7C1C1D-E92C-4F82-9F4B-6BE53134DBB5}
constexpr CLSID kSimulation = {0x7D7C1C1D, 0xE92C, 0x4F82, {0x9F, 0x4B, 0x6B, 0xE5, 0x31, 0x34, 0xDB, 0xB5}};

IOPCHDA_Server* Server() {
    static IOPCHDA_Server* server = [] {
        setenv("VISTREL_SIM_DB", ":memory:", 1);
        unsetenv("VISTREL_SIM_ITEMS");
        void* lib = dlopen(VISTREL_SIMULATION_PLUGIN, RTLD_NOW | RTLD_LOCAL);
        Require(lib != nullptr, "the simulation plugin loads");
        auto get = reinterpret_cast<PFN_DllGetClassObject>(dlsym(lib, "DllGetClassObject"));
        Require(get != nullptr, "DllGetClassObject");
        IClassFactory* factory = nullptr;
        Require(SUCCEEDED(get(kSimulation, IID_IClassFactory, reinterpret_cast<void**>(&factory))),
                "a factory");
        IOPCHDA_Server* s = nullptr;
        Require(SUCCEEDED(factory->CreateInstance(nullptr, IID_IOPCHDA_Server, reinterpret_cast<void**>(&s))),
                "a server");
        factory->Release();
        return s;
    }();
    return server;
}

// Reads the input front to back; past its end, zeros.
struct Reader {
    const std::uint8_t* p;
    std::size_t n;
    std::uint8_t Byte() {
        if (!n) return 0;
        --n;
        return *p++;
    }
    std::uint64_t U64() {
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(Byte()) << (8 * i);
        return v;
    }
    std::u16string Text(std::size_t maxChars) {
        std::u16string s;
        for (std::size_t i = 0; i < maxChars && n >= 2; ++i)
            s += static_cast<char16_t>(Byte() | (Byte() << 8));
        return s;
    }
};

VARIANT FilterValue(Reader& in) {
    VARIANT v;
    VariantInit(&v);
    const std::uint8_t kind = in.Byte() % 8;
    const std::uint64_t bits = in.U64();
    switch (kind) {
        case 0: {
            const std::u16string t = in.Text(in.Byte());
            v.vt = VT_BSTR;
            v.bstrVal = SysAllocStringLen(t.data(), static_cast<UINT>(t.size()));
            break;
        }
        case 1:
            v.vt = VT_R8;
            std::memcpy(&v.dblVal, &bits, 8);
            break;
        case 2:
            v.vt = VT_I4;
            v.lVal = static_cast<LONG>(bits);
            break;
        case 3:
            v.vt = VT_CY;
            v.cyVal.int64 = static_cast<LONGLONG>(bits);
            break;
        case 4:
            v.vt = VT_BOOL;
            v.boolVal = (bits & 1) ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case 5:
            v.vt = VT_DATE;
            std::memcpy(&v.date, &bits, 8);
            break;
        case 6:
            v.vt = VT_UI8;
            v.ullVal = bits;
            break;
        default:
            v.vt = static_cast<VARTYPE>(bits & 0xFFFF) == VT_BSTR ? VT_EMPTY : VT_NULL;
            break;
    }
    return v;
}

void FreeString(LPWSTR s) {
    CoTaskMemFree(s);
}

void ListAll(IOPCHDA_Browser* b, OPCHDA_BROWSETYPE type) {
    IEnumString* e = nullptr;
    const HRESULT hr = b->GetEnum(type, &e);
    if (FAILED(hr)) {
        Require(e == nullptr, "no enumerator on failure");
        return;
    }
    Require(e != nullptr, "an enumerator, even for an empty listing");
    for (int guard = 0; guard < 100000; ++guard) {
        LPOLESTR names[7] = {};
        ULONG got = 0;
        const HRESULT n = e->Next(7, names, &got);
        Require(got <= 7, "no more than asked");
        for (ULONG k = 0; k < got; ++k) {
            Require(names[k] != nullptr, "every name is a string");
            FreeString(names[k]);
        }
        if (n != S_OK) break;
    }
    e->Release();
}

}  // namespace

int Browse(const std::uint8_t* data, std::size_t size) {
    IOPCHDA_Server* server = Server();
    const long blocks = com::LiveTaskMemBlocks();
    Reader in{data, size};
    const DWORD count = in.Byte() % 5;
    std::vector<DWORD> attrs(count);
    std::vector<OPCHDA_OPERATORCODES> ops(count);
    std::vector<VARIANT> values(count);
    for (DWORD k = 0; k < count; ++k) {
        const std::uint8_t a = in.Byte();
        attrs[k] = a >= 0xF0 ? 0x80000000u | a : a % 24;
        ops[k] = static_cast<OPCHDA_OPERATORCODES>(in.Byte() % 8);
        values[k] = FilterValue(in);
    }
    IOPCHDA_Browser* browser = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT hr =
        server->CreateBrowse(count, attrs.data(), ops.data(), values.data(), &browser, &errors);
    for (VARIANT& v : values) VariantClear(&v);
    if (FAILED(hr)) {
        Require(browser == nullptr && errors == nullptr, "nothing handed out on failure");
    } else {
        Require(browser != nullptr, "a browser");
        Require(count == 0 || (errors != nullptr && com::TaskMemCount(errors) >= count),
                "one code per filter");
        CoTaskMemFree(errors);
        const std::u16string position = in.Text(in.Byte());
        const std::u16string node = in.Text(in.Byte());
        const OPCHDA_BROWSEDIRECTION dir = static_cast<OPCHDA_BROWSEDIRECTION>(in.Byte() % 5);
        browser->ChangeBrowsePosition(dir, position.c_str());
        for (DWORD t = 0; t <= 5; ++t) ListAll(browser, static_cast<OPCHDA_BROWSETYPE>(t));
        LPWSTR id = nullptr;
        if (SUCCEEDED(browser->GetItemID(node.c_str(), &id))) Require(id != nullptr, "an item ID");
        FreeString(id);
        LPWSTR pos = nullptr;
        if (SUCCEEDED(browser->GetBranchPosition(&pos))) Require(pos != nullptr, "a position");
        FreeString(pos);
        browser->Release();
    }
    Require(com::LiveTaskMemBlocks() == blocks, "no task memory left behind");
    return 0;
}

}  // namespace fuzz
