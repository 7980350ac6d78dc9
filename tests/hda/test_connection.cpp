// Connecting to a server: resolution of the ProgID, creation, the optional interfaces, the messages
// and the references, against the recording test server.
#include <gtest/gtest.h>

#include "com/objbase.h"
#include "com/text.h"
#include "tests/com/store_fixture.h"
#include "tests/hda/fake_owner.h"
#include "tests/plugins/recording_control.h"
#include "tests/serverpane/message_recorder.h"

namespace {

using namespace hdatest;
const std::string kRecording = HDATEST_RECORDING_PATH;

class Connection : public vistrel_test::StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        ASSERT_EQ(RegisterRecordingProfiles(kRecording), S_OK);
        blocks = com::LiveTaskMemBlocks();
    }
    void TearDown() override {
        EXPECT_EQ(com::LiveTaskMemBlocks(), blocks) << "task memory leaked";
        CoUninitialize();
        StoreTest::TearDown();
    }
    // What the pane does when a connection ends.
    static void End(std::unique_ptr<CHDAServer>& server) {
        server->RemoveAllItems();
        if (server->m_pServer) server->m_pServer->Release();
        server->m_pServer = nullptr;
        server.reset();
    }
    std::vector<std::string> QueriedInterfaces(IRecordingControl* control) {
        std::vector<std::string> iids;
        for (const RecordedCall& c : control->CallsTo("IUnknown::QueryInterface"))
            iids.push_back(com::Utf16ToUtf8(c.text));
        return iids;
    }

    FakeOwner owner;
    MessageRecorder messages;
    long blocks = 0;
};

std::string IidText(const IID& iid) {
    return com::GuidToUtf8(iid);
}

TEST_F(Connection, ALocalServerConnectsWithAllFourInterfacesAndReleasesThemAll) {
    ScopedControl control(CLSID_HdaTestRecording);
    ASSERT_TRUE(control.ok());
    auto server = std::make_unique<CHDAServer>(&owner);
    ASSERT_TRUE(server->Connect(u"", u"HdaTest.Recording.1"));
    EXPECT_TRUE(messages.seen.empty());
    EXPECT_EQ(server->m_strComputer, u"");
    EXPECT_EQ(server->m_strProgId, u"HdaTest.Recording.1");
    EXPECT_NE(server->m_pServer, nullptr);
    EXPECT_NE(server->m_pAsyncRead, nullptr);
    EXPECT_NE(server->m_pSyncRead, nullptr);
    EXPECT_NE(server->m_pSyncUpdate, nullptr);
    EXPECT_EQ(control->ServersCreated(), 1);
    // After creation, the optional interfaces in this order.
    const std::vector<std::string> queried = QueriedInterfaces(control.control());
    ASSERT_GE(queried.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(queried.end() - 3, queried.end()),
              (std::vector<std::string>{IidText(IID_IOPCHDA_AsyncRead), IidText(IID_IOPCHDA_SyncRead),
                                        IidText(IID_IOPCHDA_SyncUpdate)}));
    // Exactly four references held: the server and the three optional interfaces.
    EXPECT_EQ(control->OutstandingReferences(), 4);

    // A second Ensure asks nothing more.
    control->ClearCalls();
    EXPECT_TRUE(server->EnsureSyncRead());
    EXPECT_TRUE(control->Calls().empty());

    End(server);
    EXPECT_EQ(control->OutstandingReferences(), 0);
    EXPECT_EQ(control->LiveObjects(), 0);
}

TEST_F(Connection, AServerWithoutAsyncReadIsConnectedAfterAMessageWithoutIcon) {
    auto server = std::make_unique<CHDAServer>(&owner);
    ASSERT_TRUE(server->Connect(u"", u"HdaTest.NoAsync.1"));
    ASSERT_EQ(messages.seen.size(), 1u);
    EXPECT_EQ(messages.seen[0].text, u"Error getting IOPCHDA_AsyncRead pointer: 80004002");
    EXPECT_EQ(messages.seen[0].caption, u"Error");
    EXPECT_EQ(messages.seen[0].icon, hda::MsgIcon::None);
    EXPECT_EQ(messages.seen[0].owner, &owner);
    EXPECT_EQ(server->m_pAsyncRead, nullptr);
    EXPECT_NE(server->m_pSyncRead, nullptr);
    EXPECT_NE(server->m_pSyncUpdate, nullptr);
    End(server);
}

