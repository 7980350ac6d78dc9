// Connect Remote against a real host on loopback (TLS, the runtime's remote activator): the question
// on first contact with a host, a changed host key, and a session with the recording test server
// driven through the dialogs as a user drives it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <thread>

#include "com/objbase.h"
#include "com/text.h"
#include "dialogs/additem.h"
#include "dialogs/dlgkit.h"
#include "remote/remote.h"
#include "serverpane/commandids.h"
#include "serverpane/hostkeys.h"
#include "serverpane/opcitemctrls.h"
#include "serverpane/serverpane.h"
#include "tests/com/store_fixture.h"
#include "tests/plugins/recording_control.h"
#include "tests/serverpane/fake_frame.h"
#include "tests/serverpane/message_recorder.h"
#include "tests/serverpane/update_drivers.h"

namespace {

using namespace hdatest;
using Texts = std::vector<std::u16string>;
const std::u16string kProgId = u"HdaTest.Recording.1";

class RemoteHost : public vistrel_test::StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        ASSERT_EQ(RegisterRecordingProfiles(HDATEST_RECORDING_PATH), S_OK);
        m_hostDir = vistrel_test::MakeTempDir("host");
        m_clientDir = vistrel_test::MakeTempDir("client");
        m_configEnv.emplace("VISTREL_CONFIG_DIR", m_clientDir);
        std::string error;
        vistrel::remote::Identity me;
        ASSERT_TRUE(vistrel::remote::EnsureIdentity(m_clientDir, "client", &me, &error)) << error;
        ASSERT_TRUE(vistrel::remote::Trust(m_hostDir, me.certPath, &error)) << error;
        vistrel::remote::HostOptions options;
        options.listen = "127.0.0.1";
        options.port = 0;
        options.configDir = m_hostDir;
        m_host = std::make_unique<vistrel::remote::Host>(options);
        ASSERT_TRUE(m_host->Start(&error)) << error;
        ASSERT_TRUE(vistrel::remote::CertificateFingerprint(m_hostDir + "/host.crt", &m_fingerprint, &error));
        vistrel::remote::ClientOptions client;
        client.configDir = m_clientDir;
        client.timeoutMs = 20000;
        vistrel::remote::InstallRemoteActivator(client);
        serverpane::InstallHostKeyQuestions();
        pane = std::make_unique<CServerPane>();
        output = std::make_unique<COutputPane>();
        output->SetServerPane(pane.get());
        pane->SetOutputPane(output.get());
        pane->m_pMainFrame = &frame;
        frame.pane = pane.get();
        pane->InitComAndDiscoverServers();
    }
    void TearDown() override {
        frame.pane = nullptr;
        output->SetServerPane(nullptr);
        output.reset();
        pane.reset();
        serverpane::UninstallHostKeyQuestions();
        vistrel::remote::ShutdownClient();
        com::SetRemoteActivator(nullptr);
        m_host.reset();
        m_configEnv.reset();
        std::error_code ec;
        std::filesystem::remove_all(m_hostDir, ec);
        std::filesystem::remove_all(m_clientDir, ec);
        StoreTest::TearDown();
    }
    std::string HostKey() const { return "127.0.0.1:" + std::to_string(m_host->Port()); }
    std::u16string Computer(const std::string& name) const {
        return com::Utf8ToUtf16(name + ":" + std::to_string(m_host->Port()));
    }
    std::string KnownHosts() const { return vistrel_test::ReadText(m_clientDir + "/known-hosts"); }
    static bool Contains(const std::u16string& text, const std::string& part) {
        return U8(text).find(part) != std::string::npos;
    }

    MessageRecorder messages;
    FakeFrame frame;
    std::unique_ptr<CServerPane> pane;
    std::unique_ptr<COutputPane> output;
    std::unique_ptr<vistrel::remote::Host> m_host;
    std::string m_hostDir, m_clientDir, m_fingerprint;
    std::optional<vistrel_test::ScopedEnv> m_configEnv;
};

