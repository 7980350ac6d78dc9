// The reads end to end through the main window against the simulation historian: connect from the
// toolbar's server box, add three items with the Add Items dialog, write a known history with the
// server's own update interface, then read it back from menu, toolbar and the item list's context menu
// and compare what the output pane shows with what was stored.
#include <QClipboard>
#include <QFile>
#include <QMenu>
#include <QSplitter>
#include <QTemporaryDir>
#include <QToolButton>

#include "app/brindlexapp.h"
#include "app/editbar.h"
#include "app/mainframe.h"
#include "dialogs/additem.h"
#include "dialogs/readattimedlg.h"
#include "dialogs/readattributedlg.h"
#include "dialogs/readprocesseddlg.h"
#include "outputpane/errorsdlg.h"
#include "outputpane/textforms.h"
#include "serverpane/commandids.h"
#include "tests/serverpane/read_fixture.h"

namespace {

using namespace readtest;

const std::u16string kItems[] = {u"Writable.Real8", u"Writable.Int4", u"Writable.Text"};

// What was written: per item five values at local 10:00, 10:10, 10:20, 10:40 and 10:50 on
// 2009/02/24 (UTC+1), the fourth of them Uncertain.
struct Sample {
    int minute;
    double value;
    DWORD quality;
};
constexpr Sample kSamples[] = {{0, 1, 0xC0}, {10, 2, 0xC0}, {20, 3, 0xC0}, {40, 4, 0x40}, {50, 5, 0xC0}};
ULONGLONG LocalTicks(int hour, int minute, int second = 0) {
    return Ticks(2009, 2, 24, hour - 1, minute, second);
}

class ReadsThroughTheWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(store.isValid());
        env.emplace("VISTREL_CLASS_STORE", store.path().toStdString());
        simDb.emplace("VISTREL_SIM_DB", (store.path() + "/history.db").toStdString());
        com::ResetRuntimeForTests();
        ASSERT_EQ(com::RegisterServerLibrary(SIM_PLUGIN_PATH), S_OK);
        com::SetFixedNow(Ticks(2009, 2, 24, 13, 5, 7));
        com::SetFixedBiasMinutes(-60);
        theApp = std::make_unique<CBrindlexHDAApp>();
        ASSERT_TRUE(theApp->InitInstance());
        frame = theApp->GetMainWnd();
        pane = frame->GetServerPane();
        output = frame->GetOutputPane();
        frame->resize(1000, 680);
        ConnectAndAddItems();
    }
    void TearDown() override {
        theApp.reset();
        com::ResetClock();
        com::ResetRuntimeForTests();
    }

    void ConnectAndAddItems() {
        QComboBox* box = frame->GetServerCombo();
        const int entry = box->findText("Brindlex.OPC.Simulation", Qt::MatchStartsWith);
        ASSERT_GE(entry, 0);
        box->setCurrentIndex(entry);
        QTest::mouseClick(ToolButton(ID_SERVER_CONNECT), Qt::LeftButton);
        ASSERT_EQ(pane->m_mapServers.size(), 1u) << U8(messages.seen.empty() ? u"" : messages.seen[0].text);
        messages.seen.clear();

        Arm<CAddItem>([](CAddItem& d) {
            for (const std::u16string& id : kItems) {
                d.GetItemIdEdit()->setText(ui::ToQString(id));
                d.GetAddButton()->click();
            }
            Shot(&d, "1-additems");
            Press(&d, IDOK);
        });
        QTest::mouseClick(ToolButton(ID_SERVER_ADDITEMS), Qt::LeftButton);
        ASSERT_EQ(pane->GetItemList()->count(), 3);
        server = pane->FindServer(pane->GetSelectedServerKey());
        ASSERT_NE(server, nullptr);
        WriteHistory();
    }

    // The history of every item, through the server's own update interface.
    void WriteHistory() {
        ASSERT_NE(server->m_pSyncUpdate, nullptr);
        std::vector<OPCHANDLE> handles;
        std::vector<FILETIME> times;
        std::vector<VARIANT> values;
        std::vector<DWORD> qualities;
        for (const std::u16string& id : kItems) {
            for (const Sample& s : kSamples) {
                handles.push_back(server->GetItemServerHandle(id));
                times.push_back(U64ToFileTime(LocalTicks(10, s.minute)));
                VARIANT v;
                VariantInit(&v);
                v.vt = VT_R8;
                v.dblVal = s.value;
                if (id == u"Writable.Text") {
                    v.vt = VT_BSTR;
                    v.bstrVal = SysAllocString(ui::ToU16(QStringLiteral("v%1").arg(s.value)).c_str());
                }
                values.push_back(v);
                qualities.push_back(s.quality);
            }
        }
        HRESULT* errors = nullptr;
        ASSERT_EQ(server->m_pSyncUpdate->Insert(static_cast<DWORD>(handles.size()), handles.data(),
                                                times.data(), values.data(), qualities.data(), &errors),
                  S_OK);
        CoTaskMemFree(errors);
        for (VARIANT& v : values) VariantClear(&v);
    }

    QToolButton* ToolButton(int id) {
        return qobject_cast<QToolButton*>(frame->GetEditBar()->widgetForAction(frame->GetCommandAction(id)));
    }
    void SelectRows(std::initializer_list<int> rows) {
        COPCItemListCtrl* list = pane->GetItemList();
        list->clearSelection();
        for (int r : rows) list->item(r)->setSelected(true);
    }
    // The item list's context menu, and a pick from it; `armDialog` arms the driver of the dialog the
    // pick opens (armed once the menu is up, so that it finds the dialog and not the menu).
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
        const QRect r = list->visualItemRect(list->selectedItems().value(0));
        QTest::mouseClick(list->viewport(), Qt::RightButton, {}, r.center());
    }
    QAction* MenuAction(const QString& text) {
        for (QAction* a : frame->GetFunctionMenu()->actions())
            if (a->text() == text) return a;
        return nullptr;
    }

    QStringList TabCaptions() const {
        QStringList out;
        if (CMyTabCtrl* tabs = output->GetTabCtrl())
            for (int i = 0; i < tabs->GetItemCount(); ++i) out << tabs->GetItemText(i);
        return out;
    }
    QList<QStringList> TabRows(int tab) const {
        output->GetTabCtrl()->GetTabBar()->setCurrentIndex(tab);
        return ListRows(output->GetTabCtrl()->GetValueList());
    }
    QString ResultLabel() const { return output->GetTabCtrl()->GetResultLabel()->text(); }
    // The same read made directly on the server, in the output pane's text forms.
    QList<QStringList> Direct(const OPCHDA_ITEM& item) const {
        QList<QStringList> rows;
        for (DWORD j = 0; j < item.dwCount; ++j)
            rows << QStringList{COutputPane::FormatVariant(item.pvDataValues[j]),
                                FormatTimestamp(item.pftTimeStamps[j]),
                                COutputPane::FormatQuality(item.pdwQualities[j])};
        return rows;
    }

    // Read Raw of every item from 10:00 to 11:00 without bounds, from the Function menu.
    void ReadTheHour() {
        SelectRows({0, 1, 2});
        Arm<CReadRawDlg>([](CReadRawDlg& d) {
            SetMoment(&d, IDC_START_DATE, IDC_START_TIME, IDC_START_MS, QDate(2009, 2, 24), QTime(10, 0, 0),
                      0);
            SetMoment(&d, IDC_END_DATE, IDC_END_TIME, IDC_END_MS, QDate(2009, 2, 24), QTime(11, 0, 0), 0);
            dlg::GetDlgItem<QCheckBox>(&d, IDC_GET_BOUNDS)->setChecked(false);
            Press(&d, IDOK);
        });
        frame->RouteCommand(ID_FUNCTION_READRAW);
        ASSERT_TRUE(messages.seen.empty()) << U8(messages.seen[0].text);
    }
    // The rows the history holds for an item, as a tab shows them.
    static QList<QStringList> Stored(const std::u16string& id) {
        QList<QStringList> rows;
        for (const Sample& s : kSamples)
            rows << QStringList{
                id == u"Writable.Text" ? QStringLiteral("v%1").arg(s.value) : QString::number(s.value),
                QStringLiteral("2009/02/24 10:%1:00.000").arg(s.minute, 2, 10, QLatin1Char('0')),
                s.quality == 0xC0 ? QStringLiteral("Good, Non-specific : Raw")
                                  : QStringLiteral("Uncertain, Non-Specific : Raw")};
        return rows;
    }

    QTemporaryDir store;
    std::optional<vistrel_test::ScopedEnv> env, simDb, maxValues;
    MessageRecorder messages;
    std::unique_ptr<CBrindlexHDAApp> theApp;
    CMainFrame* frame = nullptr;
    CServerPane* pane = nullptr;
    COutputPane* output = nullptr;
    CHDAServer* server = nullptr;
};

