// The Add Remote Server dialog: what it offers at opening, what each radio button enables, what
// "Connect" hands over (and when it refuses), Cancel; and the IP address control.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <optional>

#include "dialogs/addremoteserver.h"
#include "dialogs/dlgkit.h"
#include "dialogs/ipaddressctrl.h"
#include "hda/netbrowse.h"
#include "tests/dialogs/dialog_fakes.h"

namespace {

using dlgtest::Entries;
using dlgtest::Press;
using D = CAddRemoteServer;

class FakeRemoteHost : public IAddRemoteServerHost {
public:
    std::vector<std::u16string> entries;
    struct Call {
        std::u16string computer, progId;
        bool dialogOnScreen;
    };
    std::vector<Call> calls;
    QWidget* dlg = nullptr;

    std::vector<std::u16string> GetServerBoxEntries() const override { return entries; }
    void ConnectRemoteServer(const std::u16string& c, const std::u16string& p) override {
        calls.push_back({c, p, dlg && dlg->isVisible()});
    }
};

class AddRemoteServerTest : public ::testing::Test {
public:
    void SetUp() override {
        m_previousSink = hda::SetMessageSink([this](const hda::MessageRequest& r) {
            messages.push_back(r);
            return hda::MsgResult::Ok;
        });
        Network(std::vector<hda::NetEntry>{{RESOURCEDISPLAYTYPE_SERVER, u"\\\\plant-db"},
                                           {RESOURCEDISPLAYTYPE_DOMAIN, u"WORKGROUP"},
                                           {RESOURCEDISPLAYTYPE_SERVER, u"\\\\lab"}});
        host.entries = {u"Brindlex.OPC.Simulation", u"Other.Server.1"};
    }
    void TearDown() override {
        dlg.reset();
        hda::SetNetworkSource({});
        hda::SetMessageSink(m_previousSink);
    }
    // The network's entries; none at all: opening the enumeration fails.
    void Network(std::optional<std::vector<hda::NetEntry>> entries) {
        hda::SetNetworkSource([entries](std::vector<hda::NetEntry>* out) {
            if (!entries) return ERROR_NO_NETWORK;
            *out = *entries;
            return NO_ERROR;
        });
    }
    D& Open() {
        dlg = std::make_unique<D>();
        dlg->m_pServerPane = &host;
        host.dlg = dlg.get();
        dlg->OnInitDialog();
        dlg->show();
        return *dlg;
    }
    QWidget* Item(int id) const { return dlg::GetDlgItem(dlg.get(), id); }
    bool Enabled(int id) const { return Item(id)->isEnabled(); }
    bool Checked(int id) const { return dlg::GetDlgItem<QRadioButton>(dlg.get(), id)->isChecked(); }
    void Click(int id) { dlg::GetDlgItem<QRadioButton>(dlg.get(), id)->click(); }
    void Type(int id, const QString& text) { dlg::GetDlgItem<QLineEdit>(dlg.get(), id)->setText(text); }
    std::vector<std::u16string> Texts() const {
        std::vector<std::u16string> t;
        for (const auto& m : messages) t.push_back(m.text);
        return t;
    }

