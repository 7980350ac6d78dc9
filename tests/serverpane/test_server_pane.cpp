// The server pane without servers: the tree, the item list, keys, selection, enabling, menus and the
// result set. Connections are filed directly, as ConnectServer files them after a successful Connect.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>

#include "com/objbase.h"
#include "resources/uikit.h"
#include "serverpane/opcitemctrls.h"
#include "tests/serverpane/fake_frame.h"
#include "tests/serverpane/message_recorder.h"

namespace {

using Texts = std::vector<std::u16string>;

class ServerPaneTest : public ::testing::Test {
protected:
    void SetUp() override {
        pane = std::make_unique<CServerPane>();
        pane->m_pMainFrame = &frame;
        frame.pane = pane.get();
        pane->resize(300, 400);
    }
    void TearDown() override {
        frame.pane = nullptr;
        pane.reset();
    }

    // Files a connection as ConnectServer does after Connect succeeded (no server behind it).
    CHDAServer* File(const std::u16string& computer, const std::u16string& progId) {
        auto server = std::make_unique<CHDAServer>(pane.get());
        server->m_strComputer = computer;
        server->m_strProgId = progId;
        CHDAServer* p = server.get();
        pane->m_mapServers.emplace(computer + progId, std::move(server));
        pane->AddServerToTree(computer, progId);
        return p;
    }
    void AddItems(CHDAServer* server, std::initializer_list<std::pair<const char16_t*, OPCHANDLE>> items) {
        pane->m_strCurrentServer = server->m_strComputer + server->m_strProgId;
        for (auto [id, h] : items) server->AddItemToServer(id, h);
    }
    COPCItemTreeCtrl* Tree() { return pane->GetServerTree(); }
    COPCItemListCtrl* List() { return pane->GetItemList(); }
    QTreeWidgetItem* Node(int root, int child = -1) {
        QTreeWidgetItem* r = Tree()->topLevelItem(root);
        return child < 0 || !r ? r : r->child(child);
    }
    void Select(QTreeWidgetItem* node) { Tree()->setCurrentItem(node); }
    Texts ListTexts() {
        Texts t;
        for (int i = 0; i < List()->count(); ++i) t.push_back(ui::ToU16(List()->item(i)->text()));
        return t;
    }
    void SelectRows(std::initializer_list<const char16_t*> ids) {
        List()->clearSelection();
        for (const char16_t* id : ids)
            for (int i = 0; i < List()->count(); ++i)
                if (List()->item(i)->text() == ui::ToQString(id)) List()->item(i)->setSelected(true);
    }

