// The Read Processed dialog against a scripted server.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>

#include "dialog_fakes.h"
#include "dialogs/readprocesseddlg.h"

namespace {

using dlgtest::Column;
using dlgtest::Entries;
using dlgtest::List;
using dlgtest::Press;

class ReadProcessedDlgTest : public dlgtest::DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        FixNow(Ticks(2009, 2, 24, 13, 5, 7), 0);
        m_server = new dlgtest::FakeHdaServer;
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
    // Runs a dialog on the fake pane; after OK returns the aggregate ids handed over (and releases
    // them as the read would).
    int Run(const std::function<void(CReadProcessedDlg&)>& act, std::vector<DWORD>* pAggregates = nullptr,
            ULONGLONG* pInterval = nullptr) {
        CReadProcessedDlg dlg;
        dlg.m_pServerPane = &m_host;
        const int r = dlgtest::RunModal(dlg, act);
        // Every way out: no drop-down list and no server memory left with the dialog.
        EXPECT_EQ(dlg.m_pItemCombo, nullptr);
        EXPECT_EQ(dlg.m_pAggregateCombo, nullptr);
        EXPECT_TRUE(dlg.findChildren<QComboBox*>(QString::number(IDC_RUNTIME_COMBO)).isEmpty());
        EXPECT_TRUE(dlg.m_aggregates.empty());
        EXPECT_EQ(!dlg.m_itemAggregates.empty(), r == QDialog::Accepted);
        if (r == QDialog::Accepted) {
            EXPECT_EQ(dlg.m_strStartTime, u"2009/02/24 12:55:07.000");
            EXPECT_EQ(dlg.m_strEndTime, u"2009/02/24 13:05:07.000");
            EXPECT_EQ(dlg.m_itemAggregates.size(), m_host.items.size());
            if (pAggregates) *pAggregates = dlg.m_itemAggregates;
            if (pInterval) *pInterval = FileTimeToU64(dlg.m_ftResampleInterval);
        }
        return r;
    }

    dlgtest::FakeHdaServer* m_server = nullptr;
    dlgtest::FakeHost m_host;
};

TEST_F(ReadProcessedDlgTest, OpensWithTheSelectedItemsAndTheServersAggregates) {
    QStringList seen;
    std::vector<DWORD> aggs;
    ULONGLONG interval = 0;
    const int r = Run(
        [&](CReadProcessedDlg& d) {
            dlgtest::Shot(&d, "readprocessed");
            EXPECT_EQ(d.findChildren<QComboBox*>(QString::number(IDC_RUNTIME_COMBO)).size(), 2);
            for (int c : {0, 1}) seen << Column(&d, IDC_ITEM_AGGREGATES, c).join(',');
            seen << Entries(d.m_pItemCombo).join(',') << d.m_pItemCombo->currentText();
            seen << Entries(d.m_pAggregateCombo).join(',') << d.m_pAggregateCombo->currentText();
            for (int c : {0, 1}) seen << Column(&d, IDC_SERVER_AGGREGATES, c).join(',');
            seen << dlg::GetDlgItem<QLineEdit>(&d, IDC_RESAMPLE_INTERVAL)->text()
                 << dlg::GetDlgItem<QComboBox>(&d, IDC_RESAMPLE_UNITS)->currentText();
            Press(&d, IDOK);
        },
        &aggs, &interval);
    ASSERT_EQ(r, QDialog::Accepted);
    EXPECT_EQ(seen,
              QStringList({"Plant.B,Plant.A,Plant.C", "Interpolative,Interpolative,Interpolative",
                           "Plant.B,Plant.A,Plant.C", "Plant.B", "Interpolative,Average,Maximum",
                           "Interpolative", "Interpolative,Average,Maximum",
                           "Interpolated values,Time-weighted average,Largest value", "10", "Seconds"}));
    EXPECT_EQ(aggs, (std::vector<DWORD>{1, 1, 1}));
    EXPECT_EQ(interval, 100000000ULL);
    ExpectMessages({});
    ExpectNoTaskMemLeft();
}