    FakeRemoteHost host;
    std::unique_ptr<D> dlg;
    std::vector<hda::MessageRequest> messages;
    hda::MessageSink m_previousSink;
};

TEST_F(AddRemoteServerTest, OpensOnTheFirstLocalServerAndTheFirstComputerOfTheNetwork) {
    D& d = Open();
    EXPECT_EQ(d.windowTitle(), "Add Remote Server");
    EXPECT_EQ(Entries(d.m_pExistingCombo), (QStringList{"Brindlex.OPC.Simulation", "Other.Server.1"}));
    EXPECT_EQ(d.m_pExistingCombo->currentIndex(), 0);
    // Only the computers of the enumeration, in its order.
    EXPECT_EQ(Entries(d.m_pComputerCombo), (QStringList{"\\\\plant-db", "\\\\lab"}));
    EXPECT_EQ(d.m_pComputerCombo->currentIndex(), 0);
    for (QComboBox* c : {d.m_pExistingCombo, d.m_pComputerCombo}) {
        EXPECT_EQ(c->font().family(), "Times New Roman");
        EXPECT_FALSE(c->isEditable());
    }
    EXPECT_EQ(d.m_nServerChoice, 0);
    EXPECT_EQ(d.m_nComputerChoice, 0);
    EXPECT_TRUE(Checked(D::IDC_EXISTING_ID));
    EXPECT_TRUE(Checked(D::IDC_UNC_NAME_RADIO));
    EXPECT_EQ(dlg::GetDlgItem<QLineEdit>(&d, D::IDC_PROGID)->text(), "Brindlex.OPC.Simulation");
    EXPECT_EQ(dlg::GetDlgItem<QLineEdit>(&d, D::IDC_DNS_NAME)->text(), "localhost");
    EXPECT_TRUE(d.GetIpAddressCtrl()->IsBlank());
    for (int id : {D::IDC_PROGID, D::IDC_DNS_NAME, D::IDC_IP_ADDRESS}) EXPECT_FALSE(Enabled(id)) << id;
    for (int id : {D::IDC_EXISTING_ID, D::IDC_EXISTING_COMBO, D::IDC_MANUAL, D::IDC_UNC_NAME_RADIO,
                   D::IDC_COMPUTER_COMBO, D::IDC_IP_ADDRESS_RADIO, D::IDC_DNS_NAME_RADIO})
        EXPECT_TRUE(Enabled(id)) << id;
    // The lists sit where the template's designer put them: beside the radio buttons, within the groups.
    EXPECT_EQ(d.m_pExistingCombo->x(), Item(D::IDC_PROGID)->x());
    EXPECT_LT(d.m_pExistingCombo->geometry().bottom(), Item(D::IDC_PROGID)->y());
    EXPECT_LT(d.m_pComputerCombo->geometry().bottom(), Item(D::IDC_IP_ADDRESS)->y());
    dlgtest::Shot(&d, "addremote-unc");
}

TEST_F(AddRemoteServerTest, NoLocalServersOpensOnManualWithTheBoxDisabledUntilManualIsClicked) {
    host.entries.clear();
    Open();
    EXPECT_EQ(dlg->m_nServerChoice, 1);
    EXPECT_TRUE(Checked(D::IDC_MANUAL));
    EXPECT_FALSE(Enabled(D::IDC_EXISTING_ID));
    EXPECT_FALSE(Enabled(D::IDC_EXISTING_COMBO));
    EXPECT_FALSE(Enabled(D::IDC_PROGID));
    // With computers to offer, "UNC Name" is chosen all the same.
    EXPECT_TRUE(Checked(D::IDC_UNC_NAME_RADIO));
    EXPECT_TRUE(Enabled(D::IDC_COMPUTER_COMBO));
    Click(D::IDC_MANUAL);
    EXPECT_TRUE(Enabled(D::IDC_PROGID));
    EXPECT_FALSE(Enabled(D::IDC_EXISTING_COMBO));
}

TEST_F(AddRemoteServerTest, NoComputersFromTheNetworkOpensOnIpAddress) {
    for (auto network : {std::optional<std::vector<hda::NetEntry>>{},
                         std::optional<std::vector<hda::NetEntry>>{{{RESOURCEDISPLAYTYPE_DOMAIN, u"WG"}}}}) {
        Network(network);
        Open();
        EXPECT_EQ(dlg->m_nComputerChoice, 1);
        EXPECT_TRUE(Checked(D::IDC_IP_ADDRESS_RADIO));
        EXPECT_FALSE(Enabled(D::IDC_UNC_NAME_RADIO));
        EXPECT_FALSE(Enabled(D::IDC_COMPUTER_COMBO));
        EXPECT_TRUE(Enabled(D::IDC_IP_ADDRESS));
        EXPECT_EQ(dlg->m_pComputerCombo->count(), 0);
    }
}

TEST_F(AddRemoteServerTest, EachRadioButtonEnablesItsOwnControlAndDisablesTheOthersOfItsGroup) {
    struct Case {
        int click;
        std::vector<int> enabled, disabled;
    } cases[] = {
        {D::IDC_MANUAL, {D::IDC_PROGID}, {D::IDC_EXISTING_COMBO}},
        {D::IDC_EXISTING_ID, {D::IDC_EXISTING_COMBO}, {D::IDC_PROGID}},
        {D::IDC_IP_ADDRESS_RADIO, {D::IDC_IP_ADDRESS}, {D::IDC_COMPUTER_COMBO, D::IDC_DNS_NAME}},
        {D::IDC_DNS_NAME_RADIO, {D::IDC_DNS_NAME}, {D::IDC_COMPUTER_COMBO, D::IDC_IP_ADDRESS}},
        {D::IDC_UNC_NAME_RADIO, {D::IDC_COMPUTER_COMBO}, {D::IDC_DNS_NAME, D::IDC_IP_ADDRESS}},
    };
    Open();
    const char* shots[] = {"addremote-manual", nullptr, "addremote-ip", "addremote-dns", nullptr};
    int n = 0;
    for (const Case& c : cases) {
        Click(c.click);
        EXPECT_TRUE(Checked(c.click)) << c.click;
        for (int id : c.enabled) EXPECT_TRUE(Enabled(id)) << c.click << " " << id;
        for (int id : c.disabled) EXPECT_FALSE(Enabled(id)) << c.click << " " << id;
        if (shots[n]) dlgtest::Shot(dlg.get(), shots[n]);
        ++n;
    }
    // The server group's clicks keep what was typed.
    Click(D::IDC_MANUAL);
    Type(D::IDC_PROGID, "Typed.Server");
    Click(D::IDC_EXISTING_ID);
    Click(D::IDC_MANUAL);
    EXPECT_EQ(dlg::GetDlgItem<QLineEdit>(dlg.get(), D::IDC_PROGID)->text(), "Typed.Server");
    EXPECT_EQ(dlg->m_strProgId, u"Typed.Server");
}

TEST_F(AddRemoteServerTest, ConnectHandsOverTheChoiceWhileOnScreenThenCloses) {
    struct Case {
        const char* what;
        std::function<void(AddRemoteServerTest&)> fill;
        std::u16string computer, progId;
    } cases[] = {
        {"first of each list", [](AddRemoteServerTest&) {}, u"\\\\plant-db", u"Brindlex.OPC.Simulation"},
        {"second of each list",
         [](AddRemoteServerTest& t) {
             t.dlg->m_pExistingCombo->setCurrentIndex(1);
             t.dlg->m_pComputerCombo->setCurrentIndex(1);
         },
         u"\\\\lab", u"Other.Server.1"},
        {"IP address, zero-padded",
         [](AddRemoteServerTest& t) {
             t.Click(D::IDC_IP_ADDRESS_RADIO);
             t.dlg->GetIpAddressCtrl()->SetAddress(192, 168, 1, 5);
         },
         u"192.168.001.005", u"Brindlex.OPC.Simulation"},
        {"IP address with blank fields",
         [](AddRemoteServerTest& t) {
             t.Click(D::IDC_IP_ADDRESS_RADIO);
             t.dlg->GetIpAddressCtrl()->Field(0)->setText("10");
         },
         u"010.000.000.000", u"Brindlex.OPC.Simulation"},
        {"DNS name and a typed ProgID",
         [](AddRemoteServerTest& t) {
             t.Click(D::IDC_DNS_NAME_RADIO);
             t.Type(D::IDC_DNS_NAME, "historian7.plant.example");
             t.Click(D::IDC_MANUAL);
             t.Type(D::IDC_PROGID, "Vendor.HDA.2");
         },
         u"historian7.plant.example", u"Vendor.HDA.2"},
        {"placeholder DNS name", [](AddRemoteServerTest& t) { t.Click(D::IDC_DNS_NAME_RADIO); }, u"localhost",
         u"Brindlex.OPC.Simulation"},
    };
    for (const Case& c : cases) {
        host.calls.clear();
        Open();
        c.fill(*this);
        Press(dlg.get(), IDOK);
        ASSERT_EQ(host.calls.size(), 1u) << c.what;
        EXPECT_EQ(host.calls[0].computer, c.computer) << c.what;
        EXPECT_EQ(host.calls[0].progId, c.progId) << c.what;
        EXPECT_TRUE(host.calls[0].dialogOnScreen) << c.what;
        EXPECT_EQ(dlg->result(), QDialog::Accepted) << c.what;
        EXPECT_FALSE(dlg->isVisible()) << c.what;
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(AddRemoteServerTest, BlankEntriesAreRefusedInOrderAndTheDialogStaysOpenWithThem) {
    struct Case {
        bool blankProgId;
        int computerRadio;  // 0: stay on "UNC Name"
        bool blankDns;
        std::vector<std::u16string> expected;
    } cases[] = {
        {true, 0, false, {u"Server Edit box is Blank"}},
        {false, D::IDC_IP_ADDRESS_RADIO, false, {u"IP Address control is blank"}},
        {false, D::IDC_DNS_NAME_RADIO, true, {u"DNS Edit box is Blank"}},
        {true, D::IDC_IP_ADDRESS_RADIO, false, {u"Server Edit box is Blank", u"IP Address control is blank"}},
        {true, D::IDC_DNS_NAME_RADIO, true, {u"Server Edit box is Blank", u"DNS Edit box is Blank"}},
    };
    for (const Case& c : cases) {
        messages.clear();
        Open();
        if (c.blankProgId) {
            Click(D::IDC_MANUAL);
            Type(D::IDC_PROGID, "");
        }
        if (c.computerRadio) Click(c.computerRadio);
        if (c.blankDns) Type(D::IDC_DNS_NAME, "");
        Press(dlg.get(), IDOK);
        EXPECT_EQ(Texts(), c.expected);
        for (const auto& m : messages) {
            EXPECT_EQ(m.caption, u"Error");
            EXPECT_EQ(m.icon, hda::MsgIcon::Stop);
            EXPECT_EQ(m.buttons, hda::MsgButtons::Ok);
        }
        EXPECT_TRUE(host.calls.empty());
        EXPECT_TRUE(dlg->isVisible());
        EXPECT_EQ(dlg->m_pComputerCombo->count(), 2);  // nothing entered is lost
    }
}

TEST_F(AddRemoteServerTest, CancelChangesNothing) {
    Open();
    Click(D::IDC_DNS_NAME_RADIO);
    Type(D::IDC_DNS_NAME, "somewhere");
    Press(dlg.get(), IDCANCEL);
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
    EXPECT_TRUE(host.calls.empty());
    EXPECT_TRUE(messages.empty());
}

// ---- The IP address control ----

class IpAddressCtrlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ctrl.resize(200, 24);
        ctrl.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&ctrl));
        ctrl.Field(0)->setFocus();
    }
    std::array<int, 4> Octets() const {
        BYTE b[4] = {};
        ctrl.GetAddress(b[0], b[1], b[2], b[3]);
        return {b[0], b[1], b[2], b[3]};
    }
    // Keys as a user types them: each to the field that has the focus then.
    static void TypeKeys(const char* keys) {
        for (const char* k = keys; *k; ++k) QTest::keyClick(QApplication::focusWidget(), *k);
    }
    QStringList Fields() const {
        QStringList f;
        for (int i = 0; i < 4; ++i) f << ctrl.Field(i)->text();
        return f;
    }
    CIPAddressCtrl ctrl;
};

