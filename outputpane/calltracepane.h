// The call trace pane (View > Call Trace): the last calls made to the connected servers, newest at
// the bottom, with a filter box, Clear and Export... (CSV). It owns the log the calls are recorded
// into; the main window hangs it in a dock and sets the log as the recorder while it is shown.
#pragma once

#include <QDockWidget>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

#include "client/calltrace.h"
#include "client/timetext.h"

class QLabel;
class QLineEdit;
class QTableView;
class QTimer;
class CCallTraceModel;

class CCallTracePane : public QWidget {
    Q_OBJECT
public:
    explicit CCallTracePane(QWidget* pParent = nullptr);
    ~CCallTracePane() override;

    client::CallLog& Log() { return m_log; }
    // Shows what the log holds now through the filter (the pane also does so by itself, a few
    // times a second while calls come in).
    void Refresh();
    void SetFilter(const QString& strFilter);
    // The basis of the time column (the CSV export keeps UTC).
    void SetTimeBasis(client::TimeBasis basis);
    // The rows shown.
    int RowCount() const;
    QString CellText(int nRow, int nColumn) const;
    // Writes the rows shown as CSV; false with the reason when the file cannot be written (then it is
    // left as it was).
    bool ExportCsv(const QString& strPath, QString* pstrError) const;

    QLineEdit* GetFilterBox() const { return m_pFilter; }
    QTableView* GetTable() const { return m_pTable; }
    QLabel* GetCountLabel() const { return m_pCount; }

private:
    void OnExport();
    void OnClear();
    void PollLog();

    client::CallLog m_log;
    unsigned long long m_nShownTotal = ~0ULL;  // the log's total when last shown
    CCallTraceModel* m_pModel = nullptr;
    QLineEdit* m_pFilter = nullptr;
    QTableView* m_pTable = nullptr;
    QLabel* m_pCount = nullptr;
    QTimer* m_pPoll = nullptr;
};

// The dock the pane lives in: its close button tells the owner, which stops recording.
class CCallTraceDock : public QDockWidget {
    Q_OBJECT
public:
    explicit CCallTraceDock(QWidget* pParent = nullptr);
    CCallTracePane* GetPane() const { return m_pPane; }
    std::function<void()> m_onClosed;

protected:
    void closeEvent(QCloseEvent* pEvent) override;

private:
    CCallTracePane* m_pPane = nullptr;
};