TEST_F(Connection, AMissingReadOrUpdateInterfaceIsAskedForAgainEachTime) {
    ScopedControl control(CLSID_HdaTestNoSyncRead);
    auto server = std::make_unique<CHDAServer>(&owner);
    ASSERT_TRUE(server->Connect(u"", u"HdaTest.NoSyncRead.1"));
    ASSERT_EQ(messages.Texts(),
              (std::vector<std::u16string>{u"Error getting IOPCHDA_SyncRead pointer: 80004002"}));
    EXPECT_EQ(messages.seen[0].icon, hda::MsgIcon::Exclamation);

    EXPECT_FALSE(server->EnsureSyncRead());
    EXPECT_EQ(messages.seen.size(), 2u);
    // Once the server offers it, the next request gets it and keeps it.
    control->SetOffered(kOfferAll);
    EXPECT_TRUE(server->EnsureSyncRead());
    EXPECT_TRUE(server->EnsureSyncRead());
    EXPECT_EQ(messages.seen.size(), 2u);
    End(server);
    EXPECT_EQ(control->OutstandingReferences(), 0);

    auto update = std::make_unique<CHDAServer>(&owner);
    messages.seen.clear();
    ASSERT_TRUE(update->Connect(u"", u"HdaTest.NoSyncUpdate.1"));
    ASSERT_EQ(messages.Texts(),
              (std::vector<std::u16string>{u"Error getting IOPCHDA_SyncUpdate pointer: 80004002"}));
    EXPECT_EQ(messages.seen[0].icon, hda::MsgIcon::Exclamation);
    End(update);
}

TEST_F(Connection, AServerWithoutTheServerInterfaceIsRefusedAndReleased) {
    ScopedControl control(CLSID_HdaTestNoServer);
    auto server = std::make_unique<CHDAServer>(&owner);
    EXPECT_FALSE(server->Connect(u"", u"HdaTest.NoServer.1"));
    ASSERT_EQ(messages.Texts(),
              (std::vector<std::u16string>{
                  u"Unable to get IOPCHDA_Server pointer; CoCreateInstance returns 80004002"}));
    EXPECT_EQ(messages.seen[0].icon, hda::MsgIcon::Stop);
    EXPECT_EQ(server->m_pServer, nullptr);
    EXPECT_EQ(control->OutstandingReferences(), 0);
    EXPECT_EQ(control->LiveObjects(), 0);
}

TEST_F(Connection, AFailedCreationNamesTheProgIdAndTheCode) {
    ScopedControl control(CLSID_HdaTestRecording);
    control->Hooks().CreateInstance = [] { return E_ACCESSDENIED; };
    CHDAServer server(&owner);
    EXPECT_FALSE(server.Connect(u"", u"HdaTest.Recording.1"));
    ASSERT_EQ(
        messages.Texts(),
        (std::vector<std::u16string>{u"Connect to 'HdaTest.Recording.1' failed Return Code = 80070005"}));
    EXPECT_EQ(messages.seen[0].caption, u"Error");
    EXPECT_EQ(messages.seen[0].icon, hda::MsgIcon::Stop);
}

TEST_F(Connection, AnUnusableIUnknownIsRefusedAndNothingIsKept) {
    ScopedControl control(CLSID_HdaTestRecording);
    control->Hooks().AddRef = [](ULONG) { return ULONG(0x80000000u); };
    auto server = std::make_unique<CHDAServer>(&owner);
    EXPECT_FALSE(server->Connect(u"", u"HdaTest.Recording.1"));
    ASSERT_EQ(messages.Texts(),
              (std::vector<std::u16string>{u"Unable to use IUnknown pointer; AddRef returns 80000000"}));
    EXPECT_EQ(server->m_pServer, nullptr);
    control->Hooks().AddRef = nullptr;
    EXPECT_EQ(control->OutstandingReferences(), 0);
    EXPECT_EQ(control->LiveObjects(), 0);
}

