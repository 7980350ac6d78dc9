// The history updates end to end through the main window against the simulation historian: write
// rows with the Insert dialog from the toolbar, correct them from the menu, delete them from the item
// list's context menu and from the keyboard, and read back with Read Raw what the historian keeps.
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QToolButton>

#include "app/brindlexapp.h"
#include "app/editbar.h"
#include "app/mainframe.h"
#include "dialogs/additem.h"
#include "dialogs/serverstatusdlg.h"
#include "serverpane/commandids.h"
#include "tests/serverpane/update_drivers.h"

namespace {

using namespace readtest;
using namespace updatetest;

// Sorted as the item list shows them.
const std::u16string kItems[] = {u"Generated.Waves.Sine", u"Writable.Real8", u"Writable.Text"};
QString Code(HRESULT hr) {
    return COutputPane::FormatResultCode(hr);
}

class UpdatesThroughTheWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(store.isValid());
        env.emplace("VISTREL_CLASS_STORE", store.path().toStdString());
        simDb.emplace("VISTREL_SIM_DB", (store.path() + "/history.db").toStdString());
        com::ResetRuntimeForTests();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           store.path());  // settings of its own
        ASSERT_EQ(com::RegisterServerLibrary(SIM_PLUGIN_PATH), S_OK);
        com::SetFixedNow(Ticks(2009, 2, 24, 13, 5, 7));
        com::SetFixedBiasMinutes(-60);
        theApp = std::make_unique<CBrindlexHDAApp>();
        ASSERT_TRUE(theApp->InitInstance());
        frame = theApp->GetMainWnd();
        pane = frame->GetServerPane();
        output = frame->GetOutputPane();
        frame->resize(1000, 680);

        QComboBox* box = frame->GetServerCombo();
        box->setCurrentIndex(box->findText("Brindlex.OPC.Simulation", Qt::MatchStartsWith));
        QTest::mouseClick(ToolButton(ID_SERVER_CONNECT), Qt::LeftButton);
        ASSERT_EQ(pane->m_mapServers.size(), 1u);
        Arm<CAddItem>([](CAddItem& d) {
            for (const std::u16string& id : kItems) {
                d.GetItemIdEdit()->setText(ui::ToQString(id));
                d.GetAddButton()->click();
            }
            Press(&d, IDOK);
        });
        QTest::mouseClick(ToolButton(ID_SERVER_ADDITEMS), Qt::LeftButton);
        ASSERT_EQ(pane->GetItemList()->count(), 3);
        messages.seen.clear();
    }
    void TearDown() override {
        theApp.reset();
        com::ResetClock();
        com::ResetRuntimeForTests();
    }

    QToolButton* ToolButton(int id) {
        return qobject_cast<QToolButton*>(frame->GetEditBar()->widgetForAction(frame->GetCommandAction(id)));
    }
    QAction* MenuAction(const QString& text) {
        for (QAction* a : frame->GetFunctionMenu()->actions())
            if (a->text() == text) return a;
        return nullptr;
    }
    void SelectRows(std::initializer_list<int> rows) {
        COPCItemListCtrl* list = pane->GetItemList();
        list->clearSelection();
        for (int r : rows) list->item(r)->setSelected(true);
        frame->UpdateCommandUI();
    }
    // The item list's context menu, and a pick from it; `armDialog` arms the dialog's driver once the
    // menu is up.
    void FromContextMenu(const QString& text, const std::function<void()>& armDialog) {
        COPCItemListCtrl* list = pane->GetItemList();
        QTimer::singleShot(0, [text, armDialog] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            ASSERT_NE(menu, nullptr);
            for (QAction* a : menu->actions())
                if (a->text() == text) menu->setActiveAction(a);
            armDialog();
            QTest::keyClick(menu, Qt::Key_Return);
        });
        QTest::mouseClick(list->viewport(), Qt::RightButton, {},
                          list->visualItemRect(list->selectedItems().value(0)).center());
    }
    // Read Raw of 10:00 to 11:00 local, without bounds, from the toolbar: per tab its rows.
    QList<QList<QStringList>> ReadBack() {
        Arm<CReadRawDlg>([](CReadRawDlg& d) {
            SetMoment(&d, IDC_START_DATE, IDC_START_TIME, IDC_START_MS, QDate(2009, 2, 24), QTime(10, 0, 0),
                      0);
            SetMoment(&d, IDC_END_DATE, IDC_END_TIME, IDC_END_MS, QDate(2009, 2, 24), QTime(11, 0, 0), 0);
            dlg::GetDlgItem<QCheckBox>(&d, IDC_GET_BOUNDS)->setChecked(false);
            Press(&d, IDOK);
        });
        QTest::mouseClick(ToolButton(ID_FUNCTION_READRAW), Qt::LeftButton);
        QList<QList<QStringList>> tabs;
        for (int t = 0; output->GetTabCtrl() && t < output->GetTabCtrl()->GetItemCount(); ++t) {
            output->GetTabCtrl()->GetTabBar()->setCurrentIndex(t);
            QList<QStringList> rows;
            for (const QStringList& r : ListRows(output->GetTabCtrl()->GetValueList())) rows << r.mid(0, 2);
            tabs << rows;
        }
        return tabs;
    }
    QStringList CodeColumn(int col) const {
        QStringList out;
        for (const QStringList& r : ListRows(output->GetResultList())) out << r.value(col);
        return out;
    }
    // Three rows at 10:10, 10:20, 10:30 local into Real8 and Text, from the toolbar.
    void InsertThree() {
        ArmInsert({{"1.5", Local(2009, 2, 24, 10, 10, 0)},
                   {"abc", Local(2009, 2, 24, 10, 20, 0), "Uncertain"},
                   {"3", Local(2009, 2, 24, 10, 30, 0, 250)}});
        QTest::mouseClick(ToolButton(ID_FUNCTION_INSERT), Qt::LeftButton);
    }

    QTemporaryDir store;
    std::optional<vistrel_test::ScopedEnv> env, simDb;
    MessageRecorder messages;
    std::unique_ptr<CBrindlexHDAApp> theApp;
    CMainFrame* frame = nullptr;
    CServerPane* pane = nullptr;
    COutputPane* output = nullptr;
};