TEST_F(ReadsThroughTheWindow, ReadRawFromTheToolbarShowsTheHistoryAsStored) {
    // The item list is sorted: Writable.Int4, Writable.Real8, Writable.Text.
    SelectRows({0, 1, 2});
    Arm<CReadRawDlg>([](CReadRawDlg& d) {
        SetMoment(&d, IDC_START_DATE, IDC_START_TIME, IDC_START_MS, QDate(2009, 2, 24), QTime(10, 0, 0), 0);
        SetMoment(&d, IDC_END_DATE, IDC_END_TIME, IDC_END_MS, QDate(2009, 2, 24), QTime(11, 0, 0), 0);
        dlg::GetDlgItem<QCheckBox>(&d, IDC_GET_BOUNDS)->setChecked(false);
        Shot(&d, "2-readraw-dialog");
        Press(&d, IDOK);
    });
    QTest::mouseClick(ToolButton(ID_FUNCTION_READRAW), Qt::LeftButton);
    Shot(frame, "3-readraw-result");
    ASSERT_TRUE(messages.seen.empty()) << U8(messages.seen[0].text);
    EXPECT_EQ(TabCaptions(), (QStringList{"Writable.Int4", "Writable.Real8", "Writable.Text"}));

    const QList<QStringList> real8 = TabRows(1);
    EXPECT_EQ(ResultLabel(), "OK (returned 5 items)");
    ASSERT_EQ(real8.size(), 5);
    EXPECT_EQ(real8[0], (QStringList{"1", "2009/02/24 10:00:00.000", "Good, Non-specific : Raw"}));
    EXPECT_EQ(real8[3], (QStringList{"4", "2009/02/24 10:40:00.000", "Uncertain, Non-Specific : Raw"}));
    EXPECT_EQ(TabRows(2)[4], (QStringList{"v5", "2009/02/24 10:50:00.000", "Good, Non-specific : Raw"}));

    // Every tab as the server gives it to anyone who asks.
    OPCHDA_TIME start{FALSE, nullptr, U64ToFileTime(LocalTicks(10, 0))};
    OPCHDA_TIME end{FALSE, nullptr, U64ToFileTime(LocalTicks(11, 0))};
    std::vector<OPCHANDLE> handles = pane->GetSelectedItemHandles(1);
    const DWORD count = static_cast<DWORD>(handles.size());
    OPCHDA_ITEM* values = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(server->m_pSyncRead->ReadRaw(&start, &end, 0, FALSE, count, handles.data(), &values, &errors),
              S_OK);
    for (int tab = 0; tab < 3; ++tab) EXPECT_EQ(TabRows(tab), Direct(values[tab])) << tab;
    pane->SetLastResults(client::ResultSet(values, errors, count));  // released with the pane
}