    FakeFrame frame;
    std::unique_ptr<CServerPane> pane;
};

TEST_F(ServerPaneTest, ServersAreGroupedByComputerInConnectionOrder) {
    File(u"", u"Brindlex.OPC.Simulation");
    File(u"10.0.0.7", u"Acme.Historian");
    File(u"", u"Acme.Historian");
    ASSERT_EQ(Tree()->topLevelItemCount(), 2);
    EXPECT_EQ(Node(0)->text(0), "Localhost");
    EXPECT_EQ(Node(1)->text(0), "10.0.0.7");
    ASSERT_EQ(Node(0)->childCount(), 2);
    EXPECT_EQ(Node(0, 0)->text(0), "Brindlex.OPC.Simulation");
    EXPECT_EQ(Node(0, 1)->text(0), "Acme.Historian");
    EXPECT_EQ(COPCItemTreeCtrl::GetItemImage(Node(0)), IMAGE_COMPUTER);
    EXPECT_EQ(COPCItemTreeCtrl::GetItemImage(Node(0, 0)), IMAGE_BRINDLEX_SERVER);
    EXPECT_EQ(COPCItemTreeCtrl::GetItemImage(Node(0, 1)), IMAGE_SERVER);
    EXPECT_TRUE(Node(0)->isExpanded());
    // The newest connection is selected.
    EXPECT_EQ(Tree()->GetSelectedItem(), Node(0, 1));
    EXPECT_EQ(pane->GetSelectedServerKey(), u"Acme.Historian");
}

TEST_F(ServerPaneTest, BrindlexImageNeedsTheExactCase) {
    EXPECT_TRUE(CServerPane::IsBrindlexServer(u"x.Brindlex"));
    EXPECT_FALSE(CServerPane::IsBrindlexServer(u"brindlex.OPC"));
    File(u"", u"brindlex.OPC");
    EXPECT_EQ(COPCItemTreeCtrl::GetItemImage(Node(0, 0)), IMAGE_SERVER);
}

TEST_F(ServerPaneTest, KeysComeFromTheNodeTextsWithLocalhostAsTheEmptyComputer) {
    File(u"", u"Local.Server");
    File(u"plant-db", u"Remote.Server");
    Select(Node(0, 0));
    EXPECT_EQ(pane->GetSelectedServerKey(), u"Local.Server");
    Select(Node(1, 0));
    EXPECT_EQ(pane->GetSelectedServerKey(), u"plant-dbRemote.Server");
    Select(Node(1));
    EXPECT_EQ(pane->GetSelectedServerKey(), u"");  // a computer is no server
}

TEST_F(ServerPaneTest, TheListShowsTheSelectedServersItemsAndNothingForAComputer) {
    CHDAServer* a = File(u"", u"A.Server");
    AddItems(a, {{u"tag.b", 2}, {u"tag.a", 1}, {u"Tag.C", 3}});
    CHDAServer* b = File(u"", u"B.Server");
    EXPECT_TRUE(ListTexts().empty());  // a new connection has no items
    AddItems(b, {{u"other", 9}});

    Select(Node(0, 0));
    EXPECT_EQ(ListTexts(), (Texts{u"Tag.C", u"tag.a", u"tag.b"}));
    Select(Node(0));
    EXPECT_TRUE(ListTexts().empty());
    Select(Node(0, 1));
    EXPECT_EQ(ListTexts(), (Texts{u"other"}));
    Select(Node(0, 0));
    EXPECT_EQ(ListTexts(), (Texts{u"Tag.C", u"tag.a", u"tag.b"}));
    EXPECT_GT(frame.updates, 0);  // every selection change re-evaluates the commands
}

TEST_F(ServerPaneTest, DisconnectKeepsTheComputerUntilItsLastServerGoes) {
    File(u"", u"A.Server");
    File(u"", u"B.Server");
    Select(Node(0, 0));
    pane->OnDisconnect();
    ASSERT_EQ(Tree()->topLevelItemCount(), 1);
    ASSERT_EQ(Node(0)->childCount(), 1);
    EXPECT_EQ(Node(0, 0)->text(0), "B.Server");
    EXPECT_EQ(pane->m_mapServers.count(u"A.Server"), 0u);
    EXPECT_EQ(pane->m_mapServers.count(u"B.Server"), 1u);

    Select(Node(0, 0));
    pane->OnDisconnect();
    EXPECT_EQ(Tree()->topLevelItemCount(), 0);
    EXPECT_TRUE(pane->m_mapServers.empty());
    EXPECT_TRUE(ListTexts().empty());
}

TEST_F(ServerPaneTest, DisconnectMovesTheSelectionAndTheListToTheNeighbour) {
    CHDAServer* a = File(u"", u"A.Server");
    AddItems(a, {{u"a1", 1}, {u"a2", 2}});
    CHDAServer* b = File(u"", u"B.Server");
    AddItems(b, {{u"b1", 3}});
    Select(Node(0, 0));
    ASSERT_EQ(ListTexts(), (Texts{u"a1", u"a2"}));
    pane->OnDisconnect();
    // The node that took the selection is the one whose items are listed, and the only one selected.
    ASSERT_EQ(Tree()->selectedItems().size(), 1);
    EXPECT_EQ(Tree()->GetSelectedItem()->text(0), "B.Server");
    EXPECT_EQ(ListTexts(), (Texts{u"b1"}));
}

TEST_F(ServerPaneTest, ReconnectingStartsWithNoItems) {
    CHDAServer* a = File(u"", u"A.Server");
    AddItems(a, {{u"a1", 1}});
    pane->OnDisconnect();
    File(u"", u"A.Server");
    EXPECT_TRUE(ListTexts().empty());
    EXPECT_TRUE(pane->FindServer(u"A.Server")->m_mapItems.empty());
}

TEST_F(ServerPaneTest, HandlesFollowListOrderRepeated) {
    CHDAServer* a = File(u"", u"A.Server");
    AddItems(a, {{u"c", 30}, {u"a", 10}, {u"b", 20}, {u"d", 40}});
    // Selected in another order than the list's.
    SelectRows({u"d", u"a", u"c"});
    EXPECT_EQ(pane->GetSelectedItemIds(), (Texts{u"a", u"c", u"d"}));

    EXPECT_EQ(pane->GetSelectedItemHandles(3), (std::vector<OPCHANDLE>{10, 30, 40, 10, 30, 40, 10, 30, 40}));
    EXPECT_TRUE(pane->GetSelectedItemHandles(0).empty());
    List()->clearSelection();
    EXPECT_TRUE(pane->GetSelectedItemHandles(1).empty());
}

TEST_F(ServerPaneTest, EnablingFollowsTheTreeAndListSelection) {
    auto enabled = [&](int id) { return pane->IsCommandEnabled(id); };
    const int itemCommands[] = {ID_SERVER_DELETEITEMS,     ID_FUNCTION_READRAW,   ID_FUNCTION_READPROCESSED,
                                ID_FUNCTION_READATTIME,    ID_FUNCTION_INSERT,    ID_FUNCTION_REPLACE,
                                ID_FUNCTION_INSERTREPLACE, ID_FUNCTION_DELETERAW, ID_FUNCTION_DELETEATTIME};

    // Nothing connected: only the commands without a rule and Options.
    for (int id : {ID_SERVER_CONNECT, ID_SERVER_CONNECTREMOTE, ID_FILE_OPTIONS})
        EXPECT_TRUE(enabled(id)) << id;
    for (int id : {ID_SERVER_ADDITEMS, ID_SERVER_DISCONNECT, ID_SERVER_STATUS, ID_FUNCTION_READATTRIBUTE})
        EXPECT_FALSE(enabled(id)) << id;

    CHDAServer* a = File(u"", u"A.Server");
    AddItems(a, {{u"x", 1}, {u"y", 2}});
    Select(Node(0));  // a machine node
    for (int id : {ID_SERVER_ADDITEMS, ID_SERVER_DISCONNECT, ID_SERVER_STATUS})
        EXPECT_FALSE(enabled(id)) << id;

    Select(Node(0, 0));
    for (int id : {ID_SERVER_ADDITEMS, ID_SERVER_DISCONNECT, ID_SERVER_STATUS})
        EXPECT_TRUE(enabled(id)) << id;
    for (int id : itemCommands) EXPECT_FALSE(enabled(id)) << id;
    EXPECT_FALSE(enabled(ID_FUNCTION_READATTRIBUTE));

    SelectRows({u"x"});
    for (int id : itemCommands) EXPECT_TRUE(enabled(id)) << id;
    EXPECT_TRUE(enabled(ID_FUNCTION_READATTRIBUTE));

    SelectRows({u"x", u"y"});
    for (int id : itemCommands) EXPECT_TRUE(enabled(id)) << id;
    EXPECT_FALSE(enabled(ID_FUNCTION_READATTRIBUTE));

    // Ids the pane has no handler for are never enabled.
    for (int id : {ID_EDIT_COPY, ID_ADDITEM_DELETETAG, IDC_SERVER_TREE, ID_APP_ABOUT})
        EXPECT_FALSE(enabled(id)) << id;
}

TEST_F(ServerPaneTest, DeleteItemsAsksAndOnlyYesRemoves) {
    CHDAServer* a = File(u"", u"A.Server");
    AddItems(a, {{u"i1", 1}, {u"i2", 2}, {u"i3", 3}, {u"i4", 4}});
    SelectRows({u"i1", u"i3", u"i4"});
    MessageRecorder messages;
    messages.answers = {hda::MsgResult::No, hda::MsgResult::Cancel, hda::MsgResult::Yes};

    pane->OnDeleteItems();
    pane->OnDeleteItems();
    EXPECT_EQ(ListTexts().size(), 4u);
    EXPECT_EQ(a->m_mapItems.size(), 4u);

    pane->OnDeleteItems();
    ASSERT_EQ(messages.seen.size(), 3u);
    const hda::MessageRequest& q = messages.seen[0];
    EXPECT_EQ(q.text, u"Delete Selected Items?");
    EXPECT_EQ(q.caption, u"BrindlexOPC HDA Vistrel");
    EXPECT_EQ(q.icon, hda::MsgIcon::Question);
    EXPECT_EQ(q.buttons, hda::MsgButtons::YesNoCancel);
    EXPECT_EQ(ListTexts(), (Texts{u"i2"}));
    ASSERT_EQ(a->m_mapItems.size(), 1u);
    EXPECT_EQ(a->GetItemServerHandle(u"i2"), 2u);
}

TEST_F(ServerPaneTest, ConnectWithAnEmptyServerBoxDoesNothing) {
    MessageRecorder messages;
    pane->OnConnect();
    EXPECT_TRUE(messages.seen.empty());
    EXPECT_EQ(Tree()->topLevelItemCount(), 0);
}

TEST_F(ServerPaneTest, ASecondConnectOfTheSameServerIsRefused) {
    File(u"", u"Brindlex.OPC.Simulation");
    frame.combo.addItem("Brindlex.OPC.Simulation");
    frame.combo.setCurrentIndex(0);
    MessageRecorder messages;
    pane->OnConnect();
    ASSERT_EQ(messages.seen.size(), 1u);
    EXPECT_EQ(messages.seen[0].text, u"Server is already connected");
    EXPECT_EQ(messages.seen[0].caption, u"Error");
    EXPECT_EQ(messages.seen[0].icon, hda::MsgIcon::None);
    EXPECT_EQ(messages.seen[0].buttons, hda::MsgButtons::Ok);
    EXPECT_EQ(Node(0)->childCount(), 1);
    EXPECT_EQ(pane->m_mapServers.size(), 1u);
}

TEST_F(ServerPaneTest, ARemoteComputerNamedLocalhostIsThisComputer) {
    File(u"", u"Brindlex.OPC.Simulation");
    MessageRecorder messages;
    pane->m_strRemoteComputer = u"Localhost";
    pane->m_strRemoteProgId = u"Brindlex.OPC.Simulation";
    pane->ConnectServer(TRUE);
    ASSERT_EQ(messages.seen.size(), 1u);
    EXPECT_EQ(messages.seen[0].text, u"Server is already connected");
    EXPECT_EQ(pane->m_mapServers.size(), 1u);
    EXPECT_EQ(Tree()->topLevelItemCount(), 1);
    EXPECT_TRUE(pane->m_strRemoteComputer.empty());  // handed over for one connection only
}

TEST_F(ServerPaneTest, TwoConnectionsThatWouldShareAKeyAreRefused) {
    File(u"hostA", u"B.Server");
    MessageRecorder messages;
    pane->m_strRemoteComputer = u"host";
    pane->m_strRemoteProgId = u"AB.Server";
    pane->ConnectServer(TRUE);
    ASSERT_EQ(messages.seen.size(), 1u);
    EXPECT_EQ(messages.seen[0].text,
              u"Cannot connect to 'AB.Server' on 'host': another connection is filed under the same name "
              u"'hostAB.Server'.");
    EXPECT_EQ(pane->m_mapServers.size(), 1u);
    EXPECT_EQ(pane->FindServer(u"hostAB.Server")->m_strComputer, u"hostA");
    EXPECT_EQ(Tree()->topLevelItemCount(), 1);
}

TEST_F(ServerPaneTest, ARemoteComputerNameTooLongAddsNothing) {
    MessageRecorder messages;
    pane->m_strRemoteComputer = std::u16string(300, u'n');
    pane->m_strRemoteProgId = u"Some.Server";
    pane->ConnectServer(TRUE);
    ASSERT_EQ(messages.seen.size(), 1u);
    EXPECT_NE(messages.seen[0].text.find(u"is too long"), std::u16string::npos);
    EXPECT_TRUE(pane->m_mapServers.empty());
    EXPECT_EQ(Tree()->topLevelItemCount(), 0);
    EXPECT_TRUE(pane->m_strRemoteComputer.empty());
}

TEST_F(ServerPaneTest, AddItemsRemembersTheServerItIsOpenFor) {
    File(u"10.1.1.1", u"A.Server");
    File(u"", u"B.Server");
    Select(Node(0, 0));
    QString opened;  // the Add Items dialog runs modally; closed at once
    QTimer::singleShot(0, [&] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            opened = w->windowTitle();
            w->close();
        }
    });
    pane->OnAddItems();
    EXPECT_EQ(opened, "Insert Item");
    EXPECT_EQ(pane->m_hAddItemsServer, Node(0, 0));
    EXPECT_EQ(pane->m_strCurrentServer, u"10.1.1.1A.Server");
    EXPECT_EQ(pane->GetAddItemsServer(), nullptr);  // filed without a server interface
}

