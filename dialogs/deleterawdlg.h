// The Delete Raw dialog: the start and end of the range to delete, both always given.
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>

#include "com/types.h"
#include "dialogs/dlgkit.h"

class CDeleteRawDlg : public QDialog {
    Q_OBJECT
public:
    explicit CDeleteRawDlg(QWidget* pParent = nullptr);

    // Sets the boxes to the last ten minutes and runs the dialog.
    int exec() override;

    // Results after OK: local time texts.
    std::u16string m_strStartTime;
    std::u16string m_strEndTime;
    // The clock the time boxes show and the time texts are read on; set by the caller.
    client::TimeBasis m_timeBasis = client::TimeBasis::LocalCurrentBias;

    // Bound to the clock boxes and the milliseconds boxes.
    std::int64_t m_timeStart = 0;  // seconds since 1970, UTC
    std::int64_t m_timeEnd = 0;    // seconds since 1970, UTC
    UINT m_nStartMs = 0;
    UINT m_nEndMs = 0;

protected:
    void OnInitDialog();
    void OnOK();
    bool UpdateData(bool bSaveAndValidate);

private:
    dlg::MomentBoxes m_start;
    dlg::MomentBoxes m_end;
};