TEST_F(UpdatesThroughTheWindow, InsertFromTheToolbarThenReadRawShowsWhatWasWritten) {
    SelectRows({1, 2});  // Writable.Real8, Writable.Text
    InsertThree();
    ASSERT_TRUE(messages.seen.empty()) << U8(messages.seen[0].text);
    Shot(frame, "u1-insert-result");
    const QString r8 = "Writable.Real8", tx = "Writable.Text";
    QList<QStringList> rows = ListRows(output->GetResultList());
    ASSERT_EQ(rows.size(), 6);
    EXPECT_EQ(rows[0], (QStringList{r8, "3", "2009/02/24 10:30:00.250", Code(S_OK)}));
    EXPECT_EQ(rows[1], (QStringList{tx, "3", "2009/02/24 10:30:00.250", Code(S_OK)}));
    // "abc" is no real number: the historian refuses that entry alone.
    EXPECT_EQ(rows[2], (QStringList{r8, "abc", "2009/02/24 10:20:00.000", Code(OPC_E_BADTYPE)}));
    EXPECT_EQ(rows[3], (QStringList{tx, "abc", "2009/02/24 10:20:00.000", Code(S_OK)}));
    EXPECT_EQ(rows[4][3], Code(S_OK));

    const auto tabs = ReadBack();
    ASSERT_EQ(tabs.size(), 2);
    EXPECT_EQ(tabs[0],
              (QList<QStringList>{{"1.5", "2009/02/24 10:10:00.000"}, {"3", "2009/02/24 10:30:00.250"}}));
    EXPECT_EQ(tabs[1], (QList<QStringList>{{"1.5", "2009/02/24 10:10:00.000"},
                                           {"abc", "2009/02/24 10:20:00.000"},
                                           {"3", "2009/02/24 10:30:00.250"}}));

    // The same rows again: they stand already.
    InsertThree();
    EXPECT_EQ(CodeColumn(3).value(1), Code(OPC_E_DATAEXISTS));
}

TEST_F(UpdatesThroughTheWindow, ReplaceAndInsertReplaceFromTheMenuSayWhatTheyDid) {
    SelectRows({1});  // Writable.Real8
    InsertThree();
    // Replace at 10:10, where a value stands, and at 10:15, where none does.
    ArmInsert({{"7", Local(2009, 2, 24, 10, 10, 0)}, {"8", Local(2009, 2, 24, 10, 15, 0)}});
    MenuAction("R&eplace")->trigger();
    ASSERT_TRUE(messages.seen.empty()) << U8(messages.seen[0].text);
    EXPECT_EQ(CodeColumn(3), (QStringList{Code(OPC_E_NODATAEXISTS), Code(S_OK)}));
    EXPECT_EQ(CodeColumn(3).value(0), "Unknown Error code : 0xC004100D");  // the code has no name

    QString title;
    ArmInsert({{"9", Local(2009, 2, 24, 10, 10, 0)}, {"10", Local(2009, 2, 24, 10, 40, 0)}}, true, &title);
    MenuAction("In&sert/Replace")->trigger();
    EXPECT_EQ(title, "Insert/Replace");
    EXPECT_EQ(CodeColumn(3), (QStringList{Code(OPC_S_INSERTED), Code(OPC_S_REPLACED)}));

    const auto tabs = ReadBack();
    ASSERT_EQ(tabs.size(), 1);
    EXPECT_EQ(tabs[0], (QList<QStringList>{{"9", "2009/02/24 10:10:00.000"},
                                           {"3", "2009/02/24 10:30:00.250"},
                                           {"10", "2009/02/24 10:40:00.000"}}));
}

