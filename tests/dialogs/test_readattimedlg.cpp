// The timestamp-list dialog in its read and delete modes.
#include <gtest/gtest.h>

#include <QDateEdit>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimeEdit>
#include <QTreeWidget>
#include <cstdlib>

#include "dialog_fakes.h"
#include "dialogs/readattimedlg.h"

namespace {

using dlgtest::DialogTest;
using dlgtest::RunModal;

class ReadAtTimeDlgTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        FixNow(Ticks(2009, 2, 24, 12, 5, 7), -60);  // 13:05:07 local, UTC+1
    }
    static QTreeWidget* List(QWidget* d) { return dlg::GetDlgItem<QTreeWidget>(d, IDC_TIMESTAMP_LIST); }
    static void Press(QWidget* d, int id) { dlg::GetDlgItem<QPushButton>(d, id)->click(); }
    static QStringList Rows(QWidget* d) {
        QStringList out;
        for (int r = 0; r < List(d)->topLevelItemCount(); ++r) out << List(d)->topLevelItem(r)->text(0);
        return out;
    }
    // Enters a local moment and presses "Add Timestamp".
    static void Add(QWidget* d, QDate date, QTime time, const char* ms) {
        dlg::GetDlgItem<QDateEdit>(d, IDC_TIMESTAMP_DATE)->setDate(date);
        dlg::GetDlgItem<QTimeEdit>(d, IDC_TIMESTAMP_TIME)->setTime(time);
        dlg::GetDlgItem<QLineEdit>(d, IDC_TIMESTAMP_MS)->setText(QString::fromLatin1(ms));
        Press(d, IDC_ADD_TIMESTAMP);
    }
    static std::vector<ULONGLONG> Stamps(const CReadAtTimeDlg& d) {
        std::vector<ULONGLONG> out;
        for (LONG i = 0; i < d.m_nTimeStamps; ++i) out.push_back(FileTimeToU64(d.m_pTimeStamps[i]));
        return out;
    }
};

TEST_F(ReadAtTimeDlgTest, NewestAddedIsOnTopAndHandedOverFirstAsUtc) {
    CReadAtTimeDlg dlg;
    QStringList rows;
    QString initial, title, okText, group;
    const int r = RunModal<CReadAtTimeDlg>(dlg, [&](CReadAtTimeDlg& d) {
        title = d.windowTitle();
        okText = dlg::GetDlgItem<QPushButton>(&d, IDOK)->text();
        group = dlg::GetDlgItem<QGroupBox>(&d, IDC_TIMESTAMP_GROUP)->title();
        Press(&d, IDC_ADD_TIMESTAMP);  // the pickers' own moment: now
        initial = Rows(&d).value(0);
        delete List(&d)->topLevelItem(0);
        const QDate day(2009, 2, 24);
        Add(&d, day, QTime(10, 0, 0), "0");
        Add(&d, day, QTime(11, 0, 0), "5");
        Add(&d, day, QTime(12, 0, 0), "999");
        Add(&d, day, QTime(12, 0, 0), "999");  // the same moment twice is fine
        rows = Rows(&d);
        dlgtest::Shot(&d, "readattime");
        Press(&d, IDOK);
    });
    ASSERT_EQ(r, QDialog::Accepted);
    EXPECT_EQ(title, "Read At Time");
    EXPECT_EQ(okText, "Read At Time");
    EXPECT_EQ(group, "Timestamps To Read");
    EXPECT_EQ(initial, "2009/02/24 13:05:07.000");
    EXPECT_EQ(rows, QStringList({"2009/02/24 12:00:00.999", "2009/02/24 12:00:00.999", "2009/02/24 11:00:00.005",
                                 "2009/02/24 10:00:00.000"}));
    EXPECT_EQ(Stamps(dlg), (std::vector<ULONGLONG>{Ticks(2009, 2, 24, 11, 0, 0, 999), Ticks(2009, 2, 24, 11, 0, 0, 999),
                                                   Ticks(2009, 2, 24, 10, 0, 0, 5), Ticks(2009, 2, 24, 9, 0, 0)}));
    std::free(dlg.m_pTimeStamps);
    ExpectNoTaskMemLeft();
}

