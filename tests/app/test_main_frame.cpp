// The main window as a user meets it: caption, menus, toolbar, status bar, routing and enabling.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <vector>

#include "app/aboutdlg.h"
#include "app/brindlexapp.h"
#include "app/editbar.h"
#include "app/mainframe.h"
#include "client/reads.h"
#include "client/textforms.h"
#include "com/objbase.h"
#include "com/timeapi.h"
#include "dialogs/dlgkit.h"
#include "outputpane/calltracepane.h"
#include "outputpane/options.h"
#include "outputpane/outputpane.h"
#include "resources/uikit.h"
#include "serverpane/commandids.h"
#include "serverpane/commands.h"
#include "serverpane/opcitemctrls.h"
#include "serverpane/serverpane.h"
#include "tests/plugins/recording_control.h"
#ifdef VISTREL_HOST_PATH
#include "remote/remote.h"
#include "tests/com/store_fixture.h"
#endif
#include "tests/serverpane/message_recorder.h"
#include "trend/trendwindow.h"

void PrintTo(const QString& s, std::ostream* os);

namespace {

class MainFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(store.isValid());
        qputenv("VISTREL_CLASS_STORE", store.path().toUtf8());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           store.path());  // settings of its own
        com::ResetRuntimeForTests();
        Register();
        messages = std::make_unique<MessageRecorder>();
        theApp = std::make_unique<CBrindlexHDAApp>();
        ASSERT_TRUE(theApp->InitInstance());
        frame = theApp->GetMainWnd();
        pane = frame->GetServerPane();
    }
    void TearDown() override {
        theApp.reset();
        com::ResetRuntimeForTests();
        qunsetenv("VISTREL_CLASS_STORE");
    }
    // Classes to register before the client starts.
    virtual void Register() {}

    CHDAServer* File(const std::u16string& computer, const std::u16string& progId) {
        auto server = std::make_unique<CHDAServer>(pane);
        server->m_strComputer = computer;
        server->m_strProgId = progId;
        CHDAServer* p = server.get();
        pane->m_mapServers.emplace(computer + progId, std::move(server));
        pane->AddServerToTree(computer, progId);
        return p;
    }
    QStringList MenuTexts(QMenu* menu) {
        QStringList t;
        for (QAction* a : menu->actions()) t << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return t;
    }
    QMenu* MenuNamed(const QString& title) {
        for (QAction* a : frame->menuBar()->actions())
            if (a->text() == title) return a->menu();
        return nullptr;
    }

    QTemporaryDir store;
    std::unique_ptr<MessageRecorder> messages;
    std::unique_ptr<CBrindlexHDAApp> theApp;
    CMainFrame* frame = nullptr;
    CServerPane* pane = nullptr;
};

TEST_F(MainFrameTest, StartsWithTheProductCaptionAnEmptyServerBoxAndNoMessage) {
    EXPECT_EQ(frame->windowTitle(), "BrindlexOPC HDA Vistrel");
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(QCoreApplication::organizationName(), "Brindlex");
    EXPECT_EQ(frame->GetServerCombo()->count(), 0);
    EXPECT_EQ(frame->GetServerCombo()->currentIndex(), -1);
    EXPECT_TRUE(messages->seen.empty()) << U8(messages->seen.empty() ? u"" : messages->seen[0].text);
    EXPECT_TRUE(pane->IsComInitialized());
    // Connect with nothing to choose does nothing.
    frame->RouteCommand(ID_SERVER_CONNECT);
    EXPECT_TRUE(messages->seen.empty());
    EXPECT_EQ(pane->GetServerTree()->topLevelItemCount(), 0);
}

TEST(Caption, TheTextAfterTheLastHyphenFollowsTheProductPrefix) {
    EXPECT_EQ(CBrindlexHDAApp::RewriteCaption("Untitled - HDA Vistrel"), "BrindlexOPC HDA Vistrel");
    EXPECT_EQ(CBrindlexHDAApp::RewriteCaption("a-b - HDA Vistrel"), "BrindlexOPC HDA Vistrel");
}

TEST_F(MainFrameTest, TheSplitterHoldsTheServerPaneLeftAndTheOutputPaneRight) {
    QSplitter* splitter = frame->GetSplitter();
    ASSERT_EQ(splitter->count(), 2);
    EXPECT_EQ(splitter->widget(0), pane);
    EXPECT_EQ(splitter->widget(1), frame->GetOutputPane());
    EXPECT_EQ(pane->GetOutputPane(), frame->GetOutputPane());
    EXPECT_EQ(splitter->sizes().value(0), 300);
}

