// The timestamp-list dialog of Read At Time and Delete At Time: a list of local moments, newest added
// on top, handed over as UTC FILETIMEs.
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>
#include <vector>

#include "com/types.h"
#include "dialogs/dlgkit.h"

class QGroupBox;
class QPushButton;
class QTreeWidget;

class CReadAtTimeDlg : public QDialog {
    Q_OBJECT
public:
    enum { IDD = IDD_READATTIME };
    explicit CReadAtTimeDlg(QWidget* pParent = nullptr);

    // Applies the mode, sets the pickers to now and runs the dialog.
    int exec() override;

    // Set by the caller before exec().
    bool m_bDeleteMode = false;
    LONG m_nItemCount = 0;  // delete mode: the number n of selected items
    // The clock the time boxes show and the time texts are read on; set by the caller.
    client::TimeBasis m_timeBasis = client::TimeBasis::LocalCurrentBias;

    // Bound to the pickers and the milliseconds box.
    std::int64_t m_timeDate = 0;   // seconds since 1970, UTC
    std::int64_t m_timeClock = 0;  // seconds since 1970, UTC
    UINT m_nMilliseconds = 0;

    // Results after OK. Read mode: one UTC moment per row, top row first. Delete mode: the top row's
    // moment n times, then the next row's n times, ...
    std::vector<FILETIME> m_timeStamps;

protected:
    void OnInitDialog();
    void OnAddTimestamp();
    void OnRemoveTimestamp();
    void OnOK();
    bool UpdateData(bool bSaveAndValidate);

private:
    dlg::MomentBoxes m_moment;
    QGroupBox* m_pListGroup = nullptr;
    QTreeWidget* m_pList = nullptr;
    QPushButton* m_pAdd = nullptr;
    QPushButton* m_pRemove = nullptr;
    QPushButton* m_pOk = nullptr;
};