// A popup menu is modal: the timer armed before the click finds it, records it and picks an entry.
struct PopupProbe {
    QStringList texts;
    QList<bool> enabled;
    QString objectName;
    void Arm(const QString& choose) {
        QTimer::singleShot(0, [this, choose] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            objectName = menu->objectName();
            QAction* pick = nullptr;
            for (QAction* a : menu->actions()) {
                texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
                enabled << a->isEnabled();
                if (a->text() == choose && a->isEnabled()) pick = a;
            }
            if (pick) {
                menu->setActiveAction(pick);
                QTest::keyClick(menu, Qt::Key_Return);
            } else {
                menu->close();
            }
        });
    }
};

TEST_F(ServerPaneTest, RightClickInTheTreeActsOnTheSelectedNodeNotTheOneClicked) {
    File(u"", u"A.Server");
    File(u"", u"B.Server");
    pane->show();
    Select(Node(0, 1));
    const QRect r = Tree()->visualItemRect(Node(0, 0));
    PopupProbe probe;
    probe.Arm("Disconnect");
    QTest::mouseClick(Tree()->viewport(), Qt::RightButton, {}, r.center());
    EXPECT_EQ(probe.objectName, "ServerPopup");
    EXPECT_EQ(probe.texts, (QStringList{"Disconnect", "Add Items", "Server Status"}));
    EXPECT_EQ(probe.enabled, (QList<bool>{true, true, true}));
    ASSERT_EQ(frame.routed, (std::vector<int>{ID_SERVER_DISCONNECT}));
    // B was selected, so B went.
    ASSERT_EQ(Node(0)->childCount(), 1);
    EXPECT_EQ(Node(0, 0)->text(0), "A.Server");
}

