// The output pane against a fake server pane: layouts, identifiers, offsets, the "Return value: "
// line, the display limit, tab changes, resizing, command forwarding and misbehaving result sets.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QScrollBar>
#include <QTabBar>
#include <QTest>
#include <memory>

#include "com/objbase.h"
#include "com/timeapi.h"
#include "fakehost.h"
#include "outputpane/mytabctrl.h"
#include "outputpane/outputlist.h"
#include "outputpane/outputpane.h"
#include "outputpane/valuerows.h"

namespace {

QString Q(const char* s) {
    return QString::fromUtf8(s);
}
const QString kNotReturned = QString::fromUtf16(CValueTabRows::kNotReturned);

class OutputPaneTest : public ::testing::Test {
protected:
    void SetUp() override {
        com::SetFixedBiasMinutes(0);
        pane = std::make_unique<COutputPane>();
        pane->resize(600, 400);
        pane->SetServerPane(&host);
        pane->show();
    }
    void TearDown() override {
        pane.reset();
        com::ResetClock();
    }

    // What a value read does after its call succeeded.
    void Read(std::vector<std::u16string> ids, std::vector<FakeItem> items, std::vector<HRESULT> errors) {
        host.selected = std::move(ids);
        pane->CreateItemTabs();
        host.SetResultSet(std::move(items), std::move(errors));
        pane->ShowTabResults();
    }

    CMyTabCtrl* Tabs() const { return pane->GetTabCtrl(); }
    COutputList* ValueList() const { return Tabs()->GetValueList(); }
    QString ResultText() const {
        return Tabs()->GetResultLabel() ? Tabs()->GetResultLabel()->text() : Q("<no result label>");
    }
    void PickTab(int i) {
        QTabBar* bar = Tabs()->GetTabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(i).center());
    }

    FakeHost host;  // outlives the pane
    std::unique_ptr<COutputPane> pane;
};

TEST_F(OutputPaneTest, BlankUntilTheFirstOperation) {
    EXPECT_EQ(pane->GetTabCtrl(), nullptr);
    EXPECT_EQ(pane->GetResultList(), nullptr);
    pane->ShowTabResults();  // nothing to fill: no effect
    EXPECT_TRUE(pane->findChildren<QWidget*>().isEmpty());
}

TEST_F(OutputPaneTest, ValueTabsFillTheResultAreaWithTheirIdentifiersAndOffsets) {
    Read({u"Tank1.Level", u"Tank2.Level"}, {MakeStringItem(3), MakeStringItem(2)}, {S_OK, OPC_S_MOREDATA});

    ASSERT_NE(Tabs(), nullptr);
    EXPECT_EQ(pane->ResultArea(), QRect(10, 5, 580, 370));
    EXPECT_EQ(Tabs()->geometry(), QRect(10, 5, 580, 370));
    EXPECT_EQ(Tabs()->property("controlId").toInt(), 61212);
    EXPECT_EQ(ValueList()->property("controlId").toInt(), 61213);
    EXPECT_EQ(ValueList()->geometry(), QRect(5, 40, 570, 325));

    ASSERT_NE(Tabs()->GetCaptionLabel(), nullptr);
    EXPECT_EQ(Tabs()->GetCaptionLabel()->property("controlId").toInt(), 61214);
    EXPECT_EQ(Tabs()->GetCaptionLabel()->text(), Q("Return value: "));
    EXPECT_EQ(Tabs()->GetCaptionLabel()->geometry(), QRect(QPoint(5, 25), QPoint(569, 39)));
    EXPECT_EQ(Tabs()->GetResultLabel()->property("controlId").toInt(), 61215);
    EXPECT_EQ(Tabs()->GetResultLabel()->geometry(), QRect(QPoint(80, 25), QPoint(569, 39)));

    ASSERT_EQ(ValueList()->GetColumnCount(), 3);
    const char* headings[] = {"Value", "Timestamp", "Quality"};
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(ValueList()->model()->headerData(c, Qt::Horizontal).toString(), Q(headings[c]));
        EXPECT_EQ(ValueList()->GetColumnWidth(c), 570 / 3);
    }
}

TEST_F(OutputPaneTest, TabCaptionsAreTheSelectedItemIdsInListOrder) {
    Read({u"B.second", u"A.first", u"C&D"}, {MakeStringItem(1), MakeStringItem(1), MakeStringItem(1)},
         {S_OK, S_OK, S_OK});
    ASSERT_EQ(Tabs()->GetItemCount(), 3);
    EXPECT_EQ(Tabs()->GetItemText(0), Q("B.second"));
    EXPECT_EQ(Tabs()->GetItemText(1), Q("A.first"));
    EXPECT_EQ(Tabs()->GetItemText(2), Q("C&D"));  // an ampersand is part of the ID, not a mnemonic
    EXPECT_EQ(Tabs()->GetCurSel(), 0);
}