TEST_F(ReadsThroughTheWindow, ReadProcessedFromTheMenuAveragesEachHalfHour) {
    SelectRows({1, 2});  // Writable.Real8, Writable.Text
    Arm<CReadProcessedDlg>([](CReadProcessedDlg& d) {
        SetMoment(&d, IDC_START_DATE, IDC_START_TIME, IDC_START_MS, QDate(2009, 2, 24), QTime(10, 0, 0), 0);
        SetMoment(&d, IDC_END_DATE, IDC_END_TIME, IDC_END_MS, QDate(2009, 2, 24), QTime(11, 0, 0), 0);
        dlg::GetDlgItem<QLineEdit>(&d, IDC_RESAMPLE_INTERVAL)->setText("30");
        dlg::GetDlgItem<QComboBox>(&d, IDC_RESAMPLE_UNITS)->setCurrentIndex(2);  // Minutes
        d.m_pAggregateCombo->setCurrentIndex(d.m_pAggregateCombo->findText("Average"));
        ASSERT_GE(d.m_pAggregateCombo->currentIndex(), 0);
        Press(&d, IDC_SET_ALL_ITEMS);
        Shot(&d, "4-readprocessed-dialog");
        Press(&d, IDOK);
    });
    QAction* action = MenuAction("Read &Processed");
    ASSERT_NE(action, nullptr);
    ASSERT_TRUE(action->isEnabled());
    action->trigger();
    ASSERT_TRUE(messages.seen.empty()) << U8(messages.seen[0].text);
    Shot(frame, "5-readprocessed-result");
    EXPECT_EQ(TabCaptions(), (QStringList{"Writable.Real8", "Writable.Text"}));
    // Good values only: 1, 2, 3 in the first half hour; 5 in the second, made Uncertain by the 4.
    const QList<QStringList> real8 = TabRows(0);
    ASSERT_EQ(real8.size(), 2);
    EXPECT_EQ(real8[0][0], "2");
    EXPECT_EQ(real8[0][1], "2009/02/24 10:00:00.000");
    EXPECT_EQ(real8[1][0], "5");
    EXPECT_EQ(real8[1][1], "2009/02/24 10:30:00.000");
    EXPECT_TRUE(real8[1][2].startsWith("Uncertain")) << real8[1][2].toStdString();
    // A text item has no average: the item's own code says so.
    TabRows(1);
    EXPECT_EQ(ResultLabel(), "Not Available");
}

