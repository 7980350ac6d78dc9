// The server pane with real servers (the recording test server): discovery into the server box,
// connecting, disconnecting, and what the pane releases when it goes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTimer>

#include "com/objbase.h"
#include "dialogs/dlgkit.h"
#include "resources/uikit.h"
#include "serverpane/commandids.h"
#include "serverpane/opcitemctrls.h"
#include "tests/com/store_fixture.h"
#include "tests/plugins/recording_control.h"
#include "tests/serverpane/fake_frame.h"
#include "tests/serverpane/message_recorder.h"
#include "tests/serverpane/probe_server.h"

namespace {

using namespace hdatest;
using Texts = std::vector<std::u16string>;
const std::string kRecording = HDATEST_RECORDING_PATH;

bool ComIsUp() {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(hr)) CoUninitialize();
    return hr == S_FALSE;
}

class PaneConnections : public vistrel_test::StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        ASSERT_EQ(RegisterRecordingProfiles(kRecording), S_OK);
        pane = std::make_unique<CServerPane>();
        pane->m_pMainFrame = &frame;
        frame.pane = pane.get();
        pane->InitComAndDiscoverServers();
        ASSERT_TRUE(ComIsUp());
    }
    void TearDown() override {
        frame.pane = nullptr;
        pane.reset();
        StoreTest::TearDown();
    }
    void ConnectEntry(int index) {
        frame.combo.setCurrentIndex(index);
        pane->OnConnect();
    }
    QTreeWidgetItem* Node(int root, int child = -1) {
        QTreeWidgetItem* r = pane->GetServerTree()->topLevelItem(root);
        return child < 0 || !r ? r : r->child(child);
    }

    MessageRecorder messages;
    FakeFrame frame;
    std::unique_ptr<CServerPane> pane;
};