TEST_F(OutputPaneTest, AHugeItemIdStaysWholeButItsCaptionIsShort) {
    const std::u16string huge(100000, u'x');
    Read({u"a", huge}, {MakeStringItem(1), MakeStringItem(1)}, {S_OK, S_OK});
    EXPECT_EQ(Tabs()->GetItemText(1).size(), 100000);
    EXPECT_LE(Tabs()->GetTabBar()->tabText(1).size(), 300);
    PickTab(1);
    EXPECT_EQ(Tabs()->GetCurSel(), 1);
    EXPECT_EQ(ResultText(), Q("OK (returned 1 items)"));
}

TEST_F(OutputPaneTest, CreatingTheTabsFillsNothing) {
    host.SetResultSet({MakeStringItem(5)}, {S_OK});
    host.selected = {u"X"};
    pane->CreateItemTabs();
    EXPECT_EQ(ValueList()->GetItemCount(), 0);
    EXPECT_EQ(Tabs()->GetResultLabel(), nullptr);
    EXPECT_EQ(Tabs()->GetCaptionLabel(), nullptr);
}

TEST_F(OutputPaneTest, RowsShowTheValuesInTheServersOrder) {
    FakeItem item;
    item.dwCount = 3;
    item.values = {MakeBstr(u"first"), MakeI4(-5), MakeVt(VT_DATE)};
    item.times = {MakeFileTime(2009, 2, 24, 13, 5, 7, 250), MakeFileTime(2009, 1, 5, 3, 4, 5, 6),
                  MakeFileTime(2001, 12, 31, 23, 59, 59, 999)};
    item.qualities = {0xC0 | OPCHDA_RAW, 0x41 | OPCHDA_INTERPOLATED, 0x80};
    Read({u"X"}, {item}, {S_OK});

    EXPECT_EQ(ResultText(), Q("OK (returned 3 items)"));
    ASSERT_EQ(ValueList()->GetItemCount(), 3);
    const char* expected[3][3] = {
        {"first", "2009/02/24 13:05:07.250", "Good, Non-specific : Raw"},
        {"-5", "2009/01/05 03:04:05.006", "Uncertain, Non-Specific (Low Limited) : Interpolated Value"},
        {"Ack - Date", "2001/12/31 23:59:59.999", "Unknown Quality"},
    };
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(ValueList()->GetItemText(r, c), Q(expected[r][c])) << r << "," << c;
    // What the view shows is what the list holds.
    EXPECT_EQ(ValueList()->model()->index(1, 2).data().toString(), Q(expected[1][2]));
    // A cell cut short by its column is readable whole in its tooltip.
    EXPECT_EQ(ValueList()->model()->index(1, 2).data(Qt::ToolTipRole).toString(), Q(expected[1][2]));
}

TEST_F(OutputPaneTest, DisplayLimitAtItsBoundaries) {
    host.limit = 4;
    Read({u"equal", u"oneMore", u"none"}, {MakeStringItem(4), MakeStringItem(5), MakeStringItem(0)},
         {S_OK, S_OK, OPC_S_NODATA});
    // count equal to the limit: the "returned" form and every row
    EXPECT_EQ(ResultText(), Q("OK (returned 4 items)"));
    EXPECT_EQ(ValueList()->GetItemCount(), 4);
    EXPECT_EQ(ValueList()->GetItemText(3, 0), Q("v3"));

    // one more than the limit: the "limited" form and exactly limit rows
    PickTab(1);
    EXPECT_EQ(ResultText(), Q("OK (display limited to 4 of 5 items)"));
    EXPECT_EQ(ValueList()->GetItemCount(), 4);
    EXPECT_EQ(ValueList()->GetItemText(3, 0), Q("v3"));

    // no values: the result code alone and an empty list
    PickTab(2);
    EXPECT_EQ(ResultText(), Q("No Data"));
    EXPECT_EQ(ValueList()->GetItemCount(), 0);

    // limit 0 with values: the "limited" form with 0 and no rows; without values still the code alone
    host.limit = 0;
    PickTab(0);
    EXPECT_EQ(ResultText(), Q("OK (display limited to 0 of 4 items)"));
    EXPECT_EQ(ValueList()->GetItemCount(), 0);
    PickTab(2);
    EXPECT_EQ(ResultText(), Q("No Data"));
}