TEST_F(ReadAtTimeDlgTest, DeleteModeRepeatsEachMomentOncePerSelectedItem) {
    CReadAtTimeDlg dlg;
    dlg.m_bDeleteMode = true;
    dlg.m_nItemCount = 2;
    QString title, okText, group;
    const int r = RunModal<CReadAtTimeDlg>(dlg, [&](CReadAtTimeDlg& d) {
        title = d.windowTitle();
        okText = dlg::GetDlgItem<QPushButton>(&d, IDOK)->text();
        group = dlg::GetDlgItem<QGroupBox>(&d, IDC_TIMESTAMP_GROUP)->title();
        const QDate day(2009, 2, 24);
        Add(&d, day, QTime(10, 0, 0), "0");
        Add(&d, day, QTime(11, 0, 0), "0");
        Add(&d, day, QTime(12, 0, 0), "0");
        dlgtest::Shot(&d, "deleteattime");
        Press(&d, IDOK);
    });
    ASSERT_EQ(r, QDialog::Accepted);
    EXPECT_EQ(title, "Delete At Time");
    EXPECT_EQ(okText, "Delete At Time");
    EXPECT_EQ(group, "Timestamps To Delete");
    const ULONGLONG t1 = Ticks(2009, 2, 24, 11, 0, 0), t2 = Ticks(2009, 2, 24, 10, 0, 0),
                    t3 = Ticks(2009, 2, 24, 9, 0, 0);
    EXPECT_EQ(Stamps(dlg), (std::vector<ULONGLONG>{t1, t1, t2, t2, t3, t3}));
    std::free(dlg.m_pTimeStamps);
}

TEST_F(ReadAtTimeDlgTest, RemoveTakesTheSelectedRowOnlyAndNothingWithoutASelection) {
    CReadAtTimeDlg dlg;
    QStringList beforeRemove, afterNothing, afterRemove;
    RunModal<CReadAtTimeDlg>(dlg, [&](CReadAtTimeDlg& d) {
        const QDate day(2009, 2, 24);
        for (int h : {10, 11, 12}) Add(&d, day, QTime(h, 0, 0), "0");
        beforeRemove = Rows(&d);
        List(&d)->clearSelection();
        Press(&d, IDC_REMOVE_TIMESTAMP);
        afterNothing = Rows(&d);
        List(&d)->setCurrentItem(List(&d)->topLevelItem(1));
        Press(&d, IDC_REMOVE_TIMESTAMP);
        afterRemove = Rows(&d);
        EXPECT_TRUE(List(&d)->selectedItems().isEmpty());
        Press(&d, IDOK);
    });
    EXPECT_EQ(afterNothing, beforeRemove);
    EXPECT_EQ(afterRemove, QStringList({"2009/02/24 12:00:00.000", "2009/02/24 10:00:00.000"}));
    EXPECT_EQ(dlg.m_nTimeStamps, 2);
    std::free(dlg.m_pTimeStamps);
}

TEST_F(ReadAtTimeDlgTest, EmptyListOrBadMillisecondsHandOverNothing) {
    CReadAtTimeDlg dlg;
    const int r = RunModal<CReadAtTimeDlg>(dlg, [&](CReadAtTimeDlg& d) {
        Press(&d, IDOK);  // empty: ignored, no message
        EXPECT_TRUE(d.isVisible());
        EXPECT_TRUE(m_messages.messages.empty());

        Add(&d, QDate(2009, 2, 24), QTime(10, 0, 0), "1000");
        EXPECT_TRUE(Rows(&d).isEmpty());
        ASSERT_EQ(m_messages.messages.size(), 1u);
        EXPECT_EQ(m_messages.messages[0].text, u"Please enter a whole number between 0 and 999.");

        dlg::GetDlgItem<QLineEdit>(&d, IDC_TIMESTAMP_MS)->setText("1");
        Press(&d, IDC_ADD_TIMESTAMP);
        dlg::GetDlgItem<QLineEdit>(&d, IDC_TIMESTAMP_MS)->setText("");
        List(&d)->setCurrentItem(List(&d)->topLevelItem(0));
        Press(&d, IDC_REMOVE_TIMESTAMP);  // refused: nothing removed
        EXPECT_EQ(Rows(&d).size(), 1);
        Press(&d, IDOK);                  // refused: nothing handed over
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(m_messages.messages.size(), 3u);
        EXPECT_EQ(d.m_pTimeStamps, nullptr);
    });
    EXPECT_EQ(r, QDialog::Rejected);
    EXPECT_EQ(dlg.m_pTimeStamps, nullptr);
    EXPECT_EQ(dlg.m_nTimeStamps, 0);
}

TEST_F(ReadAtTimeDlgTest, AMomentIsConvertedWithTheBiasInForceWhenOkIsPressed) {
    CReadAtTimeDlg dlg;
    RunModal<CReadAtTimeDlg>(dlg, [&](CReadAtTimeDlg& d) {
        Add(&d, QDate(2009, 7, 1), QTime(12, 0, 0), "0");  // a summer moment, entered in winter (UTC+1)
        Press(&d, IDOK);
    });
    ASSERT_EQ(dlg.m_nTimeStamps, 1);
    EXPECT_EQ(FileTimeToU64(dlg.m_pTimeStamps[0]), Ticks(2009, 7, 1, 11, 0, 0));
    std::free(dlg.m_pTimeStamps);
}

}  // namespace