TEST_F(RemoteHost, FirstContactAsksWithTheFingerprintAndYesPinsAndConnects) {
    const std::u16string computer = Computer("127.0.0.1");
    pane->ConnectRemoteServer(computer, kProgId);
    ASSERT_EQ(messages.seen.size(), 1u) << U8(messages.Texts().back());
    EXPECT_EQ(messages.seen[0].icon, hda::MsgIcon::Question);
    EXPECT_EQ(messages.seen[0].buttons, hda::MsgButtons::YesNo);
    EXPECT_TRUE(Contains(messages.seen[0].text, m_fingerprint)) << U8(messages.seen[0].text);
    EXPECT_TRUE(Contains(messages.seen[0].text, HostKey())) << U8(messages.seen[0].text);
    EXPECT_EQ(KnownHosts(), HostKey() + " " + m_fingerprint + "\n");
    EXPECT_NE(pane->FindServer(computer + kProgId), nullptr);

    // Known from now on: no second question, and the same server again is refused as before.
    messages.seen.clear();
    pane->ConnectRemoteServer(computer, kProgId);
    EXPECT_EQ(messages.Texts(), (Texts{u"Server is already connected"}));
}

TEST_F(RemoteHost, NoAtFirstContactRefusesAndPinsNothing) {
    messages.answers = {hda::MsgResult::No};
    const std::u16string computer = Computer("127.0.0.1");
    pane->ConnectRemoteServer(computer, kProgId);
    ASSERT_EQ(messages.seen.size(), 3u);
    EXPECT_EQ(messages.seen[0].icon, hda::MsgIcon::Question);
    EXPECT_TRUE(Contains(messages.seen[1].text, m_fingerprint)) << U8(messages.seen[1].text);
    EXPECT_EQ(messages.seen[1].icon, hda::MsgIcon::Stop);
    EXPECT_EQ(messages.seen[2].text,
              u"Connect to '" + computer + u" - " + kProgId + u"' failed : Return Code =  80070005");
    EXPECT_EQ(KnownHosts(), "");
    EXPECT_EQ(pane->FindServer(computer + kProgId), nullptr);
    EXPECT_EQ(pane->GetServerTree()->topLevelItemCount(), 0);
    // The connection made for the handshake is closed, not kept.
    for (int i = 0; i < 400 && m_host->Connections() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(m_host->Connections(), 0);
}

TEST_F(RemoteHost, AChangedHostKeyIsRefusedWithBothFingerprintsAndTheFileToEdit) {
    const std::string old =
        "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:"
        "EF:01:23:45:67:89";
    std::ofstream(m_clientDir + "/known-hosts") << HostKey() << ' ' << old << '\n';
    const std::u16string computer = Computer("127.0.0.1");
    pane->ConnectRemoteServer(computer, kProgId);
    ASSERT_EQ(messages.seen.size(), 2u);
    const std::u16string why = messages.seen[0].text;
    EXPECT_EQ(messages.seen[0].icon, hda::MsgIcon::Stop);
    EXPECT_TRUE(Contains(why, old)) << U8(why);
    EXPECT_TRUE(Contains(why, m_fingerprint)) << U8(why);
    EXPECT_TRUE(Contains(why, m_clientDir + "/known-hosts")) << U8(why);
    EXPECT_EQ(messages.seen[1].text,
              u"Connect to '" + computer + u" - " + kProgId + u"' failed : Return Code =  80070005");
    EXPECT_EQ(KnownHosts(), HostKey() + " " + old + "\n");
    EXPECT_EQ(pane->FindServer(computer + kProgId), nullptr);
}

TEST_F(RemoteHost, EachFormOfTheComputerNameConnectsOnceAndASecondTimeIsRefused) {
    ScopedControl control(CLSID_HdaTestRecording);
    const std::u16string port = com::Utf8ToUtf16(":" + std::to_string(m_host->Port()));
    const std::u16string names[] = {u"localhost" + port, u"127.000.000.001" + port, u"\\\\localhost" + port};
    for (const std::u16string& computer : names) {
        messages.seen.clear();
        pane->ConnectRemoteServer(computer, kProgId);
        EXPECT_NE(pane->FindServer(computer + kProgId), nullptr) << U8(computer);
        for (const auto& r : messages.seen) EXPECT_EQ(r.icon, hda::MsgIcon::Question) << U8(r.text);
        messages.seen.clear();
        pane->ConnectRemoteServer(computer, kProgId);
        EXPECT_EQ(messages.Texts(), (Texts{u"Server is already connected"})) << U8(computer);
    }
    EXPECT_EQ(pane->GetServerTree()->topLevelItemCount(), 3);
    EXPECT_EQ(control->ServersCreated(), 3);
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

TEST_F(RemoteHost, ByDnsNameAddItemsReadRawInsertStatusThenDisconnectReleasesTheServerOnTheHost) {
    using readtest::Arm;
    using readtest::Press;
    ScopedControl control(CLSID_HdaTestRecording);
    const std::u16string computer = Computer("localhost");
    pane->ConnectRemoteServer(computer, kProgId);
    ASSERT_NE(pane->FindServer(computer + kProgId), nullptr);
    EXPECT_EQ(messages.seen.size(), 1u);  // the question on first contact
    EXPECT_EQ(KnownHosts(), "localhost:" + std::to_string(m_host->Port()) + " " + m_fingerprint + "\n");
    EXPECT_EQ(pane->GetServerTree()->topLevelItem(0)->text(0), QString::fromStdU16String(computer));

    // Add Items: the ids typed travel to the server on the host, which gives their handles.
    Arm<CAddItem>([](CAddItem& d) {
        for (const char* id : {"Plant.Status", "Sinusoid"}) {
            d.GetItemIdEdit()->setText(QString::fromLatin1(id));
            d.GetAddButton()->click();
        }
        Press(&d, IDOK);
    });
    pane->OnAddItems();
    COPCItemListCtrl* list = pane->GetItemList();
    ASSERT_EQ(list->count(), 2);
    const auto handles = control->CallsTo("IOPCHDA_Server::GetItemHandles");
    ASSERT_FALSE(handles.empty());
    EXPECT_EQ(handles.back().itemIds, (Texts{u"Plant.Status", u"Sinusoid"}));

    // Read Raw of both, shown one tab per item.
    list->selectAll();
    Arm<CReadRawDlg>([](CReadRawDlg& d) { Press(&d, IDOK); });
    pane->OnReadRaw();
    const auto reads = control->CallsTo("IOPCHDA_SyncRead::ReadRaw");
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].count, 2u);
    ASSERT_NE(output->GetTabCtrl(), nullptr);
    EXPECT_EQ(output->GetTabCtrl()->GetItemCount(), 2);

    // An Insert of one value into the first item.
    list->clearSelection();
    list->item(0)->setSelected(true);
    updatetest::ArmInsert({{"42", updatetest::Local(2009, 2, 24, 10, 0, 0)}});
    pane->OnInsert();
    const auto inserts = control->CallsTo("IOPCHDA_SyncUpdate::Insert");
    ASSERT_EQ(inserts.size(), 1u);
    ASSERT_EQ(inserts[0].values.size(), 1u);
    EXPECT_EQ(inserts[0].values[0].text, u"42");
    EXPECT_EQ(inserts[0].serverHandles.size(), 1u);

    const std::vector<QString> status = RunServerStatus(*pane);
    ASSERT_EQ(status.size(), 2u);
    EXPECT_FALSE(status[0].isEmpty());
    EXPECT_EQ(control->CallsTo("IOPCHDA_Server::GetHistorianStatus").size(), 1u);

    pane->OnDisconnect();
    EXPECT_EQ(pane->FindServer(computer + kProgId), nullptr);
    for (int i = 0; i < 400 && control->LiveObjects() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(control->LiveObjects(), 0);
    EXPECT_EQ(messages.seen.size(), 1u) << U8(messages.Texts().back());
}

TEST_F(RemoteHost, TheHostStoppedMidSessionLeavesTheTreeConsistent) {
    ScopedControl control(CLSID_HdaTestRecording);
    const std::u16string computer = Computer("127.000.000.001");
    pane->ConnectRemoteServer(computer, kProgId);
    ASSERT_NE(pane->FindServer(computer + kProgId), nullptr);
    messages.seen.clear();
    m_host.reset();
    // The call fails as a lost connection does; the server stays in the tree until disconnected.
    RunServerStatus(*pane);
    EXPECT_EQ(messages.Texts(), (Texts{u"Unable to get status: GetHistorianStatus returns 80010108"}));
    ASSERT_EQ(pane->GetServerTree()->topLevelItemCount(), 1);
    ASSERT_EQ(pane->GetServerTree()->topLevelItem(0)->childCount(), 1);
    EXPECT_NE(pane->FindServer(computer + kProgId), nullptr);
    messages.seen.clear();
    RunServerStatus(*pane);  // every later call on it fails the same way
    EXPECT_EQ(messages.Texts(), (Texts{u"Unable to get status: GetHistorianStatus returns 80010108"}));
    pane->OnDisconnect();
    EXPECT_EQ(pane->FindServer(computer + kProgId), nullptr);
    EXPECT_EQ(pane->GetServerTree()->topLevelItemCount(), 0);
}

}  // namespace