TEST_F(ReadsThroughTheWindow, ReadAtTimeFromTheContextMenuReadsThreeInstantsNewestFirst) {
    SelectRows({1});  // Writable.Real8
    FromContextMenu("Read At &Time", [] {
        Arm<CReadAtTimeDlg>([](CReadAtTimeDlg& d) {
            for (int minute : {10, 15, 45}) {
                SetMoment(&d, IDC_TIMESTAMP_DATE, IDC_TIMESTAMP_TIME, IDC_TIMESTAMP_MS, QDate(2009, 2, 24),
                          QTime(10, minute, 0), 0);
                Press(&d, IDC_ADD_TIMESTAMP);
            }
            Shot(&d, "6-readattime-dialog");
            Press(&d, IDOK);
        });
    });
    ASSERT_TRUE(messages.seen.empty()) << U8(messages.seen[0].text);
    EXPECT_EQ(TabCaptions(), (QStringList{"Writable.Real8"}));
    Shot(frame, "7-readattime-result");
    const QList<QStringList> rows = TabRows(0);
    ASSERT_EQ(rows.size(), 3);
    // 10:45 lies between 3 at 10:20 and 5 at 10:50 (the Uncertain 4 between them is skipped).
    EXPECT_EQ(rows[0][0], "4.66666666666667");
    EXPECT_EQ(rows[0][1], "2009/02/24 10:45:00.000");
    EXPECT_TRUE(rows[0][2].startsWith("Uncertain")) << rows[0][2].toStdString();
    EXPECT_EQ(rows[1], (QStringList{"2.5", "2009/02/24 10:15:00.000", rows[1][2]}));
    EXPECT_TRUE(rows[1][2].endsWith(" : Interpolated Value")) << rows[1][2].toStdString();
    EXPECT_EQ(rows[2], (QStringList{"2", "2009/02/24 10:10:00.000", "Good, Non-specific : Raw"}));
}