TEST_F(IpAddressCtrlTest, TypingMovesOnAtADotOrAThirdDigitAndKeepsEachFieldWithin255) {
    EXPECT_TRUE(ctrl.IsBlank());
    TypeKeys("192.168");
    EXPECT_EQ(QApplication::focusWidget(), ctrl.Field(2));  // a dot after a full field does not skip one
    TypeKeys(".999");
    EXPECT_EQ(Fields(), (QStringList{"192", "168", "255", ""}));
    EXPECT_EQ(QApplication::focusWidget(), ctrl.Field(3));
    TypeKeys("x7");
    EXPECT_EQ(Fields(), (QStringList{"192", "168", "255", "7"}));
    BYTE b[4];
    EXPECT_EQ(ctrl.GetAddress(b[0], b[1], b[2], b[3]), 4);
    EXPECT_FALSE(ctrl.IsBlank());

    // Backspace in an empty field goes back.
    ctrl.Field(3)->clear();
    QTest::keyClick(ctrl.Field(3), Qt::Key_Backspace);
    EXPECT_EQ(QApplication::focusWidget(), ctrl.Field(2));
    // A dot in an empty field stays.
    ctrl.ClearAddress();
    EXPECT_TRUE(ctrl.IsBlank());
    ctrl.Field(0)->setFocus();
    TypeKeys(".");
    EXPECT_EQ(QApplication::focusWidget(), ctrl.Field(0));
    EXPECT_EQ(Fields(), (QStringList{"", "", "", ""}));
}

TEST_F(IpAddressCtrlTest, PastingAWholeAddressFillsAllFourFields) {
    QApplication::clipboard()->setText("10.1.2.3");
    ctrl.Field(1)->setFocus();
    QTest::keySequence(ctrl.Field(1), QKeySequence::Paste);
    EXPECT_EQ(Fields(), (QStringList{"10", "1", "2", "3"}));
    EXPECT_EQ(Octets(), (std::array<int, 4>{10, 1, 2, 3}));

    // Anything else pasted keeps the digits before its first dot.
    ctrl.ClearAddress();
    QApplication::clipboard()->setText("300.1");
    ctrl.Field(0)->setFocus();
    QTest::keySequence(ctrl.Field(0), QKeySequence::Paste);
    EXPECT_EQ(Fields(), (QStringList{"255", "", "", ""}));
    BYTE b[4];
    EXPECT_EQ(ctrl.GetAddress(b[0], b[1], b[2], b[3]), 1);
}

}  // namespace