TEST_F(Connection, AnUnusableServerInterfaceIsRefusedAndNothingIsKept) {
    ScopedControl control(CLSID_HdaTestRecording);
    // Only the AddRef on the server interface, after the IUnknown reference was given back, answers
    // badly.
    bool peak = false;
    control->Hooks().AddRef = [&peak](ULONG n) {
        if (n >= 3) peak = true;
        return peak && n == 2 ? ULONG(0x80000001u) : n;
    };
    auto server = std::make_unique<CHDAServer>(&owner);
    EXPECT_FALSE(server->Connect(u"", u"HdaTest.Recording.1"));
    ASSERT_EQ(
        messages.Texts(),
        (std::vector<std::u16string>{u"Unable to use IOPCHDA_Server pointer; AddRef returns 80000001"}));
    control->Hooks().AddRef = nullptr;
    EXPECT_EQ(control->OutstandingReferences(), 0);
    EXPECT_EQ(control->LiveObjects(), 0);
}

// A stand-in for the remote layer: the server list of the other computer knows a ProgID this computer
// does not, and classes are created here on its behalf.
struct RemoteRecord {
    int calls = 0;
    std::vector<CLSID> classes;
    std::vector<std::u16string> computers;
};
RemoteRecord g_remote;

class RemoteServerList : public com::ComObject<IOPCServerList> {
public:
    HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG, CATID[], ULONG, CATID[], IEnumGUID**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetClassDetails(REFCLSID, LPOLESTR*, LPOLESTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CLSIDFromProgID(LPCOLESTR szProgId, LPCLSID clsid) override {
        if (std::u16string(szProgId) != u"Remote.Only.1") return CO_E_CLASSSTRING;
        *clsid = CLSID_HdaTestRecording;
        return S_OK;
    }
};

HRESULT FakeRemoteActivator(REFCLSID clsid, const COSERVERINFO* info, DWORD count, MULTI_QI* results) {
    ++g_remote.calls;
    g_remote.classes.push_back(clsid);
    g_remote.computers.push_back(info && info->pwszName ? info->pwszName : u"(none)");
    if (clsid == CLSID_OpcServerList) {
        auto* list = new RemoteServerList;
        for (DWORD i = 0; i < count; ++i) {
            results[i].hr =
                list->QueryInterface(*results[i].pIID, reinterpret_cast<void**>(&results[i].pItf));
        }
        list->Release();
        return S_OK;
    }
    return CoCreateInstanceEx(clsid, nullptr, CLSCTX_INPROC_SERVER, nullptr, count, results);
}

TEST_F(Connection, AProgIdUnknownHereIsResolvedByTheOtherComputersServerList) {
    ScopedControl control(CLSID_HdaTestRecording);
    g_remote = RemoteRecord{};
    com::SetRemoteActivator(&FakeRemoteActivator);
    auto server = std::make_unique<CHDAServer>(&owner);
    ASSERT_TRUE(server->Connect(u"historian7.plant.example", u"Remote.Only.1"))
        << U8(messages.seen.empty() ? u"" : messages.seen[0].text);
    EXPECT_TRUE(messages.seen.empty());
    // First the list of that computer, then the server there.
    ASSERT_EQ(g_remote.calls, 2);
    EXPECT_EQ(g_remote.classes[0], CLSID_OpcServerList);
    EXPECT_EQ(g_remote.classes[1], CLSID_HdaTestRecording);
    EXPECT_EQ(g_remote.computers,
              (std::vector<std::u16string>{u"historian7.plant.example", u"historian7.plant.example"}));
    EXPECT_EQ(server->m_strComputer, u"historian7.plant.example");
    End(server);
    EXPECT_EQ(control->OutstandingReferences(), 0);

    // A ProgID known here asks no other computer for its class.
    g_remote = RemoteRecord{};
    server = std::make_unique<CHDAServer>(&owner);
    ASSERT_TRUE(server->Connect(u"", u"HdaTest.Recording.1"));
    EXPECT_EQ(g_remote.calls, 0);
    End(server);
}

TEST_F(Connection, AComputerThatCannotBeReachedGivesTheRemoteForm) {
    // No remote layer: the creation fails and the message names computer and ProgID.
    CHDAServer server(&owner);
    EXPECT_FALSE(server.Connect(u"historian7.plant.example", u"HdaTest.Recording.1"));
    ASSERT_EQ(messages.Texts(),
              (std::vector<std::u16string>{u"Connect to 'historian7.plant.example - HdaTest.Recording.1' "
                                           u"failed : Return Code =  80080005"}));
}

// ---- Limits of the connection sequence ----

TEST_F(Connection, AComputerNameOfEightyCharactersIsRefusedBeforeAnyCall) {
    ScopedControl control(CLSID_HdaTestRecording);
    g_remote = RemoteRecord{};
    com::SetRemoteActivator(&FakeRemoteActivator);
    const std::u16string name(80, u'h');
    CHDAServer server(&owner);
    EXPECT_FALSE(server.Connect(name, u"HdaTest.Recording.1"));
    EXPECT_EQ(server.m_pServer, nullptr);
    EXPECT_EQ(g_remote.calls, 0);
    EXPECT_EQ(control->ServersCreated(), 0);
    ASSERT_EQ(messages.seen.size(), 1u);
    const hda::MessageRequest& m = messages.seen[0];
    EXPECT_EQ(m.caption, u"Error");
    EXPECT_EQ(m.icon, hda::MsgIcon::Stop);
    EXPECT_EQ(m.text, u"The computer name '" + std::u16string(79, u'h') +
                          u"...' is too long: it has 80 characters, at most 79 are allowed.");
}

TEST_F(Connection, AHugeComputerNameIsRefusedWithoutAHugeMessage) {
    CHDAServer server(&owner);
    EXPECT_FALSE(server.Connect(std::u16string(100000, u'x'), u"HdaTest.Recording.1"));
    ASSERT_EQ(messages.seen.size(), 1u);
    EXPECT_LT(messages.seen[0].text.size(), 200u);
}

TEST_F(Connection, SeventyNineCharactersReachTheOtherComputerWhole) {
    g_remote = RemoteRecord{};
    com::SetRemoteActivator(&FakeRemoteActivator);
    const std::u16string name(79, u'h');
    auto server = std::make_unique<CHDAServer>(&owner);
    ASSERT_TRUE(server->Connect(name, u"Remote.Only.1"));
    ASSERT_EQ(g_remote.computers.size(), 2u);
    EXPECT_EQ(g_remote.computers[1], name);
    End(server);
}

TEST_F(Connection, AProgIdRegisteredNowhereGivesOneMessage) {
    CHDAServer server(&owner);
    EXPECT_FALSE(server.Connect(u"", u"Not.Registered.Anywhere"));
    ASSERT_EQ(
        messages.Texts(),
        (std::vector<std::u16string>{u"Connect to 'Not.Registered.Anywhere' failed Return Code = 80040154"}));
}

TEST_F(Connection, ALongProgIdIsReportedWhole) {
    // Messages are not cut to a fixed buffer: the whole ProgID is shown.
    const std::u16string progId = u"Vendor." + std::u16string(400, u'p');
    CHDAServer server(&owner);
    EXPECT_FALSE(server.Connect(u"", progId));
    ASSERT_EQ(messages.seen.size(), 1u);
    EXPECT_EQ(messages.seen[0].text, u"Connect to '" + progId + u"' failed Return Code = 80040154");
}

}  // namespace