TEST_F(OutputPaneTest, TheLimitOnlyTakesEffectAtTheNextRefill) {
    host.limit = 1000;
    Read({u"a", u"b"}, {MakeStringItem(10), MakeStringItem(10)}, {S_OK, S_OK});
    EXPECT_EQ(ValueList()->GetItemCount(), 10);
    host.limit = 2;
    EXPECT_EQ(ValueList()->GetItemCount(), 10);  // the list on screen stays
    PickTab(1);
    EXPECT_EQ(ValueList()->GetItemCount(), 2);
    EXPECT_EQ(ResultText(), Q("OK (display limited to 2 of 10 items)"));
}

TEST_F(OutputPaneTest, TheSecondTabShowsItsOwnValuesAndResultCode) {
    Read({u"first", u"second"}, {MakeStringItem(2, u"a"), MakeStringItem(3, u"b")}, {S_OK, OPC_S_MOREDATA});
    EXPECT_EQ(ValueList()->GetItemText(0, 0), Q("a0"));
    PickTab(1);
    EXPECT_EQ(Tabs()->GetCurSel(), 1);
    EXPECT_EQ(ResultText(), Q("More Data Exists (returned 3 items)"));
    ASSERT_EQ(ValueList()->GetItemCount(), 3);
    EXPECT_EQ(ValueList()->GetItemText(2, 0), Q("b2"));
    EXPECT_EQ(ValueList()->GetItemText(2, 1), Q("2009/02/24 13:05:09.250"));
    PickTab(0);
    EXPECT_EQ(ResultText(), Q("OK (returned 2 items)"));
    EXPECT_EQ(ValueList()->GetItemCount(), 2);
}

TEST_F(OutputPaneTest, AResultListReplacesTheTabsAndBack) {
    Read({u"a"}, {MakeStringItem(2)}, {S_OK});
    QPointer<CMyTabCtrl> oldTabs = Tabs();

    pane->CreateResultList();
    EXPECT_TRUE(oldTabs.isNull());
    EXPECT_EQ(pane->GetTabCtrl(), nullptr);
    COutputList* list = pane->GetResultList();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->property("controlId").toInt(), 61213);
    EXPECT_EQ(list->geometry(), QRect(10, 5, 580, 370));
    EXPECT_EQ(list->GetColumnCount(), 0);
    pane->ShowTabResults();  // no tabs: nothing happens

    QPointer<COutputList> oldList = list;
    Read({u"b"}, {MakeStringItem(1)}, {S_OK});
    EXPECT_TRUE(oldList.isNull());
    EXPECT_EQ(pane->GetResultList(), nullptr);
    ASSERT_NE(Tabs(), nullptr);
    EXPECT_EQ(pane->findChildren<COutputList*>(Qt::FindDirectChildrenOnly).size(), 0);
    EXPECT_EQ(pane->findChildren<CMyTabCtrl*>().size(), 1);

    pane->CreateResultList();
    pane->CreateResultList();  // a second list replaces the first
    EXPECT_EQ(pane->findChildren<COutputList*>().size(), 1);
}

TEST_F(OutputPaneTest, ResultListColumnsAndRowsAsTheOperationsAddThem) {
    pane->CreateResultList();
    pane->InsertAttributeColumns();
    COutputList* list = pane->GetResultList();
    ASSERT_EQ(list->GetColumnCount(), 3);
    const char* attribute[] = {"Attribute", "Value", "Timestamp"};
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(list->model()->headerData(c, Qt::Horizontal).toString(), Q(attribute[c]));
        EXPECT_EQ(list->GetColumnWidth(c), 580 / 3);
    }
    // Row i inserted with its first column, then the others set on it.
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(list->InsertItem(i, QString::number(i)), i);
        EXPECT_TRUE(list->SetItemText(i, 1, Q("v") + QString::number(i)));
        EXPECT_TRUE(list->SetItemText(i, 2, Q("t") + QString::number(i)));
    }
    EXPECT_EQ(list->GetItemCount(), 3);
    EXPECT_EQ(list->GetItemText(2, 1), Q("v2"));
    EXPECT_EQ(list->model()->index(1, 2).data().toString(), Q("t1"));
    EXPECT_FALSE(list->SetItemText(3, 0, Q("no such row")));
    EXPECT_FALSE(list->SetItemText(0, 3, Q("no such column")));

    pane->CreateResultList();
    pane->InsertUpdateColumns();
    list = pane->GetResultList();
    ASSERT_EQ(list->GetColumnCount(), 4);
    const char* update[] = {"Tag", "Value", "Timestamp", "Error Code"};
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(list->model()->headerData(c, Qt::Horizontal).toString(), Q(update[c]));
        EXPECT_EQ(list->GetColumnWidth(c), 580 / 4);
    }
}