TEST_F(ServerPaneTest, TheServerMenuOnAComputerOffersNothing) {
    File(u"", u"A.Server");
    Select(Node(0));
    PopupProbe probe;
    probe.Arm("Disconnect");
    pane->ShowServerMenu();
    EXPECT_EQ(probe.enabled, (QList<bool>{false, false, false}));
    EXPECT_TRUE(frame.routed.empty());
    EXPECT_EQ(Node(0)->childCount(), 1);
}

TEST_F(ServerPaneTest, RightClickInTheListSelectsTheRowThenShowsTheFunctionMenu) {
    CHDAServer* a = File(u"", u"A.Server");
    AddItems(a, {{u"r1", 1}, {u"r2", 2}});
    pane->show();
    List()->doItemsLayout();
    const QRect r = List()->visualItemRect(List()->item(1));
    PopupProbe probe;
    probe.Arm("");
    QTest::mouseClick(List()->viewport(), Qt::RightButton, {}, r.center());
    EXPECT_EQ(probe.texts, (QStringList{QString::number(ID_FUNCTION_READRAW),
                                        QString::number(ID_FUNCTION_READATTRIBUTE)}));
    EXPECT_EQ(pane->GetSelectedItemIds(), (Texts{u"r2"}));
}

TEST_F(ServerPaneTest, TheControlsShareThePaneHalfAndHalf) {
    pane->resize(300, 401);
    QResizeEvent e(QSize(300, 401), QSize(300, 400));
    QApplication::sendEvent(pane.get(), &e);
    EXPECT_EQ(Tree()->geometry(), QRect(3, 3, 294, 194));
    EXPECT_EQ(List()->geometry(), QRect(3, 203, 294, 194));
}

}  // namespace
