// Every allocation the client core makes for a call, failed in turn with the runtime's failure
// injection: the operation does not call the server, says "Out of Memory" as the client does, and
// leaves nothing allocated. The server's method resets the injection, so the first attempt that
// reaches the server ends the walk (and shows how many allocations the client makes).
#include "client/browse.h"
#include "client/items.h"
#include "client/lists.h"
#include "client/readmodified.h"
#include "client/reads.h"
#include "client/status.h"
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

// Every operation against the server's own answers, with the n-th allocation of the whole call (the
// client's and the server's) failing, for every n the call makes: no crash, nothing left allocated,
// and the operation says it failed (a message or a failed code), never a success.
struct Reported {
    bool failed = false;
};
template <class Outcome>
Reported Failed(const Outcome& o) {
    return Reported{o.message.has_value() || FAILED(o.hr)};
}
// Attribute values are shown as text as they come: a value that could not be made text says so in
// its cell.
Reported Failed(const client::AttributeReadOutcome& o) {
    bool bCell = false;
    for (const client::AttributeRow& row : o.rows)
        bCell = bCell || (row.value && row.value->starts_with(u"Conversion failed : 0x8007000E"));
    return Reported{o.message.has_value() || FAILED(o.hr) || bCell};
}

TEST_F(OutOfMemory, EveryAllocationOfEveryOperationFailsCleanly) {
    // The server's Read Modified answer: two empty records, refused when its memory runs out.
    Hooks().ReadModified = [](OPCHDA_TIME*, OPCHDA_TIME*, DWORD, DWORD n, OPCHANDLE*,
                              OPCHDA_MODIFIEDITEM** ppItems, HRESULT** ppErrors) {
        auto* items = hdatest::TaskArray<OPCHDA_MODIFIEDITEM>(n);
        auto* errors = hdatest::TaskArray<HRESULT>(n);
        if (!items || !errors) {
            CoTaskMemFree(items);
            CoTaskMemFree(errors);
            return E_OUTOFMEMORY;
        }
        *ppItems = items;
        *ppErrors = errors;
        return S_OK;
    };
    const std::vector<FILETIME> stamps(2, U64ToFileTime(Ticks(2009, 2, 24, 9, 0, 0)));
    const std::vector<std::u16string> ids = {u"A", u"B", u"C"};
    const std::vector<DWORD> aggregates{1, 2};
    const std::vector<DWORD> attributes{1, 2, 3, 4};
    // Handles the server gave, handed back after each run (outside the injection).
    std::vector<OPCHANDLE> given;
    const auto releaseGiven = [&] {
        if (given.empty()) return;
        com::Received<HRESULT> errors;
        server->ReleaseItemHandles(static_cast<DWORD>(given.size()), given.data(), errors.Out());
        given.clear();
    };
    struct Operation {
        const char* name;
        std::function<Reported()> run;
    };
    const Operation operations[] = {
        {"ReadRaw",
         [&] { return Failed(client::ReadRaw(syncRead.Get(), {u"NOW-1H"}, {u"NOW"}, 0, false, two())); }},
        {"ReadRaw at moments",
         [&] {
             return Failed(
                 client::ReadRaw(syncRead.Get(), {u"2009/02/24 10:00:00.000"}, {u"", false}, 0, true, two()));
         }},
        {"ReadProcessed",
         [&] {
             return Failed(client::ReadProcessed(syncRead.Get(), u"NOW-1H", u"NOW", {}, two(), aggregates));
         }},
        {"ReadAtTime", [&] { return Failed(client::ReadAtTime(syncRead.Get(), stamps, two())); }},
        {"ReadModified",
         [&] { return Failed(client::ReadModified(syncRead.Get(), {u"NOW-1H"}, {u"NOW"}, 0, two())); }},
        {"ReadAttribute", [&] { return Failed(client::ReadAttribute(syncRead.Get(), hA, attributes)); }},
        {"Insert",
         [&] {
             return Failed(client::InsertReplaceHistory(syncUpdate.Get(), OPCHDA_INSERT, two(), stamps,
                                                        std::vector<std::u16string>{u"1", u"two"},
                                                        std::vector<DWORD>{0, 0}));
         }},
        {"Replace",
         [&] {
             return Failed(client::InsertReplaceHistory(syncUpdate.Get(), OPCHDA_REPLACE, two(), stamps,
                                                        std::vector<std::u16string>{u"1.5", u"x"},
                                                        std::vector<DWORD>{192, 0}));
         }},
        {"DeleteRaw", [&] { return Failed(client::DeleteRaw(syncUpdate.Get(), u"NOW-1H", u"NOW", two())); }},
        {"DeleteAtTime", [&] { return Failed(client::DeleteAtTime(syncUpdate.Get(), two(), stamps)); }},
        {"GetHistorianStatus", [&] { return Failed(client::GetHistorianStatus(server.Get())); }},
        {"GetAggregates", [&] { return Failed(client::GetAggregates(server.Get())); }},
        {"GetItemAttributes", [&] { return Failed(client::GetItemAttributes(server.Get())); }},
        {"ValidateItemIDs", [&] { return Failed(client::ValidateItemIDs(server.Get(), ids)); }},
        {"GetItemHandles",
         [&] {
             client::HandlesOutcome o = client::GetItemHandles(server.Get(), ids);
             for (OPCHANDLE h : o.handles)
                 if (h != 0) given.push_back(h);
             return Failed(o);
         }},
        {"Browse",
         [&] {
             client::Browser browser;
             if (browser.Create(server.Get())) return Reported{true};
             const client::Browser::Names names = browser.Enumerate(OPCHDA_FLAT, 100);
             if (!names.answered || !names.problem.empty()) return Reported{true};
             if (browser.ChangePosition(OPCHDA_BROWSE_DIRECT, u"Plant") != S_OK) return Reported{true};
             const client::Browser::Names leaves = browser.Enumerate(OPCHDA_LEAF, 100);
             if (!leaves.answered || !leaves.problem.empty()) return Reported{true};
             const client::Browser::ItemId id = browser.GetItemID(u"Status");
             return Reported{!id.resolved};
         }},
    };
    for (const Operation& op : operations) {
        SCOPED_TRACE(op.name);
        // Unfailed, the operation succeeds (else the sweep below would prove nothing).
        ASSERT_FALSE(op.run().failed);
        releaseGiven();
        ASSERT_EQ(com::LiveTaskMemBlocks(), blocks);
        int total = 0;
        for (unsigned long n = 1; n < 1000; ++n) {
            SCOPED_TRACE(n);
            com::FailTaskMemAlloc(n);
            const Reported r = op.run();
            const bool bInjected = com::InjectedTaskMemFailures() != 0;
            com::ResetTaskMemFailure();
            releaseGiven();
            ASSERT_EQ(com::LiveTaskMemBlocks(), blocks) << "left allocated";
            if (!bInjected) break;  // the call makes fewer than n allocations
            total = static_cast<int>(n);
            EXPECT_TRUE(r.failed) << "allocation " << n << " failed and the operation reported success";
        }
        EXPECT_GT(total, 0);
    }
}

}  // namespace
