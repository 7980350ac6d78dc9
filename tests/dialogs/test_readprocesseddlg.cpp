// The Read Processed dialog against a scripted server: the lists, the aggregate per item, the
// resample interval, and what a misbehaving server gets.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "dialog_fakes.h"
#include "dialogs/readprocesseddlg.h"

namespace {

using dlgtest::DialogTest;
using dlgtest::FakeHdaServer;
using dlgtest::FakeHost;
using dlgtest::List;
using dlgtest::RunModal;

QStringList Column(QTreeWidget* list, int col) {
    QStringList out;
    for (int r = 0; r < list->topLevelItemCount(); ++r) out << list->topLevelItem(r)->text(col);
    return out;
}
QStringList Entries(QComboBox* c) {
    QStringList out;
    for (int i = 0; i < c->count(); ++i) out << c->itemText(i);
    return out;
}
std::vector<DWORD> Ids(const DWORD* p, int n) { return p ? std::vector<DWORD>(p, p + n) : std::vector<DWORD>{}; }

class ReadProcessedDlgTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        FixNow(Ticks(2009, 2, 24, 13, 5, 7), 0);
        m_server = new FakeHdaServer;
        m_server->aggregates = List({{1, u"Interpolative", u"Interpolated values"},
                                     {4, u"Average", u"Time-weighted average"},
                                     {7, u"Maximum", u"Largest value"}});
        m_host.items = {u"Plant.B", u"Plant.A", u"Plant.C"};  // list order
        m_host.server = m_server;
    }
    void TearDown() override {
        m_server->Release();
        DialogTest::TearDown();
    }
    static QTreeWidget* ItemList(QWidget* d) { return dlg::GetDlgItem<QTreeWidget>(d, IDC_ITEM_AGGREGATES); }
    static void Press(QWidget* d, int id) { dlg::GetDlgItem<QPushButton>(d, id)->click(); }
    // The dialog's results are the caller's: released as the read would.
    static void ReleaseResults(CReadProcessedDlg& d) {
        CoTaskMemFree(d.m_pItemAggregates);
        d.m_pItemAggregates = nullptr;
    }

    FakeHdaServer* m_server = nullptr;
    FakeHost m_host;
};

