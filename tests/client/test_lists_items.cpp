// The server's lists, item validation and handles, and the browser, in the client core: the exact
// calls, what comes back read no further than the server allocated, nameless entries named, and
// nothing left allocated.
#include "client/browse.h"
#include "client/items.h"
#include "client/lists.h"
#include "tests/client/client_fixture.h"

namespace {

using namespace clienttest;
using hdatest::TaskArray;
using hdatest::TaskString;
using U16s = std::vector<std::u16string>;

class Lists : public ClientTest {};

TEST_F(Lists, AggregatesAndAttributesAsTheServerListsThem) {
    const client::AggregateList aggregates = client::GetAggregates(server.Get());
    ASSERT_EQ(aggregates.aggregates.size(), 4u);
    EXPECT_EQ(aggregates.aggregates[1].id, static_cast<DWORD>(OPCHDA_AVERAGE));
    EXPECT_FALSE(aggregates.aggregates[1].name.empty());
    const client::AttributeList attributes = client::GetItemAttributes(server.Get());
    ASSERT_EQ(attributes.attributes.size(), 4u);
    EXPECT_EQ(attributes.attributes[0].id, static_cast<DWORD>(OPCHDA_DATA_TYPE));
    EXPECT_EQ(attributes.attributes[0].type, VT_I2);
    EXPECT_EQ(com::LiveTaskMemBlocks(), blocks);
}

TEST_F(Lists, ClaimsBeyondTheArraysAreBoundedAndNamelessEntriesNamed) {
    // Five claimed; three ids, two names (the second null), four descriptions, no types.
    auto answer = [](DWORD* pdwCount, DWORD** ppIds, LPWSTR** ppNames, LPWSTR** ppDescs) {
        *pdwCount = 5;
        *ppIds = TaskArray<DWORD>({10, 20, 30});
        *ppNames = TaskArray<LPWSTR>({TaskString(u"Alpha"), nullptr});
        *ppDescs =
            TaskArray<LPWSTR>({TaskString(u"a"), nullptr, TaskString(u"c"), TaskString(u"beyond the ids")});
        return S_OK;
    };
    Hooks().GetAggregates = answer;
    Hooks().GetItemAttributes = [answer](DWORD* n, DWORD** ids, LPWSTR** names, LPWSTR** descs,
                                         VARTYPE** types) {
        *types = nullptr;
        return answer(n, ids, names, descs);
    };
    const client::AggregateList aggregates = client::GetAggregates(server.Get());
    U16s names, descs;
    for (const auto& a : aggregates.aggregates) names.push_back(a.name), descs.push_back(a.description);
    EXPECT_EQ(names, (U16s{u"Alpha", u"(no name, ID 20)", u"(no name, ID 30)"}));
    EXPECT_EQ(descs, (U16s{u"a", u"", u"c"}));

    const client::AttributeList attributes = client::GetItemAttributes(server.Get());
    ASSERT_EQ(attributes.attributes.size(), 3u);
    EXPECT_EQ(attributes.attributes[0].name, u"Alpha");
    EXPECT_EQ(attributes.attributes[1].name, std::nullopt);
    EXPECT_EQ(client::AttributeDisplayName(attributes.attributes[2]), u"(no name, ID 30)");
    EXPECT_EQ(attributes.attributes[2].type, VT_EMPTY);
    EXPECT_EQ(com::LiveTaskMemBlocks(), blocks);

    // A failure that still hands arrays back: the message, nothing listed, nothing kept.
    Hooks().GetAggregates = [answer](DWORD* n, DWORD** ids, LPWSTR** names, LPWSTR** descs) {
        answer(n, ids, names, descs);
        return E_ACCESSDENIED;
    };
    const client::AggregateList failed = client::GetAggregates(server.Get());
    EXPECT_EQ(failed.message->text, u"Error retrieving server aggregates, Error Code =  80070005");
    EXPECT_TRUE(failed.aggregates.empty());
    EXPECT_EQ(com::LiveTaskMemBlocks(), blocks);
}

TEST_F(Lists, ValidationAndHandlesSendTheIdsAndReadOnlyWhatCameBack) {
    const U16s ids = {u"b.ok", u"", u"a.ok"};
    client::ValidateOutcome validate = client::ValidateItemIDs(server.Get(), ids);
    EXPECT_EQ(OnlyCallTo("IOPCHDA_Server::ValidateItemIDs").itemIds, ids);
    EXPECT_EQ(validate.codes, (std::vector<HRESULT>{S_OK, static_cast<HRESULT>(OPC_E_INVALIDITEMID), S_OK}));

    client::HandlesOutcome handles = client::GetItemHandles(server.Get(), ids);
    const hdatest::RecordedCall call = OnlyCallTo("IOPCHDA_Server::GetItemHandles");
    EXPECT_EQ(call.itemIds, ids);
    EXPECT_EQ(call.clientHandles, (std::vector<OPCHANDLE>{0, 0, 0}));
    EXPECT_EQ(handles.hr, S_FALSE);
    ASSERT_EQ(handles.handles.size(), 3u);
    EXPECT_EQ(handles.handles[1], 0u);
    EXPECT_EQ(handles.errors[1], static_cast<HRESULT>(OPC_E_INVALIDITEMID));

    // Short arrays: as far as they reach.
    Hooks().ValidateItemIDs = [](DWORD, LPWSTR*, HRESULT** ppErrors) {
        *ppErrors = TaskArray<HRESULT>({S_OK});
        return S_OK;
    };
    Hooks().GetItemHandles = [](DWORD, LPWSTR*, OPCHANDLE*, OPCHANDLE** pphServer, HRESULT** ppErrors) {
        *pphServer = TaskArray<OPCHANDLE>({7});
        *ppErrors = TaskArray<HRESULT>({S_OK, S_OK});
        return S_OK;
    };
    EXPECT_EQ(client::ValidateItemIDs(server.Get(), ids).codes.size(), 1u);
    handles = client::GetItemHandles(server.Get(), ids);
    EXPECT_EQ(handles.handles, (std::vector<OPCHANDLE>{7}));
    EXPECT_EQ(handles.errors.size(), 2u);
    EXPECT_EQ(com::LiveTaskMemBlocks(), blocks);
}

TEST_F(Lists, TheBrowserFiltersNothingWalksFromTheRootAndResolvesLeaves) {
    client::Browser browser;
    ASSERT_EQ(browser.Create(server.Get()), std::nullopt);
    const hdatest::RecordedCall create = OnlyCallTo("IOPCHDA_Server::CreateBrowse");
    ASSERT_EQ(create.filters.size(), 1u);
    EXPECT_EQ(create.filters[0].attributeId, static_cast<DWORD>(OPCHDA_ITEMID));
    EXPECT_EQ(create.filters[0].op, static_cast<DWORD>(OPCHDA_EQUAL));
    EXPECT_EQ(create.filters[0].value.vt, VT_BSTR);
    EXPECT_EQ(create.filters[0].value.text, u"*");

    EXPECT_EQ(browser.Enumerate(OPCHDA_BRANCH, 100).names, (U16s{u"Plant", u"Utilities"}));
    (*control)->ClearCalls();
    EXPECT_EQ(browser.MoveTo({u"Plant", u"Area1"}, nullptr), S_OK);
    std::vector<std::pair<DWORD, std::u16string>> steps;
    for (const auto& c : CallsTo("IOPCHDA_Browser::ChangeBrowsePosition"))
        steps.emplace_back(c.browseDirection, c.text);
    EXPECT_EQ(steps, (std::vector<std::pair<DWORD, std::u16string>>{{OPCHDA_BROWSE_UP, u""},
                                                                    {OPCHDA_BROWSE_DIRECT, u"Plant"},
                                                                    {OPCHDA_BROWSE_DOWN, u"Area1"}}));
    const client::Browser::Names leaves = browser.Enumerate(OPCHDA_ITEMS, 100);
    EXPECT_TRUE(leaves.answered);
    EXPECT_EQ(leaves.names, (U16s{u"Temperature", u"Pressure"}));
    EXPECT_EQ(browser.GetItemID(u"Pressure").itemId, u"Plant.Area1.Pressure");
    EXPECT_FALSE(browser.GetItemID(u"Nothing").resolved);

    std::u16string failedAt;
    EXPECT_EQ(browser.MoveTo({u"Plant", u"Gone"}, &failedAt), E_FAIL);
    EXPECT_EQ(failedAt, u"Gone");

    // A list that never ends is stopped, and one that claims a name without giving one ends there.
    Hooks().EnumNext = [](OPCHDA_BROWSETYPE, ULONG call, const std::vector<std::u16string>&, ULONG,
                          LPOLESTR* rgelt, ULONG* pFetched) {
        *rgelt = TaskString(u"n" + std::u16string(1, static_cast<char16_t>(u'0' + call % 10)));
        *pFetched = 1;
        return S_OK;
    };
    const client::Browser::Names endless = browser.Enumerate(OPCHDA_ITEMS, 3);
    EXPECT_EQ(endless.names.size(), 3u);
    EXPECT_EQ(endless.problem, u"The server lists more than 3 items here; only the first 3 are shown.");
    Hooks().EnumNext = [](OPCHDA_BROWSETYPE, ULONG call, const std::vector<std::u16string>&, ULONG,
                          LPOLESTR* rgelt, ULONG* pFetched) {
        *rgelt = call == 0 ? TaskString(u"only") : nullptr;
        *pFetched = call == 0 ? 1 : 0;
        return S_OK;
    };
    const client::Browser::Names early = browser.Enumerate(OPCHDA_ITEMS, 100);
    EXPECT_EQ(early.names, (U16s{u"only"}));
    EXPECT_EQ(early.problem,
              u"The server's list of items ended early: Next returned S_OK without a name. The 1 received "
              u"are shown.");
    browser.Release();
    EXPECT_EQ(com::LiveTaskMemBlocks(), blocks);
}

}  // namespace
