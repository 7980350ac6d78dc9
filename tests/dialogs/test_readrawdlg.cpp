// The Read Raw dialog driven as a user would.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QTest>

#include "dialog_fakes.h"
#include "dialogs/readrawdlg.h"

namespace {

using dlgtest::Press;
using dlgtest::RunModal;

class ReadRawDlgTest : public dlgtest::DialogTest {
protected:
    static QLineEdit* Edit(QWidget* d, int id) { return dlg::GetDlgItem<QLineEdit>(d, id); }
    static QCheckBox* Check(QWidget* d, int id) { return dlg::GetDlgItem<QCheckBox>(d, id); }
};

TEST_F(ReadRawDlgTest, OpensOnTheLastTenMinutesEvenJustAfterMidnight) {
    struct Case {
        ULONGLONG nowUtc;
        const char16_t *start, *end;
    } cases[] = {
        {Ticks(2009, 2, 24, 12, 5, 7), u"2009/02/24 12:55:07.000", u"2009/02/24 13:05:07.000"},
        // 00:05 local: ten minutes back is the day before, never later on the same day than the end.
        {Ticks(2009, 2, 23, 23, 5, 0), u"2009/02/23 23:55:00.000", u"2009/02/24 00:05:00.000"},
    };
    for (const auto& c : cases) {
        FixNow(c.nowUtc, -60);  // UTC+1
        CReadRawDlg dlg;
        QStringList boxes;
        ASSERT_EQ(
            RunModal<CReadRawDlg>(dlg,
                                  [&](CReadRawDlg& d) {
                                      dlgtest::Shot(&d, "readraw");
                                      for (int id : {IDC_START_MS, IDC_END_MS, IDC_MAX_VALUES})
                                          boxes << Edit(&d, id)->text();
                                      for (int id : {IDC_USE_START_TIME, IDC_USE_END_TIME, IDC_GET_BOUNDS})
                                          boxes << (Check(&d, id)->isChecked() ? "ticked" : "clear");
                                      Press(&d, IDOK);
                                  }),
            QDialog::Accepted);
        EXPECT_EQ(boxes, QStringList({"0", "0", "0", "ticked", "ticked", "ticked"}));
        EXPECT_EQ(dlg.m_strStartTime, c.start);
        EXPECT_EQ(dlg.m_strEndTime, c.end);
        EXPECT_TRUE(dlg.m_bUseStartTime && dlg.m_bUseEndTime && dlg.m_bGetBounds);
        EXPECT_EQ(dlg.m_nMaxValues, 0u);
    }
    ExpectMessages({});
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
        m_messages.clear();
        CReadRawDlg dlg;
        const int r = RunModal<CReadRawDlg>(dlg, [&](CReadRawDlg& d) {
            Check(&d, IDC_USE_START_TIME)->setChecked(c.useStart);
            Check(&d, IDC_USE_END_TIME)->setChecked(c.useEnd);
            Check(&d, IDC_GET_BOUNDS)->setChecked(false);
            Edit(&d, IDC_MAX_VALUES)->setText(QString::fromLatin1(c.max));
            Press(&d, IDOK);
            EXPECT_EQ(d.isVisible(), !c.accepted);
        });
        if (!c.accepted) {
            EXPECT_EQ(r, QDialog::Rejected);  // cancelled by the driver afterwards
            ExpectMessages({u"You must specify two of three of Start Time, EndTime and Max Values"});
            EXPECT_EQ(m_messages[0].caption, u"Cannot Perform Operation");
            continue;
        }
        ASSERT_EQ(r, QDialog::Accepted);
        ExpectMessages({});
        EXPECT_EQ(dlg.m_bUseStartTime, c.useStart ? TRUE : FALSE);
        EXPECT_EQ(dlg.m_bUseEndTime, c.useEnd ? TRUE : FALSE);
        EXPECT_EQ(dlg.m_nMaxValues, QByteArray(c.max).toUInt());
        EXPECT_EQ(dlg.m_bGetBounds, FALSE);
        // Both texts whatever the boxes say: the read decides what is in use.
        EXPECT_EQ(dlg.m_strStartTime, u"2009/02/24 12:55:07.000");
        EXPECT_EQ(dlg.m_strEndTime, u"2009/02/24 13:05:07.000");
    }
}

TEST_F(ReadRawDlgTest, NumbersOutsideTheirRangeAreRefusedAndKeptForCorrecting) {
    FixNow(Ticks(2009, 2, 24, 13, 5, 7), 0);
    CReadRawDlg dlg;
    const int r = RunModal<CReadRawDlg>(dlg, [&](CReadRawDlg& d) {
        QLineEdit* startMs = Edit(&d, IDC_START_MS);
        startMs->clear();
        QTest::keyClicks(startMs, "1x0-0.0");  // only digits get in
        EXPECT_EQ(startMs->text(), "1000");
        Press(&d, IDOK);
        EXPECT_EQ(startMs->selectedText(), "1000");

        startMs->setText("999");
        Edit(&d, IDC_END_MS)->setText("");  // no number at all
        Press(&d, IDOK);
        Edit(&d, IDC_END_MS)->setText("007");
        Edit(&d, IDC_MAX_VALUES)->setText("4294967296");
        Press(&d, IDOK);
        EXPECT_TRUE(d.isVisible());
        EXPECT_TRUE(dlg.m_strStartTime.empty());
        Edit(&d, IDC_MAX_VALUES)->setText("4294967295");
        Press(&d, IDOK);
    });
    ASSERT_EQ(r, QDialog::Accepted);
    ExpectMessages({u"Please enter a whole number between 0 and 999.",
                    u"Please enter a whole number between 0 and 999.",
                    u"Please enter a whole number between 0 and 4294967295."});
    EXPECT_EQ(dlg.m_nMaxValues, 4294967295u);
    EXPECT_EQ(dlg.m_strStartTime, u"2009/02/24 12:55:07.999");
    EXPECT_EQ(dlg.m_strEndTime, u"2009/02/24 13:05:07.007");
}

}  // namespace