TEST_F(MainFrameTest, MenusCarryTheirCaptionsInOrder) {
    QStringList titles;
    for (QAction* a : frame->menuBar()->actions()) titles << a->text();
    EXPECT_EQ(titles, (QStringList{"&File", "&Server", "F&unction", "&View", "&Help"}));
    EXPECT_EQ(MenuTexts(MenuNamed("&File")), (QStringList{"&Export...", "&Options", "-", "E&xit"}));
    EXPECT_EQ(MenuTexts(MenuNamed("&Server")),
              (QStringList{"&Connect", "Connect &Remote", "&Disconnect", "&Add Items",
                           "De&lete Selected Items", "&Server Status", "-", "Run Servers Out of &Process",
                           "-", "Sa&ve Items...", "L&oad Items..."}));
    EXPECT_EQ(MenuTexts(MenuNamed("F&unction")),
              (QStringList{"&Read Raw", "Read &Processed", "Read &Attribute", "Read At &Time", "Read &Next",
                           "Read &Modified", "-", "&Insert", "R&eplace", "In&sert/Replace", "-",
                           "&Delete Raw", "De&lete At Time"}));
    EXPECT_EQ(frame->GetFunctionMenu(), MenuNamed("F&unction"));
    EXPECT_EQ(MenuTexts(MenuNamed("&View")),
              (QStringList{"&Status Bar", "&Call Trace", "-", "&Trend", "Trend of &All Tabs", "-",
                           "&Local (current offset)", "Local (offset of &each instant)", "&UTC"}));
    EXPECT_EQ(MenuTexts(MenuNamed("&Help")), (QStringList{"&About HDA Vistrel..."}));
}

TEST_F(MainFrameTest, EveryCommandCarriesItsPromptAndTooltip) {
    for (const cmd::Command& c : cmd::Commands()) {
        QAction* a = frame->GetCommandAction(c.nId);
        ASSERT_NE(a, nullptr) << c.nId;
        EXPECT_EQ(a->data().toInt(), c.nId);
        EXPECT_EQ(a->statusTip(), QString::fromLatin1(c.pszPrompt ? c.pszPrompt : "")) << c.nId;
        EXPECT_EQ(frame->GetCommandPrompt(c.nId), a->statusTip()) << c.nId;
        if (c.pszTooltip) {
            EXPECT_EQ(a->toolTip(), QString::fromLatin1(c.pszTooltip)) << c.nId;
        }
    }
    EXPECT_EQ(frame->GetCommandAction(ID_FUNCTION_READRAW)->statusTip(),
              "Read Raw Data  from selected HDA Items");
    EXPECT_EQ(frame->GetCommandAction(ID_FUNCTION_DELETEATTIME)->statusTip(),
              "Delete data from the HDA Server for specifice timestamps");
    EXPECT_EQ(frame->GetCommandAction(ID_FUNCTION_DELETEATTIME)->toolTip(), "Delete at Time");
}

TEST_F(MainFrameTest, TheToolbarHasTheServerBoxThenTheButtonsInSlotOrder) {
    CEditBar* bar = frame->GetEditBar();
    EXPECT_EQ(bar->windowTitle(), "Server");
    EXPECT_EQ(bar->allowedAreas(), Qt::AllToolBarAreas);
    EXPECT_EQ(frame->toolBarArea(bar), Qt::TopToolBarArea);
    QList<int> slotIds;
    for (QAction* a : bar->actions()) {
        if (a == bar->GetServerBoxSlot())
            slotIds << IDC_SERVER_COMBO;
        else if (a == bar->GetVerticalSlot())
            continue;  // hidden while horizontal
        else
            slotIds << (a->isSeparator() ? 0 : a->data().toInt());
    }
    EXPECT_EQ(slotIds, (QList<int>{IDC_SERVER_COMBO,
                                   32779,
                                   32804,
                                   32789,
                                   61211,
                                   0,
                                   32780,
                                   32790,
                                   0,
                                   32792,
                                   61216,
                                   32797,
                                   32798,
                                   0,
                                   32799,
                                   32800,
                                   32801,
                                   0,
                                   32802,
                                   32803,
                                   0,
                                   32840,
                                   32841,
                                   32863,
                                   0,
                                   32850,
                                   32870,
                                   0,
                                   32842,
                                   32843,
                                   0,
                                   32860,
                                   32861,
                                   32862}));
    // The time basis buttons show the one in force, as the menu's radio entries do.
    EXPECT_TRUE(frame->GetCommandAction(32860)->isChecked());
    EXPECT_FALSE(frame->GetCommandAction(32862)->isChecked());
    QComboBox* box = frame->GetServerCombo();
    EXPECT_EQ(box->width(), 400);
    EXPECT_EQ(box->statusTip(), "Available HDA Servers");
    EXPECT_TRUE(box->toolTip().isEmpty());
    EXPECT_FALSE(box->isEditable());
    EXPECT_EQ(box->font().family(), "Times New Roman");
}

