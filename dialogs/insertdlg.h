// The Insert dialog of Insert, Replace and Insert/Replace: a list of rows (value, local moment,
// quality), typed one at a time or made by the data generator, handed over as one entry per row and
// selected item.
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "com/types.h"
#include "dialogs/datarows.h"
#include "dialogs/dlgkit.h"

class QComboBox;
class QLineEdit;
class QPushButton;

class CInsertDlg : public QDialog {
    Q_OBJECT
public:
    explicit CInsertDlg(QWidget* pParent = nullptr);

    // Applies the mode, sets the boxes to now and runs the dialog.
    int exec() override;

    // Set by the caller before exec(); at most one of the two flags.
    bool m_bReplace = false;
    bool m_bInsertReplace = false;  // ignored when m_bReplace is set
    LONG m_nItemCount = 0;          // the number n of selected items
    // The clock the time boxes show and the time texts are read on; set by the caller.
    client::TimeBasis m_timeBasis = client::TimeBasis::LocalCurrentBias;

    // Bound to the boxes of the next row.
    std::u16string m_strValue = u"1";
    std::int64_t m_timeDate = 0;  // seconds since 1970, UTC
    std::int64_t m_timeTime = 0;  // seconds since 1970, UTC
    UINT m_nMilliseconds = 0;

    // Results after OK, N = row count x item count entries each; entry r x n + j holds row r (top row
    // first) for the j-th selected item. Values are the texts exactly as typed; timestamps are UTC,
    // moved from local time with the bias in force when OK was pressed.
    LONG m_nRowCount = 0;
    std::vector<std::u16string> m_values;
    std::vector<FILETIME> m_timeStamps;
    std::vector<DWORD> m_qualities;

    // The quality word of a quality text: "Good" 0xC0, "Uncertain" 0x40, any other text 0 (exact,
    // case-sensitive).
    static DWORD QualityOfText(std::u16string_view strQuality);

    // The data list, for the generator that writes into it.
    dlg::CDataRowList* GetDataList() const { return m_pList; }

protected:
    void OnInitDialog();
    void OnAddDataItem();
    void OnRemoveData();
    void OnDataGenerator();
    void OnOK();
    bool UpdateData(bool bSaveAndValidate);

private:
    QLineEdit* m_pValue = nullptr;
    dlg::MomentBoxes m_moment;
    QComboBox* m_pQuality = nullptr;
    dlg::CDataRowList* m_pList = nullptr;
    QPushButton* m_pOk = nullptr;
};