TEST_F(ReadProcessedDlgTest, OpensWithTheSelectedItemsAndTheServersAggregates) {
    CReadProcessedDlg dlg;
    dlg.m_pServerPane = &m_host;
    QStringList items, aggs, itemCombo, aggCombo, serverNames, serverDescs;
    int itemSel = -2, aggSel = -2;
    QString resample, unit, title;
    int runtimeCombos = 0;
    const int r = RunModal<CReadProcessedDlg>(dlg, [&](CReadProcessedDlg& d) {
        dlgtest::Shot(&d, "readprocessed");
        title = d.windowTitle();
        items = Column(ItemList(&d), 0);
        aggs = Column(ItemList(&d), 1);
        ASSERT_NE(d.m_pItemCombo, nullptr);
        ASSERT_NE(d.m_pAggregateCombo, nullptr);
        runtimeCombos = static_cast<int>(d.findChildren<QComboBox*>(QString::number(IDC_RUNTIME_COMBO)).size());
        itemCombo = Entries(d.m_pItemCombo);
        aggCombo = Entries(d.m_pAggregateCombo);
        itemSel = d.m_pItemCombo->currentIndex();
        aggSel = d.m_pAggregateCombo->currentIndex();
        auto* server = dlg::GetDlgItem<QTreeWidget>(&d, IDC_SERVER_AGGREGATES);
        serverNames = Column(server, 0);
        serverDescs = Column(server, 1);
        resample = dlg::GetDlgItem<QLineEdit>(&d, IDC_RESAMPLE_INTERVAL)->text();
        unit = dlg::GetDlgItem<QComboBox>(&d, IDC_RESAMPLE_UNITS)->currentText();
        Press(&d, IDOK);
    });
    ASSERT_EQ(r, QDialog::Accepted);
    EXPECT_EQ(title, "Read Processed");
    EXPECT_EQ(m_server->nGetAggregates, 1);
    EXPECT_EQ(runtimeCombos, 2);
    EXPECT_EQ(items, QStringList({"Plant.B", "Plant.A", "Plant.C"}));
    EXPECT_EQ(aggs, QStringList({"Interpolative", "Interpolative", "Interpolative"}));
    EXPECT_EQ(itemCombo, items);
    EXPECT_EQ(itemSel, 0);
    EXPECT_EQ(aggCombo, QStringList({"Interpolative", "Average", "Maximum"}));
    EXPECT_EQ(aggSel, 0);
    EXPECT_EQ(serverNames, aggCombo);
    EXPECT_EQ(serverDescs, QStringList({"Interpolated values", "Time-weighted average", "Largest value"}));
    EXPECT_EQ(resample, "10");
    EXPECT_EQ(unit, "Seconds");

    EXPECT_EQ(Ids(dlg.m_pItemAggregates, 3), (std::vector<DWORD>{1, 1, 1}));
    EXPECT_EQ(com::TaskMemCount(dlg.m_pItemAggregates), 3u);
    EXPECT_EQ(FileTimeToU64(dlg.m_ftResampleInterval), 100000000ULL);
    EXPECT_EQ(dlg.m_strStartTime, u"2009/02/24 12:55:07.000");
    EXPECT_EQ(dlg.m_strEndTime, u"2009/02/24 13:05:07.000");
    // Closed: the drop-down lists are gone and the server's ids released.
    EXPECT_EQ(dlg.m_pItemCombo, nullptr);
    EXPECT_EQ(dlg.m_pAggregateCombo, nullptr);
    EXPECT_TRUE(dlg.findChildren<QComboBox*>(QString::number(IDC_RUNTIME_COMBO)).isEmpty());
    EXPECT_EQ(dlg.m_pAggregateIds, nullptr);
    ReleaseResults(dlg);
    ExpectNoTaskMemLeft();
}

TEST_F(ReadProcessedDlgTest, SetSelectedItemChangesTheRowChosenInTheItemBoxNotTheHighlightedOne) {
    CReadProcessedDlg dlg;
    dlg.m_pServerPane = &m_host;
    QStringList afterSelected, afterAll;
    const int r = RunModal<CReadProcessedDlg>(dlg, [&](CReadProcessedDlg& d) {
        QTreeWidget* list = ItemList(&d);
        list->setCurrentItem(list->topLevelItem(2));  // highlight the third row
        d.m_pItemCombo->setCurrentIndex(1);            // choose the second item
        d.m_pAggregateCombo->setCurrentIndex(2);       // Maximum
        Press(&d, IDC_SET_SELECTED_ITEM);
        afterSelected = Column(list, 1);
        Press(&d, IDOK);
    });
    ASSERT_EQ(r, QDialog::Accepted);
    EXPECT_EQ(afterSelected, QStringList({"Interpolative", "Maximum", "Interpolative"}));
    EXPECT_EQ(Ids(dlg.m_pItemAggregates, 3), (std::vector<DWORD>{1, 7, 1}));
    ReleaseResults(dlg);

    CReadProcessedDlg dlg2;
    dlg2.m_pServerPane = &m_host;
    ASSERT_EQ(RunModal<CReadProcessedDlg>(dlg2,
                                          [&](CReadProcessedDlg& d) {
                                              d.m_pAggregateCombo->setCurrentIndex(1);  // Average
                                              Press(&d, IDC_SET_ALL_ITEMS);
                                              afterAll = Column(ItemList(&d), 1);
                                              Press(&d, IDOK);
                                          }),
              QDialog::Accepted);
    EXPECT_EQ(afterAll, QStringList({"Average", "Average", "Average"}));
    EXPECT_EQ(Ids(dlg2.m_pItemAggregates, 3), (std::vector<DWORD>{4, 4, 4}));
    ReleaseResults(dlg2);
    ExpectNoTaskMemLeft();
}