TEST_F(MainFrameTest, AVerticalDockSwapsTheServerBoxForADisabledButtonAndBack) {
    CEditBar* bar = frame->GetEditBar();
    QComboBox* box = frame->GetServerCombo();
    box->clear();
    box->addItems({"First.Server", "Second.Server"});
    box->setCurrentIndex(1);

    frame->addToolBar(Qt::LeftToolBarArea, bar);
    QApplication::processEvents();  // the bar lays out its slots on its next layout pass
    EXPECT_EQ(bar->orientation(), Qt::Vertical);
    EXPECT_TRUE(bar->m_bVertical);
    EXPECT_FALSE(bar->GetServerBoxSlot()->isVisible());
    EXPECT_FALSE(box->isVisible());
    QAction* slot0 = bar->GetVerticalSlot();
    EXPECT_TRUE(slot0->isVisible());
    EXPECT_EQ(slot0->data().toInt(), ID_EDITBAR_SLOT0);
    EXPECT_FALSE(slot0->isEnabled());
    auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(slot0));
    ASSERT_NE(button, nullptr);
    EXPECT_FALSE(button->isEnabled());
    frame->UpdateCommandUI();
    EXPECT_FALSE(slot0->isEnabled());  // no handler, whatever else changes

    frame->addToolBar(Qt::BottomToolBarArea, bar);
    QApplication::processEvents();
    EXPECT_EQ(bar->orientation(), Qt::Horizontal);
    EXPECT_FALSE(bar->m_bVertical);
    EXPECT_TRUE(bar->GetServerBoxSlot()->isVisible());
    EXPECT_TRUE(box->isVisible());
    EXPECT_FALSE(slot0->isVisible());
    EXPECT_EQ(box->count(), 2);
    EXPECT_EQ(box->currentIndex(), 1);
    EXPECT_EQ(box->currentText(), "Second.Server");

    // Floating off a vertical dock lays the bar out horizontally, with the box.
    frame->addToolBar(Qt::RightToolBarArea, bar);
    QApplication::processEvents();
    ASSERT_TRUE(bar->m_bVertical);
    bar->OnFloatingChanged(true);
    QApplication::processEvents();
    EXPECT_EQ(bar->orientation(), Qt::Horizontal);
    EXPECT_FALSE(bar->m_bVertical);
    EXPECT_TRUE(bar->GetServerBoxSlot()->isVisible());
}

TEST_F(MainFrameTest, TheStatusBarShowsReadyPromptsAndTheLockIndicators) {
    QStatusBar* bar = frame->statusBar();
    EXPECT_EQ(frame->GetMessagePane()->text(), "Ready");
    QStringList names;
    for (QLabel* l : bar->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly))
        names << l->objectName();
    EXPECT_TRUE(names.contains("CAP") && names.contains("NUM") && names.contains("SCRL"))
        << names.join(',').toStdString();

    QAction* readRaw = frame->GetCommandAction(ID_FUNCTION_READRAW);
    readRaw->showStatusText(frame);
    EXPECT_EQ(bar->currentMessage(), "Read Raw Data  from selected HDA Items");
    QStatusTipEvent leave{QString()};
    QApplication::sendEvent(frame, &leave);
    EXPECT_TRUE(bar->currentMessage().isEmpty());
    EXPECT_TRUE(frame->GetMessagePane()->isVisible());

    // The pointer on the server box shows its prompt.
    QStatusTipEvent box{frame->GetServerCombo()->statusTip()};
    QApplication::sendEvent(frame, &box);
    EXPECT_EQ(bar->currentMessage(), "Available HDA Servers");
}

TEST_F(MainFrameTest, TheStatusBarCommandHidesAndShowsItWithACheckMark) {
    QAction* toggle = frame->GetCommandAction(ID_VIEW_STATUS_BAR);
    EXPECT_TRUE(toggle->isChecked());
    frame->RouteCommand(ID_VIEW_STATUS_BAR);
    EXPECT_TRUE(frame->statusBar()->isHidden());
    EXPECT_FALSE(toggle->isChecked());
    frame->RouteCommand(ID_VIEW_STATUS_BAR);
    EXPECT_FALSE(frame->statusBar()->isHidden());
    EXPECT_TRUE(toggle->isChecked());
}