TEST_F(UpdatesThroughTheWindow, DeleteRawFromTheContextMenuAndDeleteAtTimeFromTheKeyboardRemoveHistory) {
    SelectRows({1, 2});
    InsertThree();
    FromContextMenu("&Delete Raw",
                    [] { ArmDeleteRaw(Local(2009, 2, 24, 10, 15, 0), Local(2009, 2, 24, 10, 25, 0)); });
    ASSERT_TRUE(messages.seen.empty()) << U8(messages.seen[0].text);
    Shot(frame, "u2-deleteraw-result");
    // Between 10:15 and 10:25 only the text item had a value (Real8 refused "abc").
    EXPECT_EQ(
        ListRows(output->GetResultList()),
        (QList<QStringList>{
            {"Writable.Real8", "2009/02/24 10:15:00.000", "2009/02/24 10:25:00.000", Code(OPC_S_NODATA)},
            {"Writable.Text", "2009/02/24 10:15:00.000", "2009/02/24 10:25:00.000", Code(S_OK)}}));
    auto tabs = ReadBack();
    ASSERT_EQ(tabs.size(), 2);
    EXPECT_EQ(tabs[1],
              (QList<QStringList>{{"1.5", "2009/02/24 10:10:00.000"}, {"3", "2009/02/24 10:30:00.250"}}));

    // Alt+U opens the Function menu, L picks Delete At Time.
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    QTest::keyClick(pane->GetItemList(), Qt::Key_U, Qt::AltModifier);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_EQ(menu, frame->GetFunctionMenu());
    ArmDeleteAtTime({Local(2009, 2, 24, 10, 10, 0), Local(2009, 2, 24, 10, 20, 0)});
    QTest::keyClick(menu, Qt::Key_L);
    ASSERT_TRUE(messages.seen.empty()) << U8(messages.seen[0].text);
    // 10:20 is gone already (Delete Raw took it); 10:10 goes now.
    EXPECT_EQ(CodeColumn(2), (QStringList{Code(OPC_S_NODATA), Code(OPC_S_NODATA), Code(S_OK), Code(S_OK)}))
        << CodeColumn(2).join(" / ").toStdString();
    tabs = ReadBack();
    EXPECT_EQ(tabs[0], (QList<QStringList>{{"3", "2009/02/24 10:30:00.250"}}));
    EXPECT_EQ(tabs[1], (QList<QStringList>{{"3", "2009/02/24 10:30:00.250"}}));
}

TEST_F(UpdatesThroughTheWindow, AGeneratedItemRefusesEveryRowAndTheOthersAreWritten) {
    SelectRows({0, 1});  // Generated.Waves.Sine, Writable.Real8
    InsertThree();
    ASSERT_TRUE(messages.seen.empty()) << U8(messages.seen[0].text);
    const QString refused = Code(OPC_E_BADRIGHTS);
    EXPECT_EQ(CodeColumn(3),
              (QStringList{refused, Code(S_OK), refused, Code(OPC_E_BADTYPE), refused, Code(S_OK)}));
    EXPECT_EQ(CodeColumn(0).value(0), "Generated.Waves.Sine");
}

// ---- Read Modified and the time basis ----

