// Drivers for the dialogs of the history updates, for the server pane tests: each arms the dialog the
// command opens, fills it as a user would and confirms it (or cancels it).
#pragma once

#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QTimeEdit>
#include <vector>

#include "dialogs/deleterawdlg.h"
#include "dialogs/insertdlg.h"
#include "dialogs/readattimedlg.h"
#include "tests/serverpane/read_fixture.h"

namespace updatetest {

using readtest::Arm;
using readtest::Press;

// One row typed into the Insert dialog: a value, a local moment, a quality text.
struct Row {
    QString value;
    QDateTime local;
    QString quality = QStringLiteral("Good");
};

inline void AddRow(QWidget* d, const Row& row) {
    dlg::GetDlgItem<QLineEdit>(d, IDC_INSERT_VALUE)->setText(row.value);
    readtest::SetMoment(d, IDC_INSERT_DATE, IDC_INSERT_TIME, IDC_INSERT_MS, row.local.date(),
                        row.local.time(), row.local.time().msec());
    dlg::GetDlgItem<QComboBox>(d, IDC_INSERT_QUALITY)->setEditText(row.quality);
    Press(d, IDC_ADD_DATA_ITEM);
}

// Arms the Insert dialog: the rows are added one after the other (so the last stands on top), then
// OK, or Cancel when `confirm` is false. `title` receives the dialog's title.
inline void ArmInsert(std::vector<Row> rows, bool confirm = true, QString* title = nullptr,
                      bool* ran = nullptr) {
    Arm<CInsertDlg>(
        [rows, confirm, title](CInsertDlg& d) {
            if (title) *title = d.windowTitle();
            for (const Row& r : rows) AddRow(&d, r);
            Press(&d, confirm ? IDOK : IDCANCEL);
        },
        ran);
}

// Arms the Delete At Time dialog: the local moments are added in order (the last on top), then OK.
inline void ArmDeleteAtTime(std::vector<QDateTime> moments, QString* title = nullptr) {
    Arm<CReadAtTimeDlg>([moments, title](CReadAtTimeDlg& d) {
        if (title) *title = d.windowTitle();
        for (const QDateTime& m : moments) {
            readtest::SetMoment(&d, IDC_TIMESTAMP_DATE, IDC_TIMESTAMP_TIME, IDC_TIMESTAMP_MS, m.date(),
                                m.time(), m.time().msec());
            Press(&d, IDC_ADD_TIMESTAMP);
        }
        Press(&d, IDOK);
    });
}

// Arms the Delete Raw dialog with a local start and end.
inline void ArmDeleteRaw(QDateTime start, QDateTime end) {
    Arm<CDeleteRawDlg>([start, end](CDeleteRawDlg& d) {
        readtest::SetMoment(&d, IDC_START_DATE, IDC_START_TIME, IDC_START_MS, start.date(), start.time(),
                            start.time().msec());
        readtest::SetMoment(&d, IDC_END_DATE, IDC_END_TIME, IDC_END_MS, end.date(), end.time(),
                            end.time().msec());
        Press(&d, IDOK);
    });
}

inline QDateTime Local(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms));
}

// The headings of the result list, and its column widths.
inline QStringList Headings(COutputList* list) {
    QStringList out;
    for (int c = 0; list && c < list->GetColumnCount(); ++c)
        out << list->model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    return out;
}

}  // namespace updatetest