TEST_F(MainFrameTest, EnablingIsTheSameWhicheverPaneIsActive) {
    CHDAServer* a = File(u"", u"Brindlex.OPC.Simulation");
    pane->m_strCurrentServer = u"Brindlex.OPC.Simulation";
    a->AddItemToServer(u"x", 1);
    a->AddItemToServer(u"y", 2);
    const int paneCommands[] = {32779, 32789, 61211, 32780, 32790, 32804, 32792, 61216,
                                32797, 32798, 32799, 32800, 32801, 32802, 32803, 32805};
    auto states = [&] {
        frame->UpdateCommandUI();
        QList<bool> s;
        for (int id : paneCommands) s << frame->GetCommandAction(id)->isEnabled();
        return s;
    };
    // What the rules give, for the commands whose operation is built; the others stay disabled.
    auto built = [&](QList<bool> byRule) {
        for (int i = 0; i < byRule.size(); ++i)
            byRule[i] = byRule[i] && cmd::FindCommand(paneCommands[i])->handler;
        return byRule;
    };
    for (QWidget* active : {static_cast<QWidget*>(pane), static_cast<QWidget*>(frame->GetOutputPane())}) {
        frame->SetActivePane(active);
        ASSERT_EQ(frame->GetActivePane(), active);
        pane->GetItemList()->item(0)->setSelected(true);
        pane->GetItemList()->item(1)->setSelected(true);
        // Brindlex server node (second server image) and two items: all but Read Attribute.
        EXPECT_EQ(states(), built({true, true, true, true, true, true, true, true, false, true, true, true,
                                   true, true, true, true}));
        pane->GetItemList()->item(1)->setSelected(false);
        EXPECT_TRUE(states()[8]);  // one item: Read Attribute too
        pane->GetServerTree()->setCurrentItem(pane->GetServerTree()->topLevelItem(0));  // the computer
        EXPECT_EQ(states(), built({true, true, false, false, false, false, false, false, false, false, false,
                                   false, false, false, false, true}));
        pane->GetServerTree()->setCurrentItem(pane->GetServerTree()->topLevelItem(0)->child(0));
    }
}

TEST_F(MainFrameTest, CommandsWithoutAHandlerAreDisabledAndCtrlCWithoutOutputRowsCopiesNothing) {
    for (int id : {ID_EDIT_COPY, ID_EDIT_CUT, ID_EDIT_PASTE, ID_EDIT_UNDO, IDC_SERVER_TREE,
                   ID_ADDITEM_DELETETAG, ID_FILE_OPEN}) {
        EXPECT_FALSE(frame->IsCommandEnabled(id)) << id;
        EXPECT_FALSE(frame->GetCommandAction(id)->isEnabled()) << id;
    }
    EXPECT_TRUE(frame->IsCommandEnabled(ID_FILE_OPTIONS));

    CHDAServer* a = File(u"", u"A.Server");
    pane->m_strCurrentServer = u"A.Server";
    a->AddItemToServer(u"Tag.To.Copy", 1);
    QListWidget* list = pane->GetItemList();
    list->setCurrentRow(0);
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    list->setFocus();
    QApplication::clipboard()->setText("untouched");
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(list, Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "untouched");
    EXPECT_EQ(list->count(), 1);
}

TEST_F(MainFrameTest, CommandsWhoseOperationIsNotBuiltShowDisabledAndDoNothing) {
    CHDAServer* a = File(u"", u"A.Server");
    pane->m_strCurrentServer = u"A.Server";
    a->AddItemToServer(u"x", 1);
    pane->GetItemList()->item(0)->setSelected(true);
    // Every operation of the Server and Function menus is built today; a command added later without
    // its handler must show disabled and do nothing.
    std::vector<int> notBuilt;
    for (const cmd::Command& c : cmd::Commands()) {
        if ((c.menu == cmd::Menu::Server || c.menu == cmd::Menu::Function) && !c.handler)
            notBuilt.push_back(c.nId);
    }
    EXPECT_TRUE(notBuilt.empty());
    for (QWidget* active : {static_cast<QWidget*>(pane), static_cast<QWidget*>(frame->GetOutputPane())}) {
        frame->SetActivePane(active);
        frame->UpdateCommandUI();
        ASSERT_TRUE(frame->GetCommandAction(ID_FUNCTION_READRAW)->isEnabled());  // the rule holds
        for (int id : notBuilt) {
            QAction* action = frame->GetCommandAction(id);
            EXPECT_FALSE(action->isEnabled()) << id;
            EXPECT_FALSE(frame->IsCommandEnabled(id)) << id;
            EXPECT_FALSE(pane->IsCommandEnabled(id)) << id;
            auto* button = qobject_cast<QToolButton*>(frame->GetEditBar()->widgetForAction(action));
            ASSERT_NE(button, nullptr) << id;
            EXPECT_FALSE(button->isEnabled()) << id;
            frame->RouteCommand(id);
            action->trigger();
            EXPECT_FALSE(pane->GetOutputPane()->OnCommand(id)) << id;
        }
    }
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(messages->seen.empty());
    EXPECT_EQ(pane->GetOutputPane()->GetTabCtrl(), nullptr);
    EXPECT_EQ(pane->GetOutputPane()->GetResultList(), nullptr);
}