TEST_F(ReadsThroughTheWindow, ReadAttributeFromTheMenuWhileTheOutputPaneIsActiveNamesEveryRow) {
    SelectRows({1});
    frame->SetActivePane(output);
    Arm<CReadAttributeDlg>([](CReadAttributeDlg& d) {
        Shot(&d, "8-readattribute-dialog");
        Press(&d, IDOK);
    });
    QAction* action = MenuAction("Read &Attribute");
    ASSERT_NE(action, nullptr);
    frame->UpdateCommandUI();
    ASSERT_TRUE(action->isEnabled());
    action->trigger();
    ASSERT_TRUE(messages.seen.empty()) << U8(messages.seen[0].text);
    ASSERT_NE(output->GetResultList(), nullptr);
    Shot(frame, "9-readattribute-result");
    const QList<QStringList> rows = ListRows(output->GetResultList());
    ASSERT_EQ(rows.size(), 19);
    auto row = [&](const QString& name) {
        for (const QStringList& r : rows)
            if (r[0] == name) return r;
        return QStringList{};
    };
    const QString now = "2009/02/24 14:05:07.000";
    EXPECT_EQ(row("Data Type"), (QStringList{"Data Type", "5", now}));  // VT_R8
    EXPECT_EQ(row("ItemID"), (QStringList{"ItemID", "Real8", now}));    // the name within its branch
    EXPECT_EQ(row("Derive Equation"), (QStringList{"Derive Equation", "No Data", "No Data"}));
    for (const QStringList& r : rows) EXPECT_NE(r[0], "Unknown Attribute");
    // The list follows a change of the time basis.
    frame->RouteCommand(ID_VIEW_TIME_UTC);
    const QList<QStringList> utc = ListRows(output->GetResultList());
    ASSERT_EQ(utc.size(), 19);
    EXPECT_EQ(utc[0][2], "2009/02/24 13:05:07.000");
    frame->RouteCommand(ID_VIEW_TIME_LOCAL);
    EXPECT_EQ(ListRows(output->GetResultList())[0][2], now);
}

// Connect, add items, select two, Read Raw. The reads have no accelerator of their own; from the
// keyboard they are reached through the menu's mnemonics, Alt+U then R.
TEST_F(ReadsThroughTheWindow, TheTypicalRoadFromTheKeyboardTwoItemsGiveTwoTabs) {
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    COPCItemListCtrl* list = pane->GetItemList();
    list->doItemsLayout();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(2)).center());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      list->visualItemRect(list->item(1)).center());
    Shot(frame, "0-two-items-selected");
    QTest::keyClick(list, Qt::Key_U, Qt::AltModifier);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_EQ(menu, frame->GetFunctionMenu());
    bool opened = false;
    Arm<CReadRawDlg>(
        [](CReadRawDlg& d) {
            SetMoment(&d, IDC_START_DATE, IDC_START_TIME, IDC_START_MS, QDate(2009, 2, 24), QTime(10, 0, 0),
                      0);
            Press(&d, IDOK);
        },
        &opened);
    QTest::keyClick(menu, Qt::Key_R);
    ASSERT_TRUE(opened);
    ASSERT_TRUE(messages.seen.empty()) << U8(messages.seen[0].text);
    EXPECT_EQ(TabCaptions(), (QStringList{"Writable.Real8", "Writable.Text"}));
    // With bounds, up to now: the five values, then the end bound that does not exist.
    const QList<QStringList> rows = TabRows(0);
    ASSERT_EQ(rows.size(), 6);
    EXPECT_EQ(rows[0], (QStringList{"1", "2009/02/24 10:00:00.000", "Good, Non-specific : Raw"}));
    EXPECT_EQ(rows[5], (QStringList{"", "2009/02/24 14:05:07.000", "Bad, Non-Specific : No Bound"}));
    Shot(frame, "0-two-items-read");
}