TEST_F(PaneConnections, DiscoveryFillsTheServerBoxInStoreOrderWithTheFirstSelected) {
    ASSERT_EQ(frame.combo.count(), 5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(ui::ToU16(frame.combo.itemText(i)), ProfileProgId(kAllProfiles[i]));
    EXPECT_EQ(frame.combo.currentIndex(), 0);
    EXPECT_EQ(frame.combo.font().family(), "Times New Roman");
    EXPECT_TRUE(messages.seen.empty());
    EXPECT_TRUE(pane->IsComInitialized());
}

TEST_F(PaneConnections, TwoServersOnThisComputerThenOneDisconnected) {
    ScopedControl full(CLSID_HdaTestRecording);
    ScopedControl noAsync(CLSID_HdaTestNoAsync);
    ConnectEntry(0);
    ConnectEntry(1);
    // The server without IOPCHDA_AsyncRead is connected after its message.
    EXPECT_EQ(messages.Texts(), (Texts{u"Error getting IOPCHDA_AsyncRead pointer: 80004002"}));
    ASSERT_EQ(pane->GetServerTree()->topLevelItemCount(), 1);
    EXPECT_EQ(Node(0)->text(0), "Localhost");
    ASSERT_EQ(Node(0)->childCount(), 2);
    EXPECT_EQ(Node(0, 0)->text(0), "HdaTest.Recording.1");
    EXPECT_EQ(Node(0, 1)->text(0), "HdaTest.NoAsync.1");
    EXPECT_EQ(pane->GetServerTree()->GetSelectedItem(), Node(0, 1));
    EXPECT_EQ(pane->m_mapServers.size(), 2u);
    EXPECT_GT(full->OutstandingReferences(), 0);

    pane->GetServerTree()->setCurrentItem(Node(0, 0));
    pane->OnDisconnect();
    ASSERT_EQ(Node(0)->childCount(), 1);
    EXPECT_EQ(Node(0, 0)->text(0), "HdaTest.NoAsync.1");
    EXPECT_EQ(pane->FindServer(u"HdaTest.Recording.1"), nullptr);
    EXPECT_EQ(full->OutstandingReferences(), 0);
    EXPECT_EQ(full->LiveObjects(), 0);
    EXPECT_GT(noAsync->OutstandingReferences(), 0);
    // Nothing but the releases reached the server.
    for (const RecordedCall& c : full->Calls()) EXPECT_EQ(c.method, "IUnknown::QueryInterface");
}

// Runs the Server Status command and returns the texts of its status and vendor boxes as shown.
std::vector<QString> RunServerStatus(CServerPane& pane) {
    std::vector<QString> shown;
    QTimer::singleShot(0, [&] {
        QWidget* dlg = QApplication::activeModalWidget();
        if (!dlg) return;
        for (int id : {1047, 1054})
            if (auto* box = dlg::GetDlgItem<QLineEdit>(dlg, id)) shown.push_back(box->text());
        dlg->close();
    });
    pane.OnCommand(ID_SERVER_STATUS);
    return shown;
}

TEST_F(PaneConnections, ServerStatusAsksTheServerSelectedInTheTree) {
    ScopedControl full(CLSID_HdaTestRecording);
    ScopedControl noAsync(CLSID_HdaTestNoAsync);
    ConnectEntry(0);
    ConnectEntry(1);
    messages.seen.clear();
    noAsync->Hooks().GetHistorianStatus = [](OPCHDA_SERVERSTATUS* s, FILETIME** c, FILETIME** st, WORD*,
                                             WORD*, WORD*, DWORD*, LPWSTR* ss, LPWSTR* v) {
        *s = OPCHDA_DOWN;
        *c = nullptr, *st = nullptr, *ss = nullptr;
        *v = TaskString(u"second");
        return S_OK;
    };
    const long blocks = com::LiveTaskMemBlocks();
    full->ClearCalls();
    noAsync->ClearCalls();

    pane->GetServerTree()->setCurrentItem(Node(0, 0));
    EXPECT_EQ(RunServerStatus(*pane),
              (std::vector<QString>{"The historian is running", "HDA Vistrel recording test server"}));
    EXPECT_EQ(full->CallsTo("IOPCHDA_Server::GetHistorianStatus").size(), 1u);
    EXPECT_TRUE(noAsync->CallsTo("IOPCHDA_Server::GetHistorianStatus").empty());

    pane->GetServerTree()->setCurrentItem(Node(0, 1));
    EXPECT_EQ(RunServerStatus(*pane), (std::vector<QString>{"The historian is not running", "second"}));
    EXPECT_EQ(full->CallsTo("IOPCHDA_Server::GetHistorianStatus").size(), 1u);
    EXPECT_EQ(noAsync->CallsTo("IOPCHDA_Server::GetHistorianStatus").size(), 1u);

    EXPECT_TRUE(messages.seen.empty());
    EXPECT_EQ(com::LiveTaskMemBlocks(), blocks);
    EXPECT_EQ(pane->m_mapServers.size(), 2u);  // the command changes nothing
}

TEST_F(PaneConnections, ASecondConnectMakesNoSecondServer) {
    ScopedControl full(CLSID_HdaTestRecording);
    ConnectEntry(0);
    ConnectEntry(0);
    EXPECT_EQ(messages.Texts(), (Texts{u"Server is already connected"}));
    EXPECT_EQ(full->ServersCreated(), 1);
    EXPECT_EQ(Node(0)->childCount(), 1);
}

TEST_F(PaneConnections, AServerThatCannotBeUsedLeavesNoTraceInTreeOrMap) {
    ScopedControl noServer(CLSID_HdaTestNoServer);
    ConnectEntry(4);
    EXPECT_EQ(messages.Texts(),
              (Texts{u"Unable to get IOPCHDA_Server pointer; CoCreateInstance returns 80004002"}));
    EXPECT_EQ(pane->GetServerTree()->topLevelItemCount(), 0);
    EXPECT_TRUE(pane->m_mapServers.empty());
    EXPECT_EQ(noServer->OutstandingReferences(), 0);
}

TEST_F(PaneConnections, ShutdownReleasesEveryConnectionBeforeComEnds) {
    ScopedControl full(CLSID_HdaTestRecording);
    ScopedControl noAsync(CLSID_HdaTestNoAsync);
    ConnectEntry(0);
    ConnectEntry(1);
    pane->m_strCurrentServer = u"HdaTest.Recording.1";
    pane->GetCurrentServer()->AddItemToServer(u"Plant.Status", 1);

    // A connection whose interfaces note whether COM is still up when they are released; its key
    // sorts after the others, so it goes last.
    std::vector<bool> releases;
    auto* probe = new ProbeServer(&releases);
    auto record = std::make_unique<CHDAServer>(pane.get());
    record->m_strProgId = u"Probe.Server";
    record->m_pServer = probe;
    probe->AddRef();
    record->m_pSyncRead = probe;
    probe->AddRef();
    record->m_pSyncUpdate = probe;
    probe->AddRef();
    record->m_pAsyncRead = probe;
    pane->m_mapServers.emplace(u"Probe.Server", std::move(record));
    pane->AddServerToTree(u"", u"Probe.Server");

    frame.pane = nullptr;
    pane.reset();
    EXPECT_EQ(releases, (std::vector<bool>{true, true, true, true}));
    EXPECT_EQ(full->OutstandingReferences(), 0);
    EXPECT_EQ(full->LiveObjects(), 0);
    EXPECT_EQ(noAsync->OutstandingReferences(), 0);
    EXPECT_FALSE(ComIsUp());  // and then COM ended
}

}  // namespace
