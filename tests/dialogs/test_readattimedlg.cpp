// The timestamp-list dialog in its read and delete modes.
#include <gtest/gtest.h>

#include <QDateEdit>
#include <QGroupBox>
#include <QLineEdit>
#include <QTimeEdit>
#include <cstdlib>

#include "dialog_fakes.h"
#include "dialogs/readattimedlg.h"

namespace {

using dlgtest::Press;

class ReadAtTimeDlgTest : public dlgtest::DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        FixNow(Ticks(2009, 2, 24, 12, 5, 7), -60);  // 13:05:07 local, UTC+1
    }
    static QTreeWidget* List(QWidget* d) { return dlg::GetDlgItem<QTreeWidget>(d, IDC_TIMESTAMP_LIST); }
    static QStringList Rows(QWidget* d) { return dlgtest::Column(d, IDC_TIMESTAMP_LIST, 0); }
    // Enters a local moment on 24 February 2009 and presses "Add Timestamp".
    static void Add(QWidget* d, int hour, const char* ms) {
        dlg::GetDlgItem<QDateEdit>(d, IDC_TIMESTAMP_DATE)->setDate(QDate(2009, 2, 24));
        dlg::GetDlgItem<QTimeEdit>(d, IDC_TIMESTAMP_TIME)->setTime(QTime(hour, 0, 0));
        dlg::GetDlgItem<QLineEdit>(d, IDC_TIMESTAMP_MS)->setText(QString::fromLatin1(ms));
        Press(d, IDC_ADD_TIMESTAMP);
    }
    static std::vector<ULONGLONG> Stamps(const CReadAtTimeDlg& d) {
        std::vector<ULONGLONG> out;
        for (const FILETIME& ft : d.m_timeStamps) out.push_back(FileTimeToU64(ft));
        return out;
    }
};

TEST_F(ReadAtTimeDlgTest, NewestOnTopAndInDeleteModeEachMomentOncePerItem) {
    const ULONGLONG t12 = Ticks(2009, 2, 24, 11, 0, 0, 999), t11 = Ticks(2009, 2, 24, 10, 0, 0, 5),
                    t10 = Ticks(2009, 2, 24, 9, 0, 0);
    struct Case {
        bool deleteMode;
        QStringList captions;
        std::vector<ULONGLONG> stamps;
    } cases[] = {
        {false, {"Read At Time", "Timestamps To Read", "Read At Time"}, {t12, t11, t10}},
        {true, {"Delete At Time", "Timestamps To Delete", "Delete At Time"}, {t12, t12, t11, t11, t10, t10}},
    };
    for (const Case& c : cases) {
        CReadAtTimeDlg dlg;
        dlg.m_bDeleteMode = c.deleteMode;
        dlg.m_nItemCount = 2;  // used in delete mode only
        QStringList captions, rows;
        ASSERT_EQ(dlgtest::RunModal<CReadAtTimeDlg>(
                      dlg,
                      [&](CReadAtTimeDlg& d) {
                          captions << d.windowTitle()
                                   << dlg::GetDlgItem<QGroupBox>(&d, IDC_TIMESTAMP_GROUP)->title()
                                   << dlg::GetDlgItem<QPushButton>(&d, IDOK)->text();
                          Press(&d, IDC_ADD_TIMESTAMP);  // the pickers open on now
                          rows << Rows(&d);
                          delete List(&d)->topLevelItem(0);
                          Add(&d, 10, "0");
                          Add(&d, 11, "5");
                          Add(&d, 12, "999");
                          rows << Rows(&d);
                          dlgtest::Shot(&d, c.deleteMode ? "deleteattime" : "readattime");
                          Press(&d, IDOK);
                      }),
                  QDialog::Accepted);
        EXPECT_EQ(captions, c.captions);
        EXPECT_EQ(rows, QStringList({"2009/02/24 13:05:07.000", "2009/02/24 12:00:00.999",
                                     "2009/02/24 11:00:00.005", "2009/02/24 10:00:00.000"}));
        EXPECT_EQ(Stamps(dlg), c.stamps);
    }
}

TEST_F(ReadAtTimeDlgTest, RemoveTakesOnlyTheSelectedRow) {
    CReadAtTimeDlg dlg;
    QStringList afterNothing, afterRemove;
    dlgtest::RunModal<CReadAtTimeDlg>(dlg, [&](CReadAtTimeDlg& d) {
        for (int h : {10, 11, 12}) Add(&d, h, "0");
        List(&d)->clearSelection();
        Press(&d, IDC_REMOVE_TIMESTAMP);
        afterNothing = Rows(&d);
        List(&d)->setCurrentItem(List(&d)->topLevelItem(1));
        Press(&d, IDC_REMOVE_TIMESTAMP);
        afterRemove = Rows(&d);
        EXPECT_TRUE(List(&d)->selectedItems().isEmpty());
    });
    EXPECT_EQ(afterNothing.size(), 3);
    EXPECT_EQ(afterRemove, QStringList({"2009/02/24 12:00:00.000", "2009/02/24 10:00:00.000"}));
}

TEST_F(ReadAtTimeDlgTest, AnEmptyListOrBadMillisecondsHandOverNothing) {
    CReadAtTimeDlg dlg;
    const int r = dlgtest::RunModal<CReadAtTimeDlg>(dlg, [&](CReadAtTimeDlg& d) {
        Press(&d, IDOK);  // empty: ignored without a message
        EXPECT_TRUE(d.isVisible());
        EXPECT_TRUE(m_messages.empty());
        Add(&d, 10, "1000");  // refused
        EXPECT_TRUE(Rows(&d).isEmpty());
        Add(&d, 10, "1");
        dlg::GetDlgItem<QLineEdit>(&d, IDC_TIMESTAMP_MS)->setText("");
        List(&d)->setCurrentItem(List(&d)->topLevelItem(0));
        Press(&d, IDC_REMOVE_TIMESTAMP);  // refused
        EXPECT_EQ(Rows(&d).size(), 1);
        Press(&d, IDOK);  // refused
        EXPECT_TRUE(d.isVisible());
        EXPECT_TRUE(d.m_timeStamps.empty());
    });
    EXPECT_EQ(r, QDialog::Rejected);
    const std::u16string prompt = u"Please enter a whole number between 0 and 999.";
    ExpectMessages({prompt, prompt, prompt});
    EXPECT_TRUE(dlg.m_timeStamps.empty());
}

}  // namespace