// ---- Export, Copy, Read Next, item lists ----

// The historian returns at most two values per item and call.
class PagedReadsThroughTheWindow : public ReadsThroughTheWindow {
protected:
    void SetUp() override {
        maxValues.emplace("VISTREL_SIM_MAX_VALUES", "2");
        ReadsThroughTheWindow::SetUp();
    }
};

TEST_F(PagedReadsThroughTheWindow, ReadNextReadsOnUntilEveryStoredValueIsShownOnce) {
    QToolButton* next = ToolButton(ID_FUNCTION_READNEXT);
    ASSERT_NE(next, nullptr);
    EXPECT_FALSE(next->isEnabled());
    ReadTheHour();
    TabRows(1);
    EXPECT_EQ(ResultLabel(), "More Data Exists (returned 2 items)");
    EXPECT_EQ(output->GetTabCtrl()->GetResultLabel()->toolTip(),
              "More values exist: Read Next continues from 2009/02/24 10:10:00.000");
    frame->UpdateCommandUI();
    ASSERT_TRUE(next->isEnabled());
    int clicks = 0;
    while (next->isEnabled() && clicks < 10) {
        QTest::mouseClick(next, Qt::LeftButton);
        if (++clicks == 1) Shot(frame, "6-readnext-result");
    }
    ASSERT_TRUE(messages.seen.empty()) << U8(messages.seen[0].text);
    EXPECT_EQ(clicks, 3);  // two values a page: one new, and the seam value again
    for (int tab = 0; tab < 3; ++tab) {
        EXPECT_EQ(TabRows(tab), Stored(ui::ToU16(TabCaptions()[tab]))) << tab;
        EXPECT_EQ(ResultLabel(), "OK (returned 5 items)");
        EXPECT_TRUE(output->GetTabCtrl()->GetResultLabel()->toolTip().isEmpty());
    }
}

TEST_F(ReadsThroughTheWindow, ExportWritesEveryValueOfEveryTabAndACancelLeavesNoFile) {
    pane->SetMaxDisplayItems(2);
    EXPECT_FALSE(frame->IsCommandEnabled(ID_FILE_EXPORT));  // no result set yet
    ReadTheHour();
    ASSERT_EQ(TabRows(0).size(), 2);  // what the tab shows is cut, the file is not
    const QString path = store.path() + "/hour.csv";
    pane->m_fnAskFileName = [&](bool bSave, const QString&, const QString&) {
        return bSave ? path : QString();
    };
    ASSERT_TRUE(frame->IsCommandEnabled(ID_FILE_EXPORT));
    frame->RouteCommand(ID_FILE_EXPORT);
    ASSERT_TRUE(messages.seen.empty()) << U8(messages.seen[0].text);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split("\r\n");
    file.close();
    ASSERT_EQ(lines.size(), 17);  // heading, 15 values, and the empty text after the last line end
    // On the display's basis (the offset in force now, UTC+1 in the fixture), each time with its offset.
    EXPECT_EQ(lines[0],
              "item,\"timestamp (local, UTC+01:00 now)\",value,quality,quality text,code,code text");
    EXPECT_EQ(lines[1],
              "Writable.Int4,2009-02-24T10:00:00.000+01:00,1,0x000400C0,\"Good, Non-specific : Raw\","
              "0x00000000,OK");
    EXPECT_EQ(lines[9],
              "Writable.Real8,2009-02-24T10:40:00.000+01:00,4,0x00040040,\"Uncertain, Non-Specific : "
              "Raw\",0x00000000,OK");
    EXPECT_EQ(lines[15],
              "Writable.Text,2009-02-24T10:50:00.000+01:00,v5,0x000400C0,\"Good, Non-specific : Raw\","
              "0x00000000,OK");

    // Stopped after its first part, or unable to write: what was there stays, nothing is added.
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("old");
    file.close();
    EXPECT_FALSE(pane->ExportResults(path, [](std::size_t, std::size_t) { return false; }));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "old");
    file.close();
    EXPECT_EQ(QDir(store.path()).entryList({"hour*"}, QDir::Files), QStringList{"hour.csv"});
    EXPECT_TRUE(messages.seen.empty());
    EXPECT_FALSE(pane->ExportResults(store.path() + "/no/such/dir/x.csv", {}));
    ASSERT_EQ(messages.seen.size(), 1u);
    EXPECT_TRUE(messages.seen[0].text.starts_with(u"Cannot write ")) << U8(messages.seen[0].text);
}