TEST_F(ReadProcessedDlgTest, AggregatesOfTheSameNameResolveToTheFirst) {
    m_server->aggregates = List({{2, u"Avg", u"first"}, {9, u"Avg", u"second"}, {5, u"Min", u""}});
    CReadProcessedDlg dlg;
    dlg.m_pServerPane = &m_host;
    ASSERT_EQ(RunModal<CReadProcessedDlg>(dlg,
                                          [&](CReadProcessedDlg& d) {
                                              d.m_pAggregateCombo->setCurrentIndex(1);  // the second "Avg"
                                              Press(&d, IDC_SET_ALL_ITEMS);
                                              d.m_pItemCombo->setCurrentIndex(2);
                                              d.m_pAggregateCombo->setCurrentIndex(2);
                                              Press(&d, IDC_SET_SELECTED_ITEM);
                                              Press(&d, IDOK);
                                          }),
              QDialog::Accepted);
    EXPECT_EQ(Ids(dlg.m_pItemAggregates, 3), (std::vector<DWORD>{2, 2, 5}));
    ReleaseResults(dlg);
    ExpectNoTaskMemLeft();
}

TEST_F(ReadProcessedDlgTest, ResampleIntervalIsTheNumberTimesTheTicksOfItsUnit) {
    struct Case {
        const char* number;
        int unit;             // position to select, -1: none
        const char* typed;    // or text typed into the box
        long long ticks;      // -1: refused
    } cases[] = {
        {"10", 1, nullptr, 100000000LL},
        {"3", 3, nullptr, 108000000000LL},
        {"2", -1, nullptr, 1728000000000LL},  // no unit selected: days
        {"5", 0, nullptr, 50000LL},
        {"7", 2, nullptr, 4200000000LL},
        {"1", 4, nullptr, 864000000000LL},
        {"0", 1, nullptr, 0LL},
        {"2147483647", 2, nullptr, 2147483647LL * 600000000LL},
        {"4", -1, "minutes", 2400000000LL},        // a unit typed by name
        {"4", -1, "Weeks", -1},                    // names no unit
        {"10675199", 4, nullptr, 10675199LL * 864000000000LL},
        {"10675200", 4, nullptr, -1},              // past 64 bits of ticks
        {"2147483648", 1, nullptr, -1},            // past 32 bits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.number << " unit " << c.unit << " " << (c.typed ? c.typed : ""));
        m_messages.messages.clear();
        CReadProcessedDlg dlg;
        dlg.m_pServerPane = &m_host;
        const int r = RunModal<CReadProcessedDlg>(dlg, [&](CReadProcessedDlg& d) {
            dlg::GetDlgItem<QLineEdit>(&d, IDC_RESAMPLE_INTERVAL)->setText(QString::fromLatin1(c.number));
            auto* units = dlg::GetDlgItem<QComboBox>(&d, IDC_RESAMPLE_UNITS);
            units->setCurrentIndex(c.unit);
            if (c.typed) units->setEditText(QString::fromLatin1(c.typed));
            Press(&d, IDOK);
            if (c.ticks < 0) {
                EXPECT_TRUE(d.isVisible());
            }
        });
        if (c.ticks >= 0) {
            ASSERT_EQ(r, QDialog::Accepted);
            EXPECT_EQ(static_cast<long long>(FileTimeToU64(dlg.m_ftResampleInterval)), c.ticks);
            EXPECT_TRUE(m_messages.messages.empty());
        } else {
            EXPECT_EQ(r, QDialog::Rejected);
            ASSERT_EQ(m_messages.messages.size(), 1u);
            EXPECT_EQ(m_messages.messages[0].icon, hda::MsgIcon::Exclamation);
            EXPECT_EQ(dlg.m_pItemAggregates, nullptr);
        }
        ReleaseResults(dlg);
    }
    ExpectNoTaskMemLeft();
}