TEST_F(MainFrameTest, TrendIsEnabledWhileValueTabsHaveTheirResultsAndOpensAWindow) {
    CHDAServer* a = File(u"", u"A.Server");
    pane->m_strCurrentServer = u"A.Server";
    a->AddItemToServer(u"x", 1);
    pane->GetItemList()->item(0)->setSelected(true);
    for (QWidget* active : {static_cast<QWidget*>(pane), static_cast<QWidget*>(frame->GetOutputPane())}) {
        frame->SetActivePane(active);
        pane->ReleaseLastResults();
        frame->UpdateCommandUI();
        EXPECT_FALSE(frame->GetCommandAction(ID_VIEW_TREND)->isEnabled());
        EXPECT_FALSE(frame->GetCommandAction(ID_VIEW_TREND_ALL)->isEnabled());

        // What a value read leaves: the tabs, then the result set behind them.
        pane->GetOutputPane()->CreateItemTabs();
        pane->SetLastResults(client::ResultSet(hdatest::TaskArray<OPCHDA_ITEM>({hdatest::MakeItem(1, 5)}),
                                               hdatest::TaskArray<HRESULT>({S_OK}), 1));
        frame->UpdateCommandUI();
        ASSERT_TRUE(frame->GetCommandAction(ID_VIEW_TREND)->isEnabled());
        EXPECT_TRUE(frame->GetCommandAction(ID_VIEW_TREND_ALL)->isEnabled());
        frame->RouteCommand(ID_VIEW_TREND);
        const QList<CTrendWindow*> windows = frame->findChildren<CTrendWindow*>();
        ASSERT_EQ(windows.size(), 1);
        EXPECT_EQ(windows[0]->windowTitle(), "Trend - x");
        EXPECT_TRUE(windows[0]->isWindow());
        delete windows[0];
    }
}

TEST_F(MainFrameTest, ACommandFromTheOutputPaneReachesTheServerPane) {
    File(u"", u"A.Server");
    File(u"", u"B.Server");
    frame->SetActivePane(frame->GetOutputPane());
    frame->RouteCommand(ID_SERVER_DISCONNECT);
    ASSERT_EQ(pane->GetServerTree()->topLevelItem(0)->childCount(), 1);
    EXPECT_EQ(pane->GetServerTree()->topLevelItem(0)->child(0)->text(0), "A.Server");
}

TEST_F(MainFrameTest, F6MovesBetweenThePanes) {
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    pane->GetServerTree()->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(frame->GetActivePane(), pane);
    QTest::keyClick(frame, Qt::Key_F6);
    EXPECT_EQ(frame->GetActivePane(), frame->GetOutputPane());
    QTest::keyClick(frame, Qt::Key_F6, Qt::ShiftModifier);
    EXPECT_EQ(frame->GetActivePane(), pane);
}

TEST_F(MainFrameTest, AboutShowsTheProductAndVersionAndClosesWithOk) {
    QString title;
    QStringList lines;
    bool okIsDefault = false;
    QTimer::singleShot(0, [&] {
        auto* dlg = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
        if (!dlg) return;
        title = dlg->windowTitle();
        for (QLabel* l : dlg->findChildren<QLabel*>())
            if (!l->text().isEmpty()) lines << l->text();
        auto* ok = dlg->findChild<QPushButton*>("OkButton");
        okIsDefault = ok && ok->isDefault() && ok->text() == "OK";
        if (ok) ok->click();
    });
    frame->RouteCommand(ID_APP_ABOUT);
    EXPECT_EQ(title, "About BrindlexOPC HDA Vistrel");
    EXPECT_TRUE(lines.contains("BrindlexOPC HDA Vistrel Version 1.1"));
    EXPECT_TRUE(okIsDefault);
}

TEST_F(MainFrameTest, OptionsOpensWithTheDisplayLimitFromEitherPane) {
    for (QWidget* active : {static_cast<QWidget*>(pane), static_cast<QWidget*>(frame->GetOutputPane())}) {
        frame->SetActivePane(active);
        QString shown;
        QTimer::singleShot(0, [&] {
            auto* dlg = qobject_cast<COptions*>(QApplication::activeModalWidget());
            if (!dlg) return;
            shown = dlg->GetEdit()->text();
            dlg->reject();
        });
        frame->RouteCommand(ID_FILE_OPTIONS);
        EXPECT_EQ(shown, "1000");
    }
}

TEST_F(MainFrameTest, NewDocumentKeepsTheCaption) {
    QTest::keyClick(frame, Qt::Key_N, Qt::ControlModifier);
    frame->RouteCommand(ID_FILE_NEW);
    EXPECT_EQ(frame->windowTitle(), "BrindlexOPC HDA Vistrel");
}

// ---- With servers registered ----

using namespace hdatest;