// Read Modified of 10:00 to 11:00 local from the toolbar: the dialog's title and per tab its rows.
QList<QList<QStringList>> ReadModifiedBack(CMainFrame* frame, COutputPane* output, QString* pTitle,
                                           bool* pBoundsShown) {
    Arm<CReadRawDlg>([pTitle, pBoundsShown](CReadRawDlg& d) {
        *pTitle = d.windowTitle();
        *pBoundsShown = dlg::GetDlgItem<QCheckBox>(&d, IDC_GET_BOUNDS)->isVisible();
        SetMoment(&d, IDC_START_DATE, IDC_START_TIME, IDC_START_MS, QDate(2009, 2, 24), QTime(10, 0, 0), 0);
        SetMoment(&d, IDC_END_DATE, IDC_END_TIME, IDC_END_MS, QDate(2009, 2, 24), QTime(11, 0, 0), 0);
        Press(&d, IDOK);
    });
    QTest::mouseClick(qobject_cast<QToolButton*>(frame->GetEditBar()->widgetForAction(
                          frame->GetCommandAction(ID_FUNCTION_READMODIFIED))),
                      Qt::LeftButton);
    QList<QList<QStringList>> tabs;
    for (int t = 0; output->GetTabCtrl() && t < output->GetTabCtrl()->GetItemCount(); ++t) {
        output->GetTabCtrl()->GetTabBar()->setCurrentIndex(t);
        tabs << ListRows(output->GetTabCtrl()->GetValueList());
    }
    return tabs;
}

TEST_F(UpdatesThroughTheWindow, ReadModifiedShowsWhatAReplaceAndADeleteSuperseded) {
    SelectRows({1, 2});  // Writable.Real8, Writable.Text
    InsertThree();
    SelectRows({1});
    ArmInsert({{"7", Local(2009, 2, 24, 10, 10, 0)}});
    MenuAction("R&eplace")->trigger();
    SelectRows({2});
    ArmDeleteAtTime({Local(2009, 2, 24, 10, 20, 0)});
    MenuAction("De&lete At Time")->trigger();
    ASSERT_TRUE(messages.seen.empty()) << U8(messages.seen[0].text);

    SelectRows({1, 2});
    pane->ReleaseLastResults();
    const long liveBefore = com::LiveTaskMemBlocks();
    QString title;
    bool boundsShown = true;
    const auto tabs = ReadModifiedBack(frame, output, &title, &boundsShown);
    ASSERT_TRUE(messages.seen.empty()) << U8(messages.seen[0].text);
    Shot(frame, "u5-readmodified-result");
    EXPECT_EQ(title, "Read Modified");
    EXPECT_FALSE(boundsShown);
    EXPECT_EQ(Headings(output->GetTabCtrl()->GetValueList()),
              (QStringList{"Value", "Timestamp", "Quality", "Modification Time", "Edit Type", "User"}));
    ASSERT_EQ(tabs.size(), 2);
    ASSERT_EQ(tabs[0].size(), 1);
    ASSERT_EQ(tabs[1].size(), 1);
    // The value each update took away, when it stood, and what was done to it now (13:05:07 UTC).
    EXPECT_EQ(tabs[0][0].mid(0, 2), (QStringList{"1.5", "2009/02/24 10:10:00.000"}));
    EXPECT_EQ(tabs[0][0].value(3), "2009/02/24 14:05:07.000");
    EXPECT_EQ(tabs[0][0].value(4), "Replace");
    EXPECT_EQ(tabs[1][0].mid(0, 2), (QStringList{"abc", "2009/02/24 10:20:00.000"}));
    EXPECT_EQ(tabs[1][0].value(4), "Delete");
    EXPECT_FALSE(tabs[1][0].value(5).isEmpty());
    EXPECT_EQ(output->GetTabCtrl()->GetResultLabel()->text(), "OK (returned 1 items)");

    // The result set holds the server's arrays until the next operation releases every one of them.
    EXPECT_GT(com::LiveTaskMemBlocks(), liveBefore);
    pane->ReleaseLastResults();
    EXPECT_EQ(com::LiveTaskMemBlocks(), liveBefore);
}

// Europe/Berlin of 2009: UTC+1, UTC+2 from 29 March 01:00 UTC. Now is winter.
void BerlinClock(ULONGLONG now) {
    com::Clock clock;
    clock.nowUtc = [now] { return now; };
    clock.biasMinutesAt = [](ULONGLONG t) {
        return t >= Ticks(2009, 3, 29, 1, 0, 0) ? LONG(-120) : LONG(-60);
    };
    com::SetClock(clock);
}

