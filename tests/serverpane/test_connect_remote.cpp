// Connect Remote from the command to the tree: the dialog, the pane's remote connection through the
// runtime's remote activator (scripted here, reaching the recording test server in this process), the
// reached-hosts file, and what the user sees when no remote layer is there.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <filesystem>
#include <functional>

#include "com/objbase.h"
#include "dialogs/addremoteserver.h"
#include "dialogs/dlgkit.h"
#include "dialogs/ipaddressctrl.h"
#include "hda/netbrowse.h"
#include "resources/uikit.h"
#include "serverpane/commandids.h"
#include "serverpane/opcitemctrls.h"
#include "tests/com/store_fixture.h"
#include "tests/plugins/recording_control.h"
#include "tests/serverpane/fake_frame.h"
#include "tests/serverpane/message_recorder.h"

namespace {

using namespace hdatest;
using D = CAddRemoteServer;
using Texts = std::vector<std::u16string>;

// What the scripted remote layer saw: the computer of each activation, and whether the dialog was
// still on screen then.
struct RemoteSeen {
    std::vector<std::u16string> computers;
    std::vector<bool> dialogOnScreen;
} g_seen;

HRESULT InThisProcess(REFCLSID clsid, const COSERVERINFO* info, DWORD count, MULTI_QI* results) {
    g_seen.computers.push_back(info && info->pwszName ? info->pwszName : u"(none)");
    g_seen.dialogOnScreen.push_back(qobject_cast<D*>(QApplication::activeModalWidget()) != nullptr);
    return CoCreateInstanceEx(clsid, nullptr, CLSCTX_INPROC_SERVER, nullptr, count, results);
}

class ConnectRemote : public vistrel_test::StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        m_config = vistrel_test::MakeTempDir("config");
        m_configEnv.emplace("VISTREL_CONFIG_DIR", m_config);
        ASSERT_EQ(RegisterRecordingProfiles(HDATEST_RECORDING_PATH), S_OK);
        hda::SetNetworkSource([](std::vector<hda::NetEntry>* e) {
            *e = {{RESOURCEDISPLAYTYPE_SERVER, u"\\\\plant-db"}};
            return NO_ERROR;
        });
        g_seen = {};
        pane = std::make_unique<CServerPane>();
        pane->m_pMainFrame = &frame;
        frame.pane = pane.get();
        pane->InitComAndDiscoverServers();
    }
    void TearDown() override {
        frame.pane = nullptr;
        pane.reset();
        com::SetRemoteActivator(nullptr);
        hda::SetNetworkSource({});
        m_configEnv.reset();
        std::filesystem::remove_all(m_config);
        StoreTest::TearDown();
    }
    // Runs Connect Remote; fill acts on the dialog, then "Connect" is pressed.
    void Run(const std::function<void(D&)>& fill) {
        bool ran = false;
        QTimer::singleShot(0, [&] {
            auto* dlg = qobject_cast<D*>(QApplication::activeModalWidget());
            ASSERT_NE(dlg, nullptr);
            ran = true;
            fill(*dlg);
            dlg::GetDlgItem<QPushButton>(dlg, IDOK)->click();
            if (dlg->isVisible()) dlg->reject();
        });
        pane->OnCommand(ID_SERVER_CONNECTREMOTE);
        EXPECT_TRUE(ran);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
    static void ByIpAddress(D& d) {
        dlg::GetDlgItem<QRadioButton>(&d, D::IDC_IP_ADDRESS_RADIO)->click();
        d.GetIpAddressCtrl()->SetAddress(192, 168, 1, 5);
    }
    QTreeWidgetItem* Node(int root, int child = -1) {
        QTreeWidgetItem* r = pane->GetServerTree()->topLevelItem(root);
        return child < 0 || !r ? r : r->child(child);
    }
    std::string Reached() const { return vistrel_test::ReadText(m_config + "/reached-hosts"); }

    MessageRecorder messages;
    FakeFrame frame;
    std::unique_ptr<CServerPane> pane;
    std::string m_config;
    std::optional<vistrel_test::ScopedEnv> m_configEnv;
};