class MainFrameWithServers : public MainFrameTest {
protected:
    void Register() override {
        ASSERT_EQ(RegisterRecordingClass(HDATEST_RECORDING_PATH, Profile::NoAsync, u"HdaTest.NoAsync.1"),
                  S_OK);
        ASSERT_EQ(RegisterRecordingClass(HDATEST_RECORDING_PATH, Profile::Full, u"HdaTest.Recording.1"),
                  S_OK);
    }
    QToolButton* ToolButton(int id) {
        return qobject_cast<QToolButton*>(frame->GetEditBar()->widgetForAction(frame->GetCommandAction(id)));
    }
};

TEST_F(MainFrameWithServers, TheServerBoxListsTheRegisteredServersInStoreOrderWithTheFirstSelected) {
    QComboBox* box = frame->GetServerCombo();
    ASSERT_EQ(box->count(), 2);
    EXPECT_EQ(box->itemText(0), "HdaTest.NoAsync.1");
    EXPECT_EQ(box->itemText(1), "HdaTest.Recording.1");
    EXPECT_EQ(box->currentIndex(), 0);
    EXPECT_TRUE(messages->seen.empty());
}

TEST_F(MainFrameWithServers, ConnectAndDisconnectFromMenuToolbarAndContextMenu) {
    ScopedControl full(CLSID_HdaTestRecording);
    QComboBox* box = frame->GetServerCombo();
    COPCItemTreeCtrl* tree = pane->GetServerTree();

    // Connect from the toolbar button.
    box->setCurrentIndex(1);
    QToolButton* connectButton = ToolButton(ID_SERVER_CONNECT);
    ASSERT_NE(connectButton, nullptr);
    QTest::mouseClick(connectButton, Qt::LeftButton);
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    EXPECT_EQ(tree->topLevelItem(0)->child(0)->text(0), "HdaTest.Recording.1");
    EXPECT_TRUE(frame->GetCommandAction(ID_SERVER_DISCONNECT)->isEnabled());

    // Disconnect from the Server menu.
    QMenu* serverMenu = MenuNamed("&Server");
    QAction* disconnect = nullptr;
    for (QAction* a : serverMenu->actions())
        if (a->text() == "&Disconnect") disconnect = a;
    ASSERT_NE(disconnect, nullptr);
    disconnect->trigger();
    EXPECT_EQ(tree->topLevelItemCount(), 0);
    EXPECT_EQ(full->OutstandingReferences(), 0);
    EXPECT_FALSE(frame->GetCommandAction(ID_SERVER_DISCONNECT)->isEnabled());

    // Connect from the menu, disconnect from the tree's context menu.
    for (QAction* a : serverMenu->actions())
        if (a->text() == "&Connect") a->trigger();
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTimer::singleShot(0, [] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        for (QAction* a : menu->actions())
            if (a->text() == "Disconnect") menu->setActiveAction(a);
        QTest::keyClick(menu, Qt::Key_Return);
    });
    const QRect r = tree->visualItemRect(tree->topLevelItem(0)->child(0));
    QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, r.center());
    EXPECT_EQ(tree->topLevelItemCount(), 0);
    EXPECT_EQ(full->OutstandingReferences(), 0);
}

