// The Read Raw dialog driven as a user would: defaults, the two-of-three rule, number validation.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimeEdit>

#include "dialog_fakes.h"
#include "dialogs/readrawdlg.h"

namespace {

using dlgtest::DialogTest;
using dlgtest::RunModal;

class ReadRawDlgTest : public DialogTest {
protected:
    static QLineEdit* Edit(QWidget* d, int id) { return dlg::GetDlgItem<QLineEdit>(d, id); }
    static QCheckBox* Check(QWidget* d, int id) { return dlg::GetDlgItem<QCheckBox>(d, id); }
    static void Press(QWidget* d, int id) { dlg::GetDlgItem<QPushButton>(d, id)->click(); }
};

TEST_F(ReadRawDlgTest, OpensWithTheLastTenMinutesBothTimesInUseAndBounds) {
    FixNow(Ticks(2009, 2, 24, 12, 5, 7), -60);  // 13:05:07 local
    CReadRawDlg dlg;
    std::vector<bool> ticked;
    QString maxText, startMs, endMs, title, okText;
    const int r = RunModal<CReadRawDlg>(dlg, [&](CReadRawDlg& d) {
        dlgtest::Shot(&d, "readraw");
        title = d.windowTitle();
        okText = dlg::GetDlgItem<QPushButton>(&d, IDOK)->text();
        for (int id : {IDC_USE_START_TIME, IDC_USE_END_TIME, IDC_GET_BOUNDS}) ticked.push_back(Check(&d, id)->isChecked());
        maxText = Edit(&d, IDC_MAX_VALUES)->text();
        startMs = Edit(&d, IDC_START_MS)->text();
        endMs = Edit(&d, IDC_END_MS)->text();
        Press(&d, IDOK);
    });
    ASSERT_EQ(r, QDialog::Accepted);
    EXPECT_EQ(title, "Read Raw");
    EXPECT_EQ(okText, "Read Raw");
    EXPECT_EQ(ticked, (std::vector<bool>{true, true, true}));
    EXPECT_EQ(maxText, "0");
    EXPECT_EQ(startMs, "0");
    EXPECT_EQ(endMs, "0");
    EXPECT_EQ(dlg.m_strStartTime, u"2009/02/24 12:55:07.000");
    EXPECT_EQ(dlg.m_strEndTime, u"2009/02/24 13:05:07.000");
    EXPECT_EQ(dlg.m_bUseStartTime, TRUE);
    EXPECT_EQ(dlg.m_bUseEndTime, TRUE);
    EXPECT_EQ(dlg.m_nMaxValues, 0u);
    EXPECT_EQ(dlg.m_bGetBounds, TRUE);
    EXPECT_TRUE(m_messages.messages.empty());
}

TEST_F(ReadRawDlgTest, JustAfterMidnightTheDefaultStartIsOnThePreviousDay) {
    // 00:05 local: ten minutes back is 23:55 of the day before, not of the same day (which would put
    // the start after the end).
    FixNow(Ticks(2009, 2, 23, 23, 5, 0), -60);
    CReadRawDlg dlg;
    ASSERT_EQ(RunModal<CReadRawDlg>(dlg, [](CReadRawDlg& d) { Press(&d, IDOK); }), QDialog::Accepted);
    EXPECT_EQ(dlg.m_strStartTime, u"2009/02/23 23:55:00.000");
    EXPECT_EQ(dlg.m_strEndTime, u"2009/02/24 00:05:00.000");
    EXPECT_LT(dlg.m_strStartTime, dlg.m_strEndTime);
}

TEST_F(ReadRawDlgTest, TwoOfStartEndAndMaximumMustBeGiven) {
    FixNow(Ticks(2009, 2, 24, 13, 5, 7), 0);
    struct Case {
        bool useStart, useEnd;
        const char* max;
        bool accepted;
    } cases[] = {
        {false, false, "5", false}, {true, false, "0", false}, {false, true, "0", false},
        {false, false, "0", false}, {true, true, "0", true},   {true, false, "5", true},
        {false, true, "5", true},   {true, true, "5", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.useStart << c.useEnd << " max " << c.max);
        m_messages.messages.clear();
        CReadRawDlg dlg;
        bool stayedOpen = false;
        const int r = RunModal<CReadRawDlg>(dlg, [&](CReadRawDlg& d) {
            Check(&d, IDC_USE_START_TIME)->setChecked(c.useStart);
            Check(&d, IDC_USE_END_TIME)->setChecked(c.useEnd);
            Check(&d, IDC_GET_BOUNDS)->setChecked(false);
            Edit(&d, IDC_MAX_VALUES)->setText(QString::fromLatin1(c.max));
            Press(&d, IDOK);
            stayedOpen = d.isVisible();
        });
        if (c.accepted) {
            EXPECT_EQ(r, QDialog::Accepted);
            EXPECT_TRUE(m_messages.messages.empty());
            EXPECT_EQ(dlg.m_bUseStartTime, c.useStart ? TRUE : FALSE);
            EXPECT_EQ(dlg.m_bUseEndTime, c.useEnd ? TRUE : FALSE);
            EXPECT_EQ(dlg.m_nMaxValues, QByteArray(c.max).toUInt());
            EXPECT_EQ(dlg.m_bGetBounds, FALSE);
            // Both texts are composed whatever the boxes say; the caller decides what is in use.
            EXPECT_EQ(dlg.m_strStartTime, u"2009/02/24 12:55:07.000");
            EXPECT_EQ(dlg.m_strEndTime, u"2009/02/24 13:05:07.000");
        } else {
            EXPECT_TRUE(stayedOpen);
            EXPECT_EQ(r, QDialog::Rejected);  // closed by the driver afterwards
            ASSERT_EQ(m_messages.messages.size(), 1u);
            EXPECT_EQ(m_messages.messages[0].text, u"You must specify two of three of Start Time, EndTime and Max Values");
            EXPECT_EQ(m_messages.messages[0].caption, u"Cannot Perform Operation");
            EXPECT_EQ(m_messages.messages[0].icon, hda::MsgIcon::Exclamation);
            EXPECT_TRUE(dlg.m_strStartTime.empty());
        }
    }
}

TEST_F(ReadRawDlgTest, NumbersOutsideTheirRangeAreRefusedAndTheDialogKeepsItsEntries) {
    FixNow(Ticks(2009, 2, 24, 13, 5, 7), 0);
    CReadRawDlg dlg;
    const int r = RunModal<CReadRawDlg>(dlg, [&](CReadRawDlg& d) {
        QLineEdit* startMs = Edit(&d, IDC_START_MS);
        QLineEdit* endMs = Edit(&d, IDC_END_MS);
        QLineEdit* max = Edit(&d, IDC_MAX_VALUES);
        // Only digits get into the boxes.
        startMs->clear();
        QTest::keyClicks(startMs, "1x0-0.0");
        EXPECT_EQ(startMs->text(), "1000");

        Press(&d, IDOK);  // 1000 ms
        ASSERT_TRUE(d.isVisible());
        ASSERT_EQ(m_messages.messages.size(), 1u);
        EXPECT_EQ(m_messages.messages[0].text, u"Please enter a whole number between 0 and 999.");
        EXPECT_EQ(m_messages.messages[0].icon, hda::MsgIcon::Exclamation);
        EXPECT_TRUE(dlg.m_strStartTime.empty());
        EXPECT_EQ(startMs->text(), "1000");  // kept for correcting
        EXPECT_EQ(startMs->selectedText(), "1000");

        startMs->setText("999");
        endMs->setText("");  // empty is no number
        Press(&d, IDOK);
        ASSERT_TRUE(d.isVisible());
        ASSERT_EQ(m_messages.messages.size(), 2u);
        EXPECT_EQ(m_messages.messages[1].text, u"Please enter a whole number between 0 and 999.");

        endMs->setText("007");
        max->setText("4294967296");  // one past 32 bits
        Press(&d, IDOK);
        ASSERT_TRUE(d.isVisible());
        ASSERT_EQ(m_messages.messages.size(), 3u);
        EXPECT_EQ(m_messages.messages[2].text, u"Please enter a whole number between 0 and 4294967295.");

        max->setText("4294967295");
        Press(&d, IDOK);
    });
    ASSERT_EQ(r, QDialog::Accepted);
    EXPECT_EQ(m_messages.messages.size(), 3u);
    EXPECT_EQ(dlg.m_nMaxValues, 4294967295u);
    EXPECT_EQ(dlg.m_strStartTime, u"2009/02/24 12:55:07.999");
    EXPECT_EQ(dlg.m_strEndTime, u"2009/02/24 13:05:07.007");
}

TEST_F(ReadRawDlgTest, TheMomentIsTakenFromItsDateTimeAndMillisecondBoxes) {
    FixNow(Ticks(2009, 2, 24, 13, 5, 7), 0);
    CReadRawDlg dlg;
    const int r = RunModal<CReadRawDlg>(dlg, [&](CReadRawDlg& d) {
        dlg::GetDlgItem<QDateEdit>(&d, IDC_START_DATE)->setDate(QDate(2008, 12, 31));
        dlg::GetDlgItem<QTimeEdit>(&d, IDC_START_TIME)->setTime(QTime(23, 59, 58));
        Edit(&d, IDC_START_MS)->setText("5");
        dlg::GetDlgItem<QDateEdit>(&d, IDC_END_DATE)->setDate(QDate(2009, 1, 1));
        dlg::GetDlgItem<QTimeEdit>(&d, IDC_END_TIME)->setTime(QTime(0, 0, 1));
        Edit(&d, IDC_END_MS)->setText("250");
        Press(&d, IDOK);
    });
    ASSERT_EQ(r, QDialog::Accepted);
    EXPECT_EQ(dlg.m_strStartTime, u"2008/12/31 23:59:58.005");
    EXPECT_EQ(dlg.m_strEndTime, u"2009/01/01 00:00:01.250");
    EXPECT_EQ(dlg.m_nStartMs, 5u);
    EXPECT_EQ(dlg.m_nEndMs, 250u);
}

TEST_F(ReadRawDlgTest, CancelLeavesTheResultsUntouched) {
    FixNow(Ticks(2009, 2, 24, 13, 5, 7), 0);
    CReadRawDlg dlg;
    ASSERT_EQ(RunModal<CReadRawDlg>(dlg, [](CReadRawDlg& d) { Press(&d, IDCANCEL); }), QDialog::Rejected);
    EXPECT_TRUE(dlg.m_strStartTime.empty());
    EXPECT_TRUE(dlg.m_strEndTime.empty());
    ExpectNoTaskMemLeft();
}

}  // namespace