TEST_F(UpdatesThroughTheWindow, EveryTimeShownAndTypedFollowsTheTimeBasisAcrossADaylightSavingChange) {
    BerlinClock(Ticks(2009, 2, 24, 13, 5, 7));
    QAction* local = frame->GetCommandAction(ID_VIEW_TIME_LOCAL);
    QAction* instant = frame->GetCommandAction(ID_VIEW_TIME_INSTANT);
    QAction* utc = frame->GetCommandAction(ID_VIEW_TIME_UTC);
    frame->UpdateCommandUI();
    EXPECT_TRUE(local->isChecked());
    EXPECT_EQ(frame->GetTimeBasisPane()->text(), QString::fromUtf16(u"Local, UTC+01:00 now"));

    // Typed on each instant's offset: 00:30 is winter (23:30 UTC), 04:00 summer (02:00 UTC).
    instant->trigger();
    EXPECT_TRUE(instant->isChecked() && !local->isChecked());
    EXPECT_EQ(frame->GetTimeBasisPane()->text(), "Local (offset of each instant), UTC+01:00 now");
    SelectRows({1});
    ArmInsert({{"1", Local(2009, 3, 29, 0, 30, 0)}, {"2", Local(2009, 3, 29, 4, 0, 0)}});
    QTest::mouseClick(ToolButton(ID_FUNCTION_INSERT), Qt::LeftButton);
    ASSERT_TRUE(messages.seen.empty()) << U8(messages.seen[0].text);
    const auto listTimes = [this] {
        QStringList t;
        for (const QStringList& r : ListRows(output->GetResultList())) t << r.value(2);
        return t;
    };
    EXPECT_EQ(listTimes(), (QStringList{"2009/03/29 04:00:00.000", "2009/03/29 00:30:00.000"}));

    Arm<CReadRawDlg>([](CReadRawDlg& d) {
        SetMoment(&d, IDC_START_DATE, IDC_START_TIME, IDC_START_MS, QDate(2009, 3, 29), QTime(0, 0, 0), 0);
        SetMoment(&d, IDC_END_DATE, IDC_END_TIME, IDC_END_MS, QDate(2009, 3, 29), QTime(5, 0, 0), 0);
        dlg::GetDlgItem<QCheckBox>(&d, IDC_GET_BOUNDS)->setChecked(false);
        Press(&d, IDOK);
    });
    QTest::mouseClick(ToolButton(ID_FUNCTION_READRAW), Qt::LeftButton);
    ASSERT_TRUE(messages.seen.empty()) << U8(messages.seen[0].text);
    const auto tabTimes = [this] {
        QStringList t;
        for (const QStringList& r : ListRows(output->GetTabCtrl()->GetValueList())) t << r.value(1);
        return t;
    };
    EXPECT_EQ(tabTimes(), (QStringList{"2009/03/29 00:30:00.000", "2009/03/29 04:00:00.000"}));

    // Another basis shows the same instants again at once.
    utc->trigger();
    EXPECT_EQ(frame->GetTimeBasisPane()->text(), "UTC");
    Shot(frame, "u6-time-basis-utc");
    EXPECT_EQ(tabTimes(), (QStringList{"2009/03/28 23:30:00.000", "2009/03/29 02:00:00.000"}));
    local->trigger();  // winter's offset for both
    EXPECT_EQ(tabTimes(), (QStringList{"2009/03/29 00:30:00.000", "2009/03/29 03:00:00.000"}));

    // The status dialog: the server started in winter, and now it is summer.
    BerlinClock(Ticks(2009, 7, 1, 12, 0, 0));
    frame->UpdateCommandUI();
    EXPECT_EQ(frame->GetTimeBasisPane()->text(), QString::fromUtf16(u"Local, UTC+02:00 now"));
    pane->GetServerTree()->setCurrentItem(pane->GetServerTree()->topLevelItem(0)->child(0));
    const auto status = [this] {
        std::u16string current, start;
        Arm<CServerStatusDlg>([&current, &start](CServerStatusDlg& d) {
            current = d.m_strCurrentTime;
            start = d.m_strStartTime;
        });
        frame->RouteCommand(ID_SERVER_STATUS);
        return ui::ToQString(current) + " | " + ui::ToQString(start);
    };
    EXPECT_EQ(status(), "07/01/09 14:00:00 | 02/24/09 15:05:07");  // today's offset on both
    instant->trigger();
    EXPECT_EQ(status(), "07/01/09 14:00:00 | 02/24/09 14:05:07");
    utc->trigger();
    EXPECT_EQ(status(), "07/01/09 12:00:00 | 02/24/09 13:05:07");

    // The choice is kept for the next start.
    theApp.reset();
    theApp = std::make_unique<CBrindlexHDAApp>();
    ASSERT_TRUE(theApp->InitInstance());
    EXPECT_EQ(theApp->GetMainWnd()->GetTimeBasis(), client::TimeBasis::Utc);
    EXPECT_TRUE(theApp->GetMainWnd()->GetCommandAction(ID_VIEW_TIME_UTC)->isChecked());
}

}  // namespace