TEST_F(MainFrameWithServers, TheCallTraceRecordsOnlyWhileItsDockIsShown) {
    ScopedControl full(CLSID_HdaTestRecording);
    QAction* toggle = frame->GetCommandAction(ID_VIEW_CALLTRACE);
    EXPECT_EQ(frame->GetCallTraceDock(), nullptr);  // the first view has no dock
    EXPECT_FALSE(toggle->isChecked());

    frame->RouteCommand(ID_VIEW_CALLTRACE);
    CCallTraceDock* dock = frame->GetCallTraceDock();
    ASSERT_NE(dock, nullptr);
    EXPECT_TRUE(dock->isVisible());
    EXPECT_TRUE(toggle->isChecked());
    EXPECT_EQ(frame->dockWidgetArea(dock), Qt::BottomDockWidgetArea);
    frame->GetServerCombo()->setCurrentIndex(1);
    frame->RouteCommand(ID_SERVER_CONNECT);
    CHDAServer* server = pane->FindServer(u"HdaTest.Recording.1");
    ASSERT_NE(server, nullptr);
    const OPCHANDLE handles[] = {1};
    client::ReadOutcome read = client::ReadRaw(server->m_pSyncRead, {u"NOW-1H"}, {u"NOW"}, 0, false, handles);

    CCallTracePane* trace = dock->GetPane();
    trace->Refresh();
    QStringList methods;
    for (int r = 0; r < trace->RowCount(); ++r) methods << trace->CellText(r, 2);
    EXPECT_EQ(methods, (QStringList{"connect", "IUnknown::QueryInterface", "IUnknown::QueryInterface",
                                    "IUnknown::QueryInterface", "IOPCHDA_SyncRead::ReadRaw"}));
    const int last = trace->RowCount() - 1;
    EXPECT_EQ(trace->CellText(last, 1), "HdaTest.Recording.1");
    EXPECT_EQ(trace->CellText(last, 5), QString::fromStdString(client::CallCode(read.hr)));
    EXPECT_EQ(trace->CellText(last, 6), ui::ToQString(client::FormatResultCode(read.hr)));
    trace->SetFilter("READRAW");
    EXPECT_EQ(trace->RowCount(), 1);
    // The time column follows the time basis (an hour east of UTC here).
    com::SetFixedBiasMinutes(-60);
    frame->RouteCommand(ID_VIEW_TIME_LOCAL);
    const QString local = trace->CellText(0, 0);
    frame->RouteCommand(ID_VIEW_TIME_UTC);
    const QString utc = trace->CellText(0, 0);
    EXPECT_NE(utc, local);
    frame->RouteCommand(ID_VIEW_TIME_LOCAL);
    EXPECT_EQ(trace->CellText(0, 0), local);
    com::ResetClock();
    QTemporaryDir dir;
    QString error;
    ASSERT_TRUE(trace->ExportCsv(dir.path() + "/trace.csv", &error)) << error.toStdString();
    QFile csv(dir.path() + "/trace.csv");
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_EQ(csv.readAll().count("\r\n"), 2);  // the header and the one row shown
    EXPECT_FALSE(trace->ExportCsv(dir.path() + "/missing/trace.csv", &error));

    // Closed by its own button, it stops recording and the command loses its check mark.
    dock->close();
    EXPECT_FALSE(toggle->isChecked());
    client::ReadOutcome unseen =
        client::ReadRaw(server->m_pSyncRead, {u"NOW-1H"}, {u"NOW"}, 0, false, handles);
    frame->RouteCommand(ID_VIEW_CALLTRACE);
    EXPECT_TRUE(toggle->isChecked());
    trace->SetFilter("");
    EXPECT_EQ(trace->RowCount(), 5);
    frame->RouteCommand(ID_VIEW_CALLTRACE);
    EXPECT_TRUE(dock->isHidden());
    EXPECT_FALSE(toggle->isChecked());
}

TEST_F(MainFrameWithServers, ClosingTheMainWindowReleasesEveryServer) {
    ScopedControl full(CLSID_HdaTestRecording);
    ScopedControl noAsync(CLSID_HdaTestNoAsync);
    frame->GetServerCombo()->setCurrentIndex(0);
    frame->RouteCommand(ID_SERVER_CONNECT);
    frame->GetServerCombo()->setCurrentIndex(1);
    frame->RouteCommand(ID_SERVER_CONNECT);
    ASSERT_EQ(pane->m_mapServers.size(), 2u);
    EXPECT_GT(full->OutstandingReferences() + noAsync->OutstandingReferences(), 0);

    frame->close();
    theApp.reset();
    EXPECT_EQ(full->OutstandingReferences(), 0);
    EXPECT_EQ(noAsync->OutstandingReferences(), 0);
    EXPECT_EQ(full->LiveObjects() + noAsync->LiveObjects(), 0);
}