TEST_F(OutputPaneTest, ResizingSetsTheFirstThreeColumnsToAThirdAndKeepsTheFourth) {
    pane->CreateResultList();
    pane->InsertUpdateColumns();
    COutputList* list = pane->GetResultList();
    list->InsertItem(0, Q("Tag1"));
    list->SetColumnWidth(3, 77);

    pane->resize(900, 300);
    EXPECT_EQ(list->geometry(), QRect(10, 5, 880, 270));
    for (int c = 0; c < 3; ++c) EXPECT_EQ(list->GetColumnWidth(c), 880 / 3);
    EXPECT_EQ(list->GetColumnWidth(3), 77);
}

TEST_F(OutputPaneTest, ResizingMovesTheTabsAndRefitsTheValueList) {
    Read({u"a"}, {MakeStringItem(2)}, {S_OK});
    pane->resize(700, 500);
    EXPECT_EQ(Tabs()->geometry(), QRect(10, 5, 680, 470));
    EXPECT_EQ(ValueList()->geometry(), QRect(5, 40, 670, 425));
    for (int c = 0; c < 3; ++c) EXPECT_EQ(ValueList()->GetColumnWidth(c), 670 / 3);
    // The labels stay where they are, reaching to the new right edge.
    EXPECT_EQ(Tabs()->GetResultLabel()->geometry(), QRect(QPoint(80, 25), QPoint(669, 39)));
}

TEST_F(OutputPaneTest, ColumnsAccountForAVerticalScrollBar) {
    Read({u"a"}, {MakeStringItem(500)}, {S_OK});
    pane->resize(650, 400);
    QApplication::processEvents();  // the bar shows after the resize has set the widths
    ASSERT_TRUE(ValueList()->verticalScrollBar()->isVisible());
    const int client = ValueList()->viewport()->width();
    EXPECT_LT(client, 620);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(ValueList()->GetColumnWidth(c), client / 3);
}

// ---- Misbehaving result sets ----

TEST_F(OutputPaneTest, NullArraysShowWhatWasReturned) {
    FakeItem noTimes = MakeStringItem(2);
    noTimes.times.clear();
    FakeItem noQualities = MakeStringItem(2);
    noQualities.qualities.clear();
    FakeItem noValues = MakeStringItem(2);
    for (VARIANT& v : noValues.values) VariantClear(&v);
    noValues.values.clear();
    Read({u"t", u"q", u"v"}, {noTimes, noQualities, noValues}, {S_OK, S_OK, S_OK});

    EXPECT_EQ(ValueList()->GetItemText(1, 0), Q("v1"));
    EXPECT_EQ(ValueList()->GetItemText(1, 1), kNotReturned);
    EXPECT_EQ(ValueList()->GetItemText(1, 2), Q("Good, Non-specific : Raw"));
    PickTab(1);
    EXPECT_EQ(ValueList()->GetItemText(1, 1), Q("2009/02/24 13:05:08.250"));
    EXPECT_EQ(ValueList()->GetItemText(1, 2), kNotReturned);
    PickTab(2);
    EXPECT_EQ(ResultText(), Q("OK (returned 2 items)"));
    EXPECT_EQ(ValueList()->GetItemText(0, 0), kNotReturned);
    EXPECT_EQ(ValueList()->GetItemText(0, 2), Q("Good, Non-specific : Raw"));
}

TEST_F(OutputPaneTest, ACountLargerThanTheArraysIsNeverReadPast) {
    FakeItem shortItem = MakeStringItem(3);
    shortItem.dwCount = 8;
    shortItem.qualities.resize(2);
    FakeItem huge = MakeStringItem(2);
    huge.dwCount = 0xFFFFFFFF;
    host.limit = 1000;
    Read({u"short", u"huge"}, {shortItem, huge}, {S_OK, S_OK});

    EXPECT_EQ(ResultText(), Q("OK (returned 8 items)"));
    ASSERT_EQ(ValueList()->GetItemCount(), 8);
    EXPECT_EQ(ValueList()->GetItemText(2, 0), Q("v2"));
    EXPECT_EQ(ValueList()->GetItemText(2, 2), kNotReturned);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(ValueList()->GetItemText(7, c), kNotReturned);

    PickTab(1);
    EXPECT_EQ(ResultText(), Q("OK (display limited to 1000 of 4294967295 items)"));
    ASSERT_EQ(ValueList()->GetItemCount(), 1000);
    EXPECT_EQ(ValueList()->GetItemText(1, 0), Q("v1"));
    EXPECT_EQ(ValueList()->GetItemText(999, 0), kNotReturned);
    pane->grab();  // painting the visible rows reads nothing past the arrays either
}

