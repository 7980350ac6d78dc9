// The Delete Raw dialog.
#include <gtest/gtest.h>

#include <QDateEdit>
#include <QLineEdit>

#include "dialog_fakes.h"
#include "dialogs/deleterawdlg.h"

namespace {

using dlgtest::Press;
using dlgtest::RunModal;

class DeleteRawDlgTest : public dlgtest::DialogTest {};

TEST_F(DeleteRawDlgTest, OpensOnTheLastTenMinutesEvenJustAfterMidnight) {
    struct Case {
        ULONGLONG nowUtc;
        const char16_t *start, *end;
    } cases[] = {
        {Ticks(2009, 2, 24, 12, 5, 7), u"2009/02/24 12:55:07.000", u"2009/02/24 13:05:07.000"},
        // 00:05 local: the start is ten minutes back on the day before, not later on the same day.
        {Ticks(2009, 2, 23, 23, 5, 0), u"2009/02/23 23:55:00.000", u"2009/02/24 00:05:00.000"},
    };
    for (const auto& c : cases) {
        FixNow(c.nowUtc, -60);  // UTC+1
        CDeleteRawDlg dlg;
        QStringList captions;
        ASSERT_EQ(RunModal<CDeleteRawDlg>(dlg,
                                          [&](CDeleteRawDlg& d) {
                                              dlgtest::Shot(&d, "deleteraw");
                                              captions << d.windowTitle()
                                                       << dlg::GetDlgItem<QPushButton>(&d, IDOK)->text()
                                                       << dlg::GetDlgItem<QLineEdit>(&d, IDC_START_MS)->text()
                                                       << dlg::GetDlgItem<QLineEdit>(&d, IDC_END_MS)->text();
                                              Press(&d, IDOK);
                                          }),
                  QDialog::Accepted);
        EXPECT_EQ(captions, QStringList({"Delete Raw", "Delete Raw", "0", "0"}));
        EXPECT_EQ(dlg.m_strStartTime, c.start);
        EXPECT_EQ(dlg.m_strEndTime, c.end);
    }
    ExpectMessages({});
}

TEST_F(DeleteRawDlgTest, MillisecondsAreValidatedAndAStartAfterTheEndIsKept) {
    FixNow(Ticks(2009, 2, 24, 13, 5, 7), 0);
    CDeleteRawDlg dlg;
    const int r = RunModal<CDeleteRawDlg>(dlg, [&](CDeleteRawDlg& d) {
        dlg::GetDlgItem<QLineEdit>(&d, IDC_END_MS)->setText("1000");
        Press(&d, IDOK);
        EXPECT_TRUE(d.isVisible());
        dlg::GetDlgItem<QLineEdit>(&d, IDC_END_MS)->setText("7");
        dlg::GetDlgItem<QLineEdit>(&d, IDC_START_MS)->setText("250");
        dlg::GetDlgItem<QDateEdit>(&d, IDC_START_DATE)->setDate(QDate(2009, 2, 25));
        Press(&d, IDOK);
    });
    ASSERT_EQ(r, QDialog::Accepted);
    ExpectMessages({u"Please enter a whole number between 0 and 999."});
    EXPECT_EQ(dlg.m_strStartTime, u"2009/02/25 12:55:07.250");
    EXPECT_EQ(dlg.m_strEndTime, u"2009/02/24 13:05:07.007");
}

}  // namespace
