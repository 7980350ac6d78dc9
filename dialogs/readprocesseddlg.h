// The Read Processed dialog: a time range, the resample interval, and one aggregate per selected item,
// chosen from the server's aggregates.
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>
#include <vector>

#include "client/lists.h"
#include "com/types.h"
#include "dialogs/dialoghost.h"
#include "dialogs/dlgkit.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;

class CReadProcessedDlg : public QDialog {
    Q_OBJECT
public:
    enum { IDD = IDD_READPROCESSED };
    explicit CReadProcessedDlg(QWidget* pParent = nullptr);
    ~CReadProcessedDlg() override;

    // Fills the lists (asking the server for its aggregates) and runs the dialog.
    int exec() override;
    // Every way out: OK, Cancel, Escape, the close box, the no-aggregates refusal.
    void done(int r) override;

    // Set by the caller before exec(): the selected items and the current server.
    IDialogHost* m_pServerPane = nullptr;

    // Results, meaningful after OK.
    std::u16string m_strStartTime;
    std::u16string m_strEndTime;
    // The clock the time boxes show and the time texts are read on; set by the caller.
    client::TimeBasis m_timeBasis = client::TimeBasis::LocalCurrentBias;
    LONG m_nResampleInterval = 10;
    FILETIME m_ftResampleInterval{0, 0};  // signed 100-ns ticks
    // One aggregate id per row of the item list, in row order; set on OK.
    std::vector<DWORD> m_itemAggregates;

    // The server's aggregates, in the order of the aggregate drop-down list; kept until the dialog
    // closes.
    std::vector<client::Aggregate> m_aggregates;

    // The two drop-down lists made when the dialog opens and destroyed when it closes.
    QComboBox* m_pItemCombo = nullptr;
    QComboBox* m_pAggregateCombo = nullptr;

    UINT m_nStartMs = 0;
    UINT m_nEndMs = 0;
    std::int64_t m_timeStart = 0;  // seconds since 1970, UTC

    // Ticks of 100 ns of a unit, by its position in the unit box (-1: none selected, counts as days).
    static LONGLONG UnitTicks(int nUnit);

protected:
    void OnInitDialog();
    void OnOK();
    bool UpdateData(bool bSaveAndValidate);
    void FillItemList();
    void FillAggregateList();
    void OnSetAllItems();
    void OnSetSelectedItem();

private:
    void CreateDropDowns();
    void DestroyDropDowns();
    void ReleaseAggregateIds();
    // The unit box's selection: the entry whose text the box shows, -1 for text of one's own.
    int SelectedUnit() const;

    dlg::MomentBoxes m_start;
    dlg::MomentBoxes m_end;
    QLineEdit* m_pResample = nullptr;
    QComboBox* m_pUnits = nullptr;
    QTreeWidget* m_pItemList = nullptr;
    QTreeWidget* m_pServerAggregates = nullptr;
    QPushButton* m_pSetAll = nullptr;
    QPushButton* m_pSetSelected = nullptr;
    QPushButton* m_pOk = nullptr;
};