#ifdef VISTREL_HOST_PATH
// Run Servers Out of Process: a checkable Server command kept in the settings. With it on, a server
// that aborts inside ReadRaw costs only its own connection: the read fails as a lost connection does
// and the client goes on with another server.
TEST_F(MainFrameWithServers, ServersRunOutOfProcessSurviveACrashingServer) {
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    vistrel_test::ScopedEnv crash("HDATEST_ABORT_READRAW", std::string("HdaTest.NoAsync.1"));
    vistrel::remote::ClientOptions options;
    options.surrogate = VISTREL_HOST_PATH;
    vistrel::remote::InstallRemoteActivator(options);

    QAction* option = frame->GetCommandAction(ID_SERVER_OUTOFPROCESS);
    ASSERT_NE(option, nullptr);
    EXPECT_TRUE(option->isCheckable());
    EXPECT_FALSE(option->isChecked());
    EXPECT_EQ(ToolButton(ID_SERVER_OUTOFPROCESS), nullptr);
    option->trigger();
    EXPECT_TRUE(option->isChecked());
    EXPECT_TRUE(QSettings().value("Settings/RunServersOutOfProcess").toBool());

    // The next start reads the setting and runs servers out of process from the outset.
    theApp.reset();
    com::ResetRuntimeForTests();
    Register();
    vistrel::remote::InstallRemoteActivator(options);  // isolation off again
    theApp = std::make_unique<CBrindlexHDAApp>();
    ASSERT_TRUE(theApp->InitInstance());
    frame = theApp->GetMainWnd();
    pane = frame->GetServerPane();
    option = frame->GetCommandAction(ID_SERVER_OUTOFPROCESS);
    EXPECT_TRUE(option->isChecked());

    ScopedControl full(CLSID_HdaTestRecording);
    ScopedControl noAsync(CLSID_HdaTestNoAsync);
    frame->GetServerCombo()->setCurrentIndex(0);  // HdaTest.NoAsync.1
    frame->RouteCommand(ID_SERVER_CONNECT);
    CHDAServer* crashing = pane->FindServer(pane->GetSelectedServerKey());
    ASSERT_NE(crashing, nullptr) << U8(messages->seen.empty() ? u"" : messages->seen[0].text) << " "
                                 << pane->m_mapServers.size();
    EXPECT_EQ(noAsync->ServersCreated(), 0);  // in a surrogate, not here
    LPWSTR ids[] = {const_cast<LPWSTR>(u"Plant.Status")};
    OPCHANDLE client = 1, *handles = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(crashing->m_pServer->GetItemHandles(1, ids, &client, &handles, &errors), S_OK);
    pane->m_strCurrentServer = pane->GetSelectedServerKey();
    crashing->AddItemToServer(u"Plant.Status", handles[0]);
    CoTaskMemFree(handles);
    CoTaskMemFree(errors);
    ASSERT_EQ(pane->GetItemList()->count(), 1);
    pane->GetItemList()->selectAll();
    QTimer::singleShot(0, [] {
        if (QWidget* d = QApplication::activeModalWidget()) dlg::GetDlgItem<QPushButton>(d, IDOK)->click();
    });
    messages->seen.clear();
    pane->OnReadRaw();
    EXPECT_EQ(messages->Texts(),
              (std::vector<std::u16string>{u"ReadRaw Failed, Function returned: 0x80010108"}));

    // The client goes on: another server connects and answers.
    messages->seen.clear();
    frame->GetServerCombo()->setCurrentIndex(1);  // HdaTest.Recording.1
    frame->RouteCommand(ID_SERVER_CONNECT);
    CHDAServer* healthy = pane->FindServer(pane->GetSelectedServerKey());
    ASSERT_NE(healthy, nullptr);
    ASSERT_NE(healthy, crashing);
    OPCHDA_SERVERSTATUS status{};
    FILETIME *now = nullptr, *start = nullptr;
    WORD major, minor, build;
    DWORD maxValues;
    LPWSTR text = nullptr, vendor = nullptr;
    EXPECT_EQ(healthy->m_pServer->GetHistorianStatus(&status, &now, &start, &major, &minor, &build,
                                                     &maxValues, &text, &vendor),
              S_OK);
    CoTaskMemFree(now);
    CoTaskMemFree(start);
    CoTaskMemFree(text);
    CoTaskMemFree(vendor);
    EXPECT_EQ(full->ServersCreated(), 0);
    EXPECT_TRUE(messages->seen.empty());

    // Off again, and kept so.
    option->trigger();
    EXPECT_FALSE(option->isChecked());
    EXPECT_FALSE(QSettings().value("Settings/RunServersOutOfProcess").toBool());
    theApp.reset();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
}
#endif

#ifdef VISTREL_SIMULATION_PATH
// The simulation historian, registered as scripts/run.sh registers it.
class MainFrameWithSimulation : public MainFrameTest {
protected:
    void Register() override {
        qputenv("VISTREL_SIM_DB", (store.path() + "/simulation.db").toUtf8());
        ASSERT_EQ(com::RegisterServerLibrary(VISTREL_SIMULATION_PATH), S_OK);
    }
    void TearDown() override {
        MainFrameTest::TearDown();
        qunsetenv("VISTREL_SIM_DB");
    }
};

TEST_F(MainFrameWithSimulation, TheHistorianIsListedFirstAndConnectsWithItsOwnImage) {
    QComboBox* box = frame->GetServerCombo();
    ASSERT_GE(box->count(), 1);
    EXPECT_TRUE(box->itemText(0).startsWith("Brindlex.OPC.Simulation")) << box->itemText(0).toStdString();
    EXPECT_EQ(box->currentIndex(), 0);

    frame->RouteCommand(ID_SERVER_CONNECT);
    EXPECT_TRUE(messages->seen.empty()) << U8(messages->seen.empty() ? u"" : messages->seen[0].text);
    COPCItemTreeCtrl* tree = pane->GetServerTree();
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* node = tree->topLevelItem(0)->child(0);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(COPCItemTreeCtrl::GetItemImage(node), IMAGE_BRINDLEX_SERVER);
    CHDAServer* server = pane->FindServer(ui::ToU16(box->itemText(0)));
    ASSERT_NE(server, nullptr);
    EXPECT_NE(server->m_pSyncRead, nullptr);
    EXPECT_NE(server->m_pSyncUpdate, nullptr);
    EXPECT_NE(server->m_pAsyncRead, nullptr);

    frame->RouteCommand(ID_SERVER_DISCONNECT);
    EXPECT_EQ(tree->topLevelItemCount(), 0);
    EXPECT_TRUE(pane->m_mapServers.empty());
}
#endif

}  // namespace
