// Browsing: positions, browse types, item IDs, filters and the string enumerator.
#include <gtest/gtest.h>

#include "com/objbase.h"
#include "tests/simulation/sim_client.h"

namespace simtest {
namespace {

using Names = std::vector<std::u16string>;

Names All(IEnumString* e) {
    Names out;
    LPOLESTR s = nullptr;
    ULONG got = 0;
    while (e->Next(1, &s, &got) == S_OK) {
        out.push_back(s);
        CoTaskMemFree(s);
    }
    return out;
}

class Browse : public ::testing::Test {
protected:
    void SetUp() override {
        client = std::make_unique<Client>(dir.File("h.db"));
        browser = Make({}, {}, {}, S_OK);
    }
    void TearDown() override {
        if (browser) browser->Release();
    }

    IOPCHDA_Browser* Make(std::vector<DWORD> attrs, std::vector<OPCHDA_OPERATORCODES> ops,
                          std::vector<VARIANT> values, HRESULT expected,
                          std::vector<HRESULT>* codes = nullptr) {
        IOPCHDA_Browser* b = nullptr;
        HRESULT* errors = nullptr;
        HRESULT hr = client->server()->CreateBrowse(static_cast<DWORD>(attrs.size()), attrs.data(),
                                                    ops.data(), values.data(), &b, &errors);
        EXPECT_EQ(hr, expected);
        if (codes && errors) codes->assign(errors, errors + attrs.size());
        CoTaskMemFree(errors);
        for (auto& v : values) VariantClear(&v);
        return b;
    }

    // The names of one browse type at the browser's position, and the HRESULT of GetEnum.
    Names List(IOPCHDA_Browser* b, OPCHDA_BROWSETYPE type, HRESULT expected = S_OK) {
        IEnumString* e = nullptr;
        EXPECT_EQ(b->GetEnum(type, &e), expected);
        if (!e) return {};
        Names n = All(e);
        e->Release();
        return n;
    }

    std::u16string Position(IOPCHDA_Browser* b) {
        LPWSTR s = nullptr;
        EXPECT_EQ(b->GetBranchPosition(&s), S_OK);
        std::u16string r = s ? s : u"";
        CoTaskMemFree(s);
        return r;
    }

    static VARIANT Str(const char16_t* s) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(s);
        return v;
    }
    static VARIANT I2(SHORT x) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I2;
        v.iVal = x;
        return v;
    }

    TempDir dir;
    std::unique_ptr<Client> client;
    IOPCHDA_Browser* browser = nullptr;
};

TEST_F(Browse, WalksTheTree) {
    EXPECT_EQ(Position(browser), u"");
    EXPECT_EQ(List(browser, OPCHDA_BRANCH), (Names{u"Generated", u"Writable"}));
    EXPECT_EQ(List(browser, OPCHDA_LEAF, S_FALSE), Names{});  // empty, with an enumerator
    EXPECT_EQ(browser->ChangeBrowsePosition(OPCHDA_BROWSE_DOWN, u"Generated"), S_OK);
    EXPECT_EQ(List(browser, OPCHDA_BRANCH), (Names{u"Waves", u"Types", u"Plant", u"Quality"}));
    EXPECT_EQ(browser->ChangeBrowsePosition(OPCHDA_BROWSE_DOWN, u"Plant"), S_OK);
    EXPECT_EQ(List(browser, OPCHDA_BRANCH), (Names{u"Boiler", u"Reactor", u"Line1"}));
    // Reactor is an item and a branch: ITEMS lists it, LEAF does not.
    EXPECT_EQ(List(browser, OPCHDA_LEAF, S_FALSE), Names{});
    EXPECT_EQ(List(browser, OPCHDA_ITEMS), Names{u"Reactor"});
    LPWSTR id = nullptr;
    EXPECT_EQ(browser->GetItemID(u"Reactor", &id), S_OK);
    EXPECT_EQ(std::u16string(id), u"Generated.Plant.Reactor");
    CoTaskMemFree(id);
    EXPECT_EQ(browser->GetItemID(u"Boiler", &id), E_FAIL);  // a branch, not an item
    EXPECT_EQ(id, nullptr);
    EXPECT_EQ(browser->ChangeBrowsePosition(OPCHDA_BROWSE_DOWN, u"Reactor"), S_OK);
    EXPECT_EQ(List(browser, OPCHDA_LEAF), Names{u"Pressure"});
    EXPECT_EQ(List(browser, OPCHDA_BRANCH), Names{u"Agitator"});
    EXPECT_EQ(
        List(browser, OPCHDA_FLAT),
        (Names{u"Generated.Plant.Reactor", u"Generated.Plant.Reactor.Pressure",
               u"Generated.Plant.Reactor.Agitator.Speed", u"Generated.Plant.Reactor.Agitator.Running"}));
    EXPECT_EQ(Position(browser), u"Generated.Plant.Reactor");
    EXPECT_EQ(browser->ChangeBrowsePosition(OPCHDA_BROWSE_UP, u""), S_OK);
    EXPECT_EQ(Position(browser), u"Generated.Plant");
}