TEST_F(ReadProcessedDlgTest, WithoutAggregatesOkRefusesAndEndsAsCancelled) {
    struct Case {
        const char* what;
        dlgtest::ListAnswer answer;
        const char16_t* openingMessage;
    } cases[] = {
        {"none", List({}), nullptr},
        {"failure", [] { auto a = List({{1, u"Average", u""}}); a.hr = E_FAIL; return a; }(),
         u"Error retrieving server aggregates, Error Code =  80004005"},
        {"null arrays with a count", [] { dlgtest::ListAnswer a; a.count = 5; return a; }(), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_messages.messages.clear();
        m_server->aggregates = c.answer;
        CReadProcessedDlg dlg;
        dlg.m_pServerPane = &m_host;
        size_t messagesAtOpening = 0;
        QStringList aggs;
        int serverRows = -1;
        const int r = RunModal<CReadProcessedDlg>(dlg, [&](CReadProcessedDlg& d) {
            messagesAtOpening = m_messages.messages.size();
            aggs = Column(ItemList(&d), 1);
            serverRows = dlg::GetDlgItem<QTreeWidget>(&d, IDC_SERVER_AGGREGATES)->topLevelItemCount();
            EXPECT_EQ(d.m_pAggregateCombo->count(), 0);
            Press(&d, IDC_SET_ALL_ITEMS);  // nothing to set
            Press(&d, IDOK);
            EXPECT_FALSE(d.isVisible());
        });
        EXPECT_EQ(r, QDialog::Rejected);
        EXPECT_EQ(serverRows, 0);
        EXPECT_EQ(aggs, QStringList({"", "", ""}));
        const size_t expectedAtOpening = c.openingMessage ? 1 : 0;
        ASSERT_EQ(messagesAtOpening, expectedAtOpening);
        if (c.openingMessage) {
            EXPECT_EQ(m_messages.messages[0].text, c.openingMessage);
            EXPECT_EQ(m_messages.messages[0].caption, u"Error");
            EXPECT_EQ(m_messages.messages[0].icon, hda::MsgIcon::Exclamation);
        }
        ASSERT_EQ(m_messages.messages.size(), expectedAtOpening + 1);
        EXPECT_EQ(m_messages.messages.back().text, u"Unable to perform ReadProcessed, No Aggregates Exist");
        EXPECT_EQ(m_messages.messages.back().caption, u"Error");
        EXPECT_EQ(m_messages.messages.back().icon, hda::MsgIcon::Exclamation);
        EXPECT_EQ(dlg.m_pItemAggregates, nullptr);
        EXPECT_EQ(dlg.m_pItemCombo, nullptr);
        EXPECT_EQ(dlg.m_pAggregateCombo, nullptr);
        ExpectNoTaskMemLeft();
    }
}

TEST_F(ReadProcessedDlgTest, AMisbehavingServersListIsReadNoFurtherThanItsArraysAndAllReleased) {
    // Claims four, allocates two ids, three names (one null) and no descriptions.
    dlgtest::ListAnswer a;
    a.count = 4;
    a.ids = std::vector<DWORD>{3, 9};
    a.names = std::vector<dlgtest::OptStr>{std::u16string(u"Average"), std::nullopt, std::u16string(u"Orphan")};
    m_server->aggregates = a;
    CReadProcessedDlg dlg;
    dlg.m_pServerPane = &m_host;
    QStringList aggCombo, descs;
    const int r = RunModal<CReadProcessedDlg>(dlg, [&](CReadProcessedDlg& d) {
        aggCombo = Entries(d.m_pAggregateCombo);
        descs = Column(dlg::GetDlgItem<QTreeWidget>(&d, IDC_SERVER_AGGREGATES), 1);
        d.m_pAggregateCombo->setCurrentIndex(1);
        d.m_pItemCombo->setCurrentIndex(0);
        Press(&d, IDC_SET_SELECTED_ITEM);
        Press(&d, IDOK);
    });
    ASSERT_EQ(r, QDialog::Accepted);
    EXPECT_EQ(aggCombo, QStringList({"Average", "(no name, ID 9)"}));
    EXPECT_EQ(descs, QStringList({"", ""}));
    EXPECT_EQ(Ids(dlg.m_pItemAggregates, 3), (std::vector<DWORD>{9, 3, 3}));
    ReleaseResults(dlg);
    ExpectNoTaskMemLeft();

    // A count smaller than the arrays: only the counted entries are looked at.
    dlgtest::ListAnswer b = List({{1, u"One", u"first"}});
    b.count = 1;
    b.ids->push_back(2);
    b.names->push_back(std::nullopt);  // beyond the count a server's entries may be anything: null here
    b.descs->push_back(std::nullopt);
    m_server->aggregates = b;
    CReadProcessedDlg dlg2;
    dlg2.m_pServerPane = &m_host;
    ASSERT_EQ(RunModal<CReadProcessedDlg>(dlg2,
                                          [&](CReadProcessedDlg& d) {
                                              aggCombo = Entries(d.m_pAggregateCombo);
                                              Press(&d, IDOK);
                                          }),
              QDialog::Accepted);
    EXPECT_EQ(aggCombo, QStringList({"One"}));
    ReleaseResults(dlg2);
    ExpectNoTaskMemLeft();
}

TEST_F(ReadProcessedDlgTest, EveryWayOutDestroysTheDropDownListsAndReleasesTheServersIds) {
    for (int way = 0; way < 3; ++way) {
        SCOPED_TRACE(way);
        CReadProcessedDlg dlg;
        dlg.m_pServerPane = &m_host;
        const int r = RunModal<CReadProcessedDlg>(dlg, [&](CReadProcessedDlg& d) {
            EXPECT_NE(d.m_pAggregateIds, nullptr);
            if (way == 0) Press(&d, IDCANCEL);
            if (way == 1) d.close();  // the close box
            // way 2: the driver's reject(), as Escape does
        });
        EXPECT_EQ(r, QDialog::Rejected);
        EXPECT_EQ(dlg.m_pItemCombo, nullptr);
        EXPECT_EQ(dlg.m_pAggregateCombo, nullptr);
        EXPECT_TRUE(dlg.findChildren<QComboBox*>(QString::number(IDC_RUNTIME_COMBO)).isEmpty());
        EXPECT_EQ(dlg.m_pAggregateIds, nullptr);
        EXPECT_EQ(dlg.m_pItemAggregates, nullptr);
        ExpectNoTaskMemLeft();
    }
}

TEST_F(ReadProcessedDlgTest, MillisecondsAreValidatedBeforeAnythingIsHandedOver) {
    CReadProcessedDlg dlg;
    dlg.m_pServerPane = &m_host;
    const int r = RunModal<CReadProcessedDlg>(dlg, [&](CReadProcessedDlg& d) {
        dlg::GetDlgItem<QLineEdit>(&d, IDC_END_MS)->setText("1000");
        Press(&d, IDOK);
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(d.m_pItemAggregates, nullptr);
        EXPECT_NE(d.m_pAggregateCombo, nullptr);  // still usable
        dlg::GetDlgItem<QLineEdit>(&d, IDC_END_MS)->setText("500");
        Press(&d, IDOK);
    });
    ASSERT_EQ(r, QDialog::Accepted);
    ASSERT_EQ(m_messages.messages.size(), 1u);
    EXPECT_EQ(m_messages.messages[0].text, u"Please enter a whole number between 0 and 999.");
    EXPECT_EQ(dlg.m_strEndTime, u"2009/02/24 13:05:07.500");
    ReleaseResults(dlg);
    ExpectNoTaskMemLeft();
}

}  // namespace
