// The data generator of the Insert dialog: a ramp of values at a fixed time step, written into the
// Insert dialog's list on OK.
#pragma once

#include <QDialog>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "com/types.h"
#include "dialogs/datarows.h"
#include "dialogs/dlgkit.h"

class CInsertDlg;
class QComboBox;
class QLineEdit;

namespace dlg {

// What one press of "Generate" makes.
struct RampSettings {
    double dInitial = 1.0;
    double dIncrement = 1.0;
    double dEnd = 10.0;
    ULONGLONG startLocalTicks = 0;  // local wall-clock FILETIME ticks
    ULONGLONG step = 0;             // ticks between two rows
    bool bStepOverflow = false;     // the step does not fit 64 bits
    QString strQuality;
};

enum class RampEnd {
    Done,        // the end value was reached (or the range was empty)
    WrongSign,   // the increment is zero or points away from the end value
    RowLimit,    // maxRows rows were made and more were due
    NoProgress,  // adding the increment no longer changes the value
    TimeRange,   // the next timestamp is past the last moment a FILETIME can hold
};

// Appends the rows oldest first: v, v + d, v + 2d (accumulated) while v < e (d > 0) or v > e (d < 0),
// each a step later than the one before. Never more than maxRows rows.
RampEnd MakeRamp(const RampSettings& settings, std::size_t maxRows, std::vector<DataRow>* pRows);

// 100-nanosecond ticks per unit by the unit's position in the list; any other position is days.
ULONGLONG TicksPerUnit(int nPosition);

}  // namespace dlg

class CDataGeneratorDlg : public QDialog {
    Q_OBJECT
public:
    // The most rows the generated list holds.
    static constexpr std::size_t kMaxRows = 1000000;

    explicit CDataGeneratorDlg(QWidget* pParent = nullptr);

    int exec() override;

    CInsertDlg* m_pOwner = nullptr;  // set before exec(); receives the rows on OK
    client::TimeBasis m_timeBasis = client::TimeBasis::LocalCurrentBias;  // of the start boxes

    // Bound to the boxes.
    double m_dInitialValue = 1.0;
    double m_dValueIncrement = 1.0;
    double m_dEndValue = 10.0;
    UINT m_nTimeIncrement = 1;
    std::int64_t m_timeStart = 0;  // start time of day, seconds since 1970, UTC
    UINT m_nMilliseconds = 0;

    dlg::CDataRowList* GetGeneratedList() const { return m_pList; }

protected:
    void OnInitDialog();
    void OnGenerate();
    void OnOK();
    bool UpdateData(bool bSaveAndValidate);

private:
    QLineEdit* m_pInitial = nullptr;
    QLineEdit* m_pIncrement = nullptr;
    QLineEdit* m_pEnd = nullptr;
    QLineEdit* m_pTimeIncrement = nullptr;
    dlg::MomentBoxes m_start;
    QComboBox* m_pUnits = nullptr;
    QComboBox* m_pQuality = nullptr;
    dlg::CDataRowList* m_pList = nullptr;
};