TEST_F(ReadProcessedDlgTest, SetButtonsWriteTheChosenAggregateAndEqualNamesResolveToTheFirst) {
    m_server->aggregates = List({{2, u"Avg", u""}, {9, u"Avg", u""}, {5, u"Min", u""}});
    QStringList rows;
    std::vector<DWORD> aggs;
    ASSERT_EQ(Run(
                  [&](CReadProcessedDlg& d) {
                      d.m_pAggregateCombo->setCurrentIndex(2);  // Min
                      Press(&d, IDC_SET_ALL_ITEMS);
                      // The row chosen in the item box changes, not the row highlighted in the list.
                      auto* list = dlg::GetDlgItem<QTreeWidget>(&d, IDC_ITEM_AGGREGATES);
                      list->setCurrentItem(list->topLevelItem(2));
                      d.m_pItemCombo->setCurrentIndex(1);
                      d.m_pAggregateCombo->setCurrentIndex(1);  // the second "Avg"
                      Press(&d, IDC_SET_SELECTED_ITEM);
                      rows = Column(&d, IDC_ITEM_AGGREGATES, 1);
                      Press(&d, IDOK);
                  },
                  &aggs),
              QDialog::Accepted);
    EXPECT_EQ(rows, QStringList({"Min", "Avg", "Min"}));
    EXPECT_EQ(aggs, (std::vector<DWORD>{5, 2, 5}));
    ExpectNoTaskMemLeft();
}

TEST_F(ReadProcessedDlgTest, ResampleIntervalIsTheNumberTimesTheTicksOfItsUnit) {
    struct Case {
        const char* number;
        int unit;           // position selected, -1: none
        const char* typed;  // or text typed into the box
        long long ticks;    // -1: refused, the dialog stays open
    } cases[] = {
        {"10", 1, nullptr, 100000000LL},
        {"3", 3, nullptr, 108000000000LL},
        {"2", -1, nullptr, 1728000000000LL},  // nothing selected: days
        {"5", 0, nullptr, 50000LL},
        {"7", 2, nullptr, 4200000000LL},
        {"2147483647", 2, nullptr, 2147483647LL * 600000000LL},
        {"10675199", 4, nullptr, 10675199LL * 864000000000LL},
        {"4", -1, "minutes", 2400000000LL},  // a unit typed by its name
        {"4", -1, "Weeks", -1},              // names no unit
        {"10675200", 4, nullptr, -1},        // more ticks than 64 bits hold
        {"2147483648", 1, nullptr, -1},      // more than 32 bits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.number << " unit " << c.unit << " " << (c.typed ? c.typed : ""));
        m_messages.clear();
        ULONGLONG interval = 0;
        const int r = Run(
            [&](CReadProcessedDlg& d) {
                dlg::GetDlgItem<QLineEdit>(&d, IDC_RESAMPLE_INTERVAL)->setText(QString::fromLatin1(c.number));
                auto* units = dlg::GetDlgItem<QComboBox>(&d, IDC_RESAMPLE_UNITS);
                units->setCurrentIndex(c.unit);
                if (c.typed) units->setEditText(QString::fromLatin1(c.typed));
                Press(&d, IDOK);
                EXPECT_EQ(d.isVisible(), c.ticks < 0);
            },
            nullptr, &interval);
        EXPECT_EQ(r == QDialog::Accepted, c.ticks >= 0);
        EXPECT_EQ(m_messages.size(), c.ticks < 0 ? 1u : 0u);
        if (c.ticks >= 0) {
            EXPECT_EQ(static_cast<long long>(interval), c.ticks);
        }
    }
    ExpectNoTaskMemLeft();
}

