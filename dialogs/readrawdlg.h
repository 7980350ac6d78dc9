// The Read Raw dialog: a time range and/or a maximum number of values, and the bounds flag.
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>

#include "com/types.h"
#include "dialogs/dlgkit.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

class CReadRawDlg : public QDialog {
    Q_OBJECT
public:
    enum { IDD = IDD_READRAW };
    explicit CReadRawDlg(QWidget* pParent = nullptr);

    // Sets the boxes from the members and runs the dialog.
    int exec() override;

    // Results, meaningful after OK.
    std::u16string m_strStartTime;
    std::u16string m_strEndTime;
    BOOL m_bUseStartTime = TRUE;
    BOOL m_bUseEndTime = TRUE;
    DWORD m_nMaxValues = 0;  // 0: no maximum
    BOOL m_bGetBounds = TRUE;

    // Set by the caller: Read Modified takes the same range and maximum, and no bounds.
    bool m_bModifiedMode = false;
    // The clock the time boxes show and the time texts are read on; set by the caller.
    client::TimeBasis m_timeBasis = client::TimeBasis::LocalCurrentBias;

    // Bound to the milliseconds boxes and the start clock time.
    UINT m_nStartMs = 0;
    UINT m_nEndMs = 0;
    std::int64_t m_timeStart = 0;  // seconds since 1970, UTC

protected:
    void OnInitDialog();
    void OnOK();
    // true: controls to members, with validation; false: members to controls.
    bool UpdateData(bool bSaveAndValidate);

private:
    dlg::MomentBoxes m_start;
    dlg::MomentBoxes m_end;
    QCheckBox* m_pUseStart = nullptr;
    QCheckBox* m_pUseEnd = nullptr;
    QLineEdit* m_pMaxValues = nullptr;
    QCheckBox* m_pGetBounds = nullptr;
    QPushButton* m_pOk = nullptr;
};