TEST_F(OutputPaneTest, ValuesOfUnknownTypesReadUnknownAndAreNotFollowed) {
    FakeItem item;
    item.dwCount = 5;
    item.values = {MakeVt(VT_BYREF | VT_I4, 0x10), MakeVt(VT_DISPATCH, 0x10), MakeVt(0x7777, 0x10),
                   MakeVt(VT_ARRAY | VT_BSTR, 0x10), MakeVt(VT_ERROR, 5)};
    item.times.assign(5, MakeFileTime(2020, 1, 1, 0, 0, 0, 0));
    item.qualities.assign(5, 0xC0);
    Read({u"odd"}, {item}, {S_OK});
    for (int r = 0; r < 4; ++r) EXPECT_EQ(ValueList()->GetItemText(r, 0), Q("Unknown")) << r;
    EXPECT_EQ(ValueList()->GetItemText(4, 0), Q("Ack - Error value"));
    pane->grab();
}

TEST_F(OutputPaneTest, FewerResultsThanTabsSayWhatIsMissing) {
    Read({u"a", u"b", u"c"}, {MakeStringItem(1), MakeStringItem(1)}, {S_OK, S_OK});
    PickTab(2);
    EXPECT_EQ(ResultText(), QString::fromUtf16(COutputPane::kNoResultForItem));
    EXPECT_EQ(ValueList()->GetItemCount(), 0);
}

TEST_F(OutputPaneTest, AReleasedResultSetIsNeverTouched) {
    Read({u"a", u"b"}, {MakeStringItem(3, u"a"), MakeStringItem(3, u"b")}, {S_OK, S_OK});
    const long blocksWithResult = com::LiveTaskMemBlocks();

    // An operation releases the result set before its call, then fails: the old tabs stay.
    host.ReleaseResultSet();
    EXPECT_LT(com::LiveTaskMemBlocks(), blocksWithResult);
    // The rows on screen stay readable: they hold their own copies.
    EXPECT_EQ(ValueList()->GetItemText(2, 0), Q("a2"));
    pane->grab();

    PickTab(1);
    EXPECT_EQ(ValueList()->GetItemCount(), 0);
    EXPECT_EQ(Tabs()->GetResultLabel(), nullptr);
    EXPECT_EQ(Tabs()->GetCaptionLabel(), nullptr);
    PickTab(0);
    EXPECT_EQ(ValueList()->GetItemCount(), 0);

    // The next read brings the page back.
    Read({u"c"}, {MakeStringItem(1, u"c")}, {S_OK});
    EXPECT_EQ(ResultText(), Q("OK (returned 1 items)"));
}

// ---- Commands ----

// Command ids as the main window sends them.
constexpr int kReadRaw = 32792, kReadAttribute = 32797, kDisconnect = 61211, kOptions = 32805;

TEST_F(OutputPaneTest, CommandsAreForwardedWithTheServerPanesRule) {
    // The server pane decides which commands are enabled, its own or not; the pane forwards just those.
    host.enabled = {kReadRaw, kOptions};
    for (int id : {kReadRaw, kOptions}) {
        EXPECT_TRUE(pane->IsCommandEnabled(id)) << id;
        EXPECT_TRUE(pane->OnCommand(id)) << id;
    }
    for (int id : {kReadAttribute, kDisconnect, 57634, 57665, 0, -1}) {
        EXPECT_FALSE(pane->IsCommandEnabled(id)) << id;
        EXPECT_FALSE(pane->OnCommand(id)) << id;
    }
    EXPECT_EQ(host.commands, (std::vector<int>{kReadRaw, kOptions}));
}

TEST(OutputPaneWithoutServerPane, ForwardsNothingAndShowsNothing) {
    COutputPane pane;
    pane.resize(300, 200);
    for (int id : {kOptions, kReadRaw}) {
        EXPECT_FALSE(pane.IsCommandEnabled(id)) << id;
        EXPECT_FALSE(pane.OnCommand(id)) << id;
    }

    pane.CreateItemTabs();
    ASSERT_NE(pane.GetTabCtrl(), nullptr);
    EXPECT_EQ(pane.GetTabCtrl()->GetItemCount(), 0);
    pane.ShowTabResults();
    EXPECT_EQ(pane.GetTabCtrl()->GetValueList()->GetItemCount(), 0);
    EXPECT_EQ(pane.GetTabCtrl()->GetResultLabel(), nullptr);
}

}  // namespace