TEST_F(Browse, RefusedMovesKeepThePosition) {
    EXPECT_EQ(browser->ChangeBrowsePosition(OPCHDA_BROWSE_UP, u""), E_FAIL);
    EXPECT_EQ(browser->ChangeBrowsePosition(OPCHDA_BROWSE_DIRECT, u"Generated.Waves"), S_OK);
    EXPECT_EQ(browser->ChangeBrowsePosition(OPCHDA_BROWSE_DOWN, u"Sine"), E_FAIL);  // a leaf
    EXPECT_EQ(browser->ChangeBrowsePosition(OPCHDA_BROWSE_DOWN, u"Nope"), E_FAIL);
    EXPECT_EQ(browser->ChangeBrowsePosition(OPCHDA_BROWSE_DIRECT, u"Generated.Waves.Sine"), E_FAIL);
    EXPECT_EQ(browser->ChangeBrowsePosition(static_cast<OPCHDA_BROWSEDIRECTION>(9), u""), E_INVALIDARG);
    EXPECT_EQ(Position(browser), u"Generated.Waves");
    IEnumString* e = reinterpret_cast<IEnumString*>(1);
    EXPECT_EQ(browser->GetEnum(static_cast<OPCHDA_BROWSETYPE>(0), &e), E_INVALIDARG);
    EXPECT_EQ(e, nullptr);
    EXPECT_EQ(browser->ChangeBrowsePosition(OPCHDA_BROWSE_DIRECT, u""), S_OK);
    EXPECT_EQ(Position(browser), u"");
}

TEST_F(Browse, BrowsersAreIndependent) {
    IOPCHDA_Browser* other = Make({}, {}, {}, S_OK);
    EXPECT_EQ(browser->ChangeBrowsePosition(OPCHDA_BROWSE_DOWN, u"Writable"), S_OK);
    EXPECT_EQ(Position(other), u"");
    EXPECT_EQ(List(browser, OPCHDA_BRANCH), Names{u"Lab"});
    other->Release();
}

TEST_F(Browse, FiltersApplyToItems) {
    IOPCHDA_Browser* sines = Make({OPCHDA_ITEMID}, {OPCHDA_EQUAL}, {Str(u"*Sine")}, S_OK);
    EXPECT_EQ(List(sines, OPCHDA_FLAT),
              (Names{u"Generated.Waves.Sine", u"Generated.Waves.FastSine", u"Generated.Waves.SlowSine"}));
    EXPECT_EQ(List(sines, OPCHDA_BRANCH), (Names{u"Generated", u"Writable"}));  // branches are not filtered
    sines->Release();

    IOPCHDA_Browser* q = Make({OPCHDA_ITEMID}, {OPCHDA_EQUAL}, {Str(u"?ine")}, S_OK);
    EXPECT_EQ(List(q, OPCHDA_FLAT), Names{u"Generated.Waves.Sine"});
    q->Release();

    // Every filter must hold: boolean items outside Generated.Types.
    IOPCHDA_Browser* bools = Make({OPCHDA_DATA_TYPE, OPCHDA_ITEMID}, {OPCHDA_EQUAL, OPCHDA_NOTEQUAL},
                                  {I2(VT_BOOL), Str(u"Boolean")}, S_OK);
    EXPECT_EQ(List(bools, OPCHDA_FLAT),
              (Names{u"Generated.Plant.Boiler.BurnerOn", u"Generated.Plant.Reactor.Agitator.Running"}));
    bools->Release();

    IOPCHDA_Browser* none = Make({OPCHDA_ITEMID}, {OPCHDA_EQUAL}, {Str(u"NothingLikeThis")}, S_OK);
    EXPECT_EQ(List(none, OPCHDA_FLAT, S_FALSE), Names{});
    none->Release();
}

TEST_F(Browse, UnusableFiltersAreDroppedWithACode) {
    std::vector<HRESULT> codes;
    IOPCHDA_Browser* b = Make({0x99, OPCHDA_DESCRIPTION, OPCHDA_NORMAL_MAXIMUM, OPCHDA_ITEMID},
                              {OPCHDA_EQUAL, OPCHDA_LESS, OPCHDA_GREATER, OPCHDA_EQUAL},
                              {Str(u"x"), Str(u"x"), Str(u"lots"), Str(u"Int1")}, S_FALSE, &codes);
    EXPECT_EQ(codes, (std::vector<HRESULT>{OPC_E_UNKNOWNATTRID, E_INVALIDARG, OPC_E_INVALIDDATATYPE, S_OK}));
    ASSERT_NE(b, nullptr);
    // Only the accepted filter is in force.
    EXPECT_EQ(List(b, OPCHDA_FLAT), (Names{u"Generated.Types.Int1", u"Writable.Int1"}));
    b->Release();
}

TEST_F(Browse, StringEnumerator) {
    EXPECT_EQ(browser->ChangeBrowsePosition(OPCHDA_BROWSE_DIRECT, u"Generated.Waves"), S_OK);
    IEnumString* e = nullptr;
    ASSERT_EQ(browser->GetEnum(OPCHDA_LEAF, &e), S_OK);
    LPOLESTR s[3] = {};
    ULONG got = 0;
    EXPECT_EQ(e->Next(3, s, nullptr), E_INVALIDARG);  // more than one needs a count
    EXPECT_EQ(e->Next(3, s, &got), S_OK);
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(std::u16string(s[2]), u"Square");
    for (auto* p : s) CoTaskMemFree(p);
    IEnumString* clone = nullptr;
    ASSERT_EQ(e->Clone(&clone), S_OK);
    EXPECT_EQ(e->Skip(3), S_OK);
    EXPECT_EQ(e->Skip(5), S_FALSE);  // one was left
    EXPECT_EQ(e->Next(1, s, &got), S_FALSE);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(All(clone), (Names{u"Triangle", u"Random", u"FastSine", u"SlowSine"}));
    EXPECT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(All(e).size(), 7u);
    clone->Release();
    e->Release();
}

}  // namespace
}  // namespace simtest