TEST_F(ReadsThroughTheWindow, CopyPutsTheSelectedRowsOfTheTabOnTheClipboardTabSeparated) {
    ReadTheHour();
    TabRows(1);
    COutputList* list = output->GetTabCtrl()->GetValueList();
    EXPECT_FALSE(frame->IsCommandEnabled(ID_EDIT_COPY));  // nothing selected
    list->selectionModel()->select(list->model()->index(3, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    list->selectionModel()->select(list->model()->index(0, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    ASSERT_TRUE(frame->IsCommandEnabled(ID_EDIT_COPY));
    frame->RouteCommand(ID_EDIT_COPY);
    EXPECT_EQ(QApplication::clipboard()->text(),
              "1\t2009/02/24 10:00:00.000\tGood, Non-specific : Raw\n"
              "4\t2009/02/24 10:40:00.000\tUncertain, Non-Specific : Raw\n");
}

TEST_F(ReadsThroughTheWindow, SavedItemsLoadIntoAFreshConnectionAndRefusedIdsAreListed) {
    const QString path = store.path() + "/items.txt";
    pane->m_fnAskFileName = [&](bool, const QString&, const QString&) { return path; };
    frame->RouteCommand(ID_SERVER_SAVEITEMS);
    ASSERT_TRUE(messages.seen.empty()) << U8(messages.seen[0].text);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "Writable.Int4\nWritable.Real8\nWritable.Text\n");
    file.close();
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Append));
    file.write("No.Such.Item\r\n");
    file.close();

    frame->RouteCommand(ID_SERVER_DISCONNECT);
    ASSERT_TRUE(pane->m_mapServers.empty());
    QTest::mouseClick(ToolButton(ID_SERVER_CONNECT), Qt::LeftButton);
    ASSERT_EQ(pane->GetItemList()->count(), 0);
    QStringList refused;
    Arm<CErrorsEncounteredDlg>([&](CErrorsEncounteredDlg& d) {
        for (int i = 0; i < d.GetList()->topLevelItemCount(); ++i)
            refused << d.GetList()->topLevelItem(i)->text(0);
        d.reject();
    });
    frame->RouteCommand(ID_SERVER_LOADITEMS);
    EXPECT_EQ(refused, QStringList{"No.Such.Item"});
    QStringList ids;
    for (int i = 0; i < pane->GetItemList()->count(); ++i) ids << pane->GetItemList()->item(i)->text();
    EXPECT_EQ(ids, (QStringList{"Writable.Int4", "Writable.Real8", "Writable.Text"}));
    CHDAServer* fresh = pane->FindServer(pane->GetSelectedServerKey());
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(fresh->GetItemServerHandle(u"Writable.Real8"), 0u);

    // A file that is not UTF-8 adds nothing and says which line.
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("Writable.Int4\nBad\xff\n");
    file.close();
    messages.seen.clear();
    frame->RouteCommand(ID_SERVER_LOADITEMS);
    ASSERT_EQ(messages.seen.size(), 1u);
    EXPECT_TRUE(messages.seen[0].text.ends_with(u"line 2 is not UTF-8 text; no item was added"))
        << U8(messages.seen[0].text);
}

}  // namespace
