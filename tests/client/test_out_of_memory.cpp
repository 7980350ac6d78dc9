// Every allocation the client core makes for a call, failed in turn with the runtime's failure
// injection: the operation does not call the server, says "Out of Memory" as the client does, and
// leaves nothing allocated. The server's method resets the injection, so the first attempt that
// reaches the server ends the walk (and shows how many allocations the client makes).
#include "client/browse.h"
#include "client/items.h"
#include "client/reads.h"
#include "client/updates.h"
#include "tests/client/client_fixture.h"

namespace {

using namespace clienttest;

struct Attempt {
    bool called = false;
    std::optional<client::Message> message;
};

class OutOfMemory : public ClientTest {
protected:
    // Fails the client's allocations one after the other; returns how many there were.
    int FailEach(const std::function<Attempt()>& run, const client::Message& expected) {
        for (int n = 1; n < 50; ++n) {
            SCOPED_TRACE(n);
            com::FailTaskMemAlloc(static_cast<unsigned long>(n));
            const Attempt a = run();
            const bool bReachedServer = com::InjectedTaskMemFailures() == 0;
            com::ResetTaskMemFailure();
            EXPECT_EQ(com::LiveTaskMemBlocks(), blocks);
            if (bReachedServer) {
                EXPECT_TRUE(a.called);
                return n - 1;
            }
            EXPECT_FALSE(a.called);
            EXPECT_EQ(a.message, expected);
        }
        ADD_FAILURE() << "the server was never reached";
        return -1;
    }
    template <class Outcome>
    static Attempt Of(const Outcome& o) {
        return Attempt{o.called, o.message};
    }
    const std::vector<OPCHANDLE> two() const { return {hA, hB}; }
};

// The server's side of every call here: no answer, no allocation, the injection ended.
template <class... A>
auto Refuse() {
    return [](A...) {
        com::ResetTaskMemFailure();
        return E_FAIL;
    };
}

TEST_F(OutOfMemory, ReadsSayItAndLeaveNothing) {
    Hooks().ReadRaw =
        Refuse<OPCHDA_TIME*, OPCHDA_TIME*, DWORD, BOOL, DWORD, OPCHANDLE*, OPCHDA_ITEM**, HRESULT**>();
    Hooks().ReadProcessed =
        Refuse<OPCHDA_TIME*, OPCHDA_TIME*, FILETIME, DWORD, OPCHANDLE*, DWORD*, OPCHDA_ITEM**, HRESULT**>();
    Hooks().ReadAttribute =
        Refuse<OPCHDA_TIME*, OPCHDA_TIME*, OPCHANDLE, DWORD, DWORD*, OPCHDA_ATTRIBUTE**, HRESULT**>();
    const client::Message oom{u"Out of Memory!!!", u"Error", hda::MsgIcon::Exclamation};
    // Two records, the string ones with their texts.
    EXPECT_EQ(
        FailEach([&] { return Of(client::ReadRaw(syncRead.Get(), {u"NOW-1H"}, {u"NOW"}, 0, false, two())); },
                 oom),
        4);
    EXPECT_EQ(FailEach(
                  [&] {
                      return Of(client::ReadRaw(syncRead.Get(), {u"2009/02/24 10:00:00.000"}, {u"", false}, 0,
                                                false, two()));
                  },
                  oom),
              3);
    EXPECT_EQ(FailEach(
                  [&] {
                      return Of(client::ReadProcessed(syncRead.Get(), u"NOW-1H", u"NOW", {}, two(),
                                                      std::vector<DWORD>{1, 1}));
                  },
                  oom),
              4);
    EXPECT_EQ(
        FailEach([&] { return Of(client::ReadAttribute(syncRead.Get(), hA, std::vector<DWORD>{1})); }, oom),
        4);
}

TEST_F(OutOfMemory, UpdatesSayItAndLeaveNothing) {
    using UpdateArgs = hdatest::RecordingHooks::UpdateHook;
    Hooks().Insert = UpdateArgs(Refuse<DWORD, OPCHANDLE*, FILETIME*, VARIANT*, DWORD*, HRESULT**>());
    Hooks().DeleteRaw = Refuse<OPCHDA_TIME*, OPCHDA_TIME*, DWORD, OPCHANDLE*, HRESULT**>();
    const client::Message oom{u"Out of Memory!!!", u"Error", hda::MsgIcon::Exclamation};
    const std::vector<FILETIME> stamps(2, U64ToFileTime(Ticks(2009, 2, 24, 9, 0, 0)));
    // The value array, the quality array and one string per value.
    EXPECT_EQ(FailEach(
                  [&] {
                      return Of(client::InsertReplaceHistory(syncUpdate.Get(), OPCHDA_INSERT, two(), stamps,
                                                             std::vector<std::u16string>{u"1", u"two"},
                                                             std::vector<DWORD>{0, 0}));
                  },
                  oom),
              4);
    EXPECT_EQ(
        FailEach([&] { return Of(client::DeleteRaw(syncUpdate.Get(), u"NOW-1H", u"NOW", two())); }, oom), 4);
}

TEST_F(OutOfMemory, AddItemsSaysItAndLeavesNothing) {
    Hooks().ValidateItemIDs = Refuse<DWORD, LPWSTR*, HRESULT**>();
    Hooks().GetItemHandles = Refuse<DWORD, LPWSTR*, OPCHANDLE*, OPCHANDLE**, HRESULT**>();
    const client::Message oom = client::AddItemsOutOfMemory();
    const std::vector<std::u16string> ids = {u"A", u"B", u"C"};
    EXPECT_EQ(FailEach([&] { return Of(client::ValidateItemIDs(server.Get(), ids)); }, oom), 3);
    EXPECT_EQ(FailEach([&] { return Of(client::GetItemHandles(server.Get(), ids)); }, oom), 3);

    // The browser: its filter string, then each name it sends.
    client::Browser browser;
    com::FailTaskMemAlloc(1);
    EXPECT_EQ(browser.Create(server.Get()), oom);
    com::ResetTaskMemFailure();
    EXPECT_FALSE(browser.Held());
    EXPECT_TRUE(CallsTo("IOPCHDA_Server::CreateBrowse").empty());
    ASSERT_EQ(browser.Create(server.Get()), std::nullopt);
    (*control)->ClearCalls();
    com::FailTaskMemAlloc(1);
    EXPECT_EQ(browser.ChangePosition(OPCHDA_BROWSE_DIRECT, u"Plant"), E_OUTOFMEMORY);
    com::FailTaskMemAlloc(1);
    const client::Browser::ItemId id = browser.GetItemID(u"Sinusoid");
    com::ResetTaskMemFailure();
    EXPECT_EQ(id.message, oom);
    EXPECT_FALSE(id.resolved);
    EXPECT_TRUE((*control)->Calls().empty());
    browser.Release();
    EXPECT_EQ(com::LiveTaskMemBlocks(), blocks);
}

}  // namespace