TEST_F(ConnectRemote, TheServerShowsUnderTheComputerAsTypedAndASecondConnectionIsRefused) {
    ScopedControl control(CLSID_HdaTestRecording);
    com::SetRemoteActivator(&InThisProcess);
    ASSERT_TRUE(pane->IsCommandEnabled(ID_SERVER_CONNECTREMOTE));

    Run(ByIpAddress);
    EXPECT_TRUE(messages.seen.empty()) << U8(messages.Texts().empty() ? u"" : messages.Texts()[0]);
    // The ProgID is known here, so only the server itself is asked of the other computer.
    EXPECT_EQ(g_seen.computers, (Texts{u"192.168.001.005"}));
    EXPECT_EQ(g_seen.dialogOnScreen, (std::vector<bool>{true}));
    ASSERT_EQ(pane->GetServerTree()->topLevelItemCount(), 1);
    EXPECT_EQ(Node(0)->text(0), "192.168.001.005");
    ASSERT_EQ(Node(0)->childCount(), 1);
    EXPECT_EQ(Node(0, 0)->text(0), "HdaTest.Recording.1");
    EXPECT_EQ(pane->GetSelectedServerKey(), u"192.168.001.005HdaTest.Recording.1");
    EXPECT_NE(pane->FindServer(u"192.168.001.005HdaTest.Recording.1"), nullptr);
    EXPECT_TRUE(pane->m_strRemoteComputer.empty());
    EXPECT_EQ(Reached(), "192.168.001.005\n");

    Run(ByIpAddress);
    EXPECT_EQ(messages.Texts(), (Texts{u"Server is already connected"}));
    EXPECT_EQ(control->ServersCreated(), 1);
    EXPECT_EQ(Node(0)->childCount(), 1);

    // The computer from the list, under its own node as the list gives it.
    messages.seen.clear();
    Run([](D&) {});
    EXPECT_TRUE(messages.seen.empty());
    ASSERT_EQ(pane->GetServerTree()->topLevelItemCount(), 2);
    EXPECT_EQ(Node(1)->text(0), "\\\\plant-db");
    EXPECT_EQ(Node(1, 0)->text(0), "HdaTest.Recording.1");
    EXPECT_EQ(Reached(), "192.168.001.005\nplant-db\n");
    EXPECT_EQ(control->ServersCreated(), 2);
}

TEST_F(ConnectRemote, WithoutARemoteLayerTheUserIsToldAndNothingIsAdded) {
    ScopedControl control(CLSID_HdaTestRecording);
    Run(ByIpAddress);
    EXPECT_EQ(
        messages.Texts(),
        (Texts{u"Connect to '192.168.001.005 - HdaTest.Recording.1' failed : Return Code =  80080005"}));
    EXPECT_EQ(messages.seen[0].icon, hda::MsgIcon::Stop);
    EXPECT_EQ(pane->GetServerTree()->topLevelItemCount(), 0);
    EXPECT_TRUE(pane->m_mapServers.empty());
    EXPECT_EQ(control->ServersCreated(), 0);
    EXPECT_EQ(Reached(), "");
}

TEST_F(ConnectRemote, CancelConnectsNothing) {
    com::SetRemoteActivator(&InThisProcess);
    QTimer::singleShot(0, [] {
        if (auto* dlg = QApplication::activeModalWidget())
            dlg::GetDlgItem<QPushButton>(dlg, IDCANCEL)->click();
    });
    pane->OnCommand(ID_SERVER_CONNECTREMOTE);
    EXPECT_TRUE(g_seen.computers.empty());
    EXPECT_TRUE(messages.seen.empty());
    EXPECT_EQ(pane->GetServerTree()->topLevelItemCount(), 0);
}

}  // namespace