TEST_F(ReadProcessedDlgTest, WithoutAggregatesOkRefusesAndEndsAsCancelled) {
    dlgtest::ListAnswer failing = List({{1, u"Average", u""}});  // arrays that come with a failure
    failing.hr = E_FAIL;
    dlgtest::ListAnswer nullArrays;
    nullArrays.count = 5;
    struct Case {
        dlgtest::ListAnswer answer;
        std::vector<std::u16string> messages;
    } cases[] = {
        {List({}), {u"Unable to perform ReadProcessed, No Aggregates Exist"}},
        {failing,
         {u"Error retrieving server aggregates, Error Code =  80004005",
          u"Unable to perform ReadProcessed, No Aggregates Exist"}},
        {nullArrays, {u"Unable to perform ReadProcessed, No Aggregates Exist"}},
    };
    for (const Case& c : cases) {
        m_messages.clear();
        m_server->aggregates = c.answer;
        QStringList rows;
        EXPECT_EQ(Run([&](CReadProcessedDlg& d) {
                      rows << Column(&d, IDC_ITEM_AGGREGATES, 1) << Column(&d, IDC_SERVER_AGGREGATES, 0);
                      Press(&d, IDC_SET_ALL_ITEMS);  // nothing to set
                      Press(&d, IDOK);
                      EXPECT_FALSE(d.isVisible());
                  }),
                  QDialog::Rejected);
        EXPECT_EQ(rows, QStringList({"", "", ""}));
        std::vector<std::u16string> got;
        for (const auto& m : m_messages) {
            got.push_back(m.text);
            EXPECT_EQ(m.caption, u"Error");
        }
        EXPECT_EQ(got, c.messages);
        ExpectNoTaskMemLeft();
    }
}

TEST_F(ReadProcessedDlgTest, AMisbehavingServersListIsReadNoFurtherThanItsArraysAndAllReleased) {
    // Claims four; two ids, three names (one null), no descriptions.
    dlgtest::ListAnswer a;
    a.count = 4;
    a.ids = std::vector<DWORD>{3, 9};
    a.names = std::vector<dlgtest::OptStr>{u"Average", std::nullopt, u"Orphan"};
    // Claims one of arrays of two: what lies beyond the count is never touched (null here, so that a
    // leak check can hold).
    dlgtest::ListAnswer b = List({{1, u"One", u"first"}, {2, u"", u""}});
    b.count = 1;
    (*b.names)[1] = (*b.descs)[1] = std::nullopt;

    struct Case {
        dlgtest::ListAnswer answer;
        QStringList names;
        std::vector<DWORD> chosen;  // after picking the last aggregate for the first item
    } cases[] = {
        {a, {"Average", "(no name, ID 9)"}, {9, 3, 3}},
        {b, {"One"}, {1, 1, 1}},
    };
    for (const Case& c : cases) {
        m_server->aggregates = c.answer;
        QStringList names;
        std::vector<DWORD> aggs;
        ASSERT_EQ(Run(
                      [&](CReadProcessedDlg& d) {
                          names = Entries(d.m_pAggregateCombo);
                          d.m_pAggregateCombo->setCurrentIndex(d.m_pAggregateCombo->count() - 1);
                          Press(&d, IDC_SET_SELECTED_ITEM);
                          Press(&d, IDOK);
                      },
                      &aggs),
                  QDialog::Accepted);
        EXPECT_EQ(names, c.names);
        EXPECT_EQ(aggs, c.chosen);
        ExpectNoTaskMemLeft();
    }
}

TEST_F(ReadProcessedDlgTest, EveryWayOutReleasesWhatTheDialogHeld) {
    EXPECT_EQ(Run([](CReadProcessedDlg& d) { Press(&d, IDCANCEL); }), QDialog::Rejected);
    EXPECT_EQ(Run([](CReadProcessedDlg& d) { d.close(); }), QDialog::Rejected);  // the close box
    EXPECT_EQ(Run([](CReadProcessedDlg& d) {
                  dlg::GetDlgItem<QLineEdit>(&d, IDC_END_MS)->setText("1000");
                  Press(&d, IDOK);  // refused: still open, nothing handed over
                  EXPECT_TRUE(d.isVisible());
                  EXPECT_TRUE(d.m_itemAggregates.empty());
              }),
              QDialog::Rejected);
    ExpectMessages({u"Please enter a whole number between 0 and 999."});
    ExpectNoTaskMemLeft();
}

}  // namespace
