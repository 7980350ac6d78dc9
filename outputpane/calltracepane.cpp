#include "outputpane/calltracepane.h"

#include <QAbstractTableModel>
#include <QCloseEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <sstream>
#include <vector>

#include "client/timetext.h"
#include "hda/messages.h"
#include "resources/uikit.h"

namespace {

enum Column { kTime, kServer, kMethod, kArguments, kOutcome, kCode, kCodeText, kValues, kMicros, kColumns };

constexpr const char* kHeadings[kColumns] = {"Time",        "Server", "Method", "Arguments", "Outcome",
                                             "Result code", "Result", "Values", "µs"};

constexpr int kPollMilliseconds = 200;

}  // namespace

// The rows shown: a copy of the log's calls through the filter, taken at each refresh.
class CCallTraceModel final : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    void SetRows(std::vector<client::CallRecord> rows) {
        beginResetModel();
        m_rows = std::move(rows);
        endResetModel();
    }
    const std::vector<client::CallRecord>& Rows() const { return m_rows; }
    void SetTimeBasis(client::TimeBasis basis) {
        m_basis = basis;
        if (!m_rows.empty())
            emit dataChanged(index(0, kTime), index(static_cast<int>(m_rows.size()) - 1, kTime));
    }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : kColumns; }

    QVariant headerData(int nSection, Qt::Orientation orientation, int nRole) const override {
        if (orientation != Qt::Horizontal || nRole != Qt::DisplayRole || nSection < 0 || nSection >= kColumns)
            return {};
        return QString::fromUtf8(kHeadings[nSection]);
    }

    QVariant data(const QModelIndex& index, int nRole) const override {
        if (!index.isValid() || index.row() >= static_cast<int>(m_rows.size())) return {};
        if (nRole == Qt::TextAlignmentRole)
            return index.column() == kValues || index.column() == kMicros
                       ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                       : QVariant();
        if (nRole != Qt::DisplayRole && nRole != Qt::ToolTipRole) return {};
        return Text(m_rows[static_cast<std::size_t>(index.row())], index.column());
    }

    QString Text(const client::CallRecord& call, int nColumn) const {
        switch (nColumn) {
            case kTime:
                return ui::ToQString(client::FormatTimestamp(call.ftStart, m_basis));
            case kServer:
                return QString::fromStdString(call.server);
            case kMethod:
                return QString::fromStdString(call.method);
            case kArguments:
                return QString::fromStdString(call.arguments);
            case kOutcome:
                return QString::fromStdString(call.outcome);
            case kCode:
                return QString::fromStdString(client::CallCode(call.hr));
            case kCodeText:
                return QString::fromStdString(client::CallCodeText(call.hr));
            case kValues:
                return call.values ? QString::number(*call.values) : QString();
            case kMicros:
                return QString::number(call.micros);
            default:
                return {};
        }
    }

private:
    std::vector<client::CallRecord> m_rows;
    client::TimeBasis m_basis = client::TimeBasis::LocalCurrentBias;
};

CCallTracePane::CCallTracePane(QWidget* pParent) : QWidget(pParent) {
    setObjectName(QStringLiteral("CallTracePane"));
    m_pFilter = new QLineEdit(this);
    m_pFilter->setObjectName(QStringLiteral("CallTraceFilter"));
    m_pFilter->setPlaceholderText(QStringLiteral("Filter: server, method, arguments or result"));
    m_pFilter->setClearButtonEnabled(true);
    m_pCount = new QLabel(this);
    m_pCount->setObjectName(QStringLiteral("CallTraceCount"));
    auto* pClear = new QPushButton(QStringLiteral("C&lear"), this);
    pClear->setObjectName(QStringLiteral("CallTraceClear"));
    auto* pExport = new QPushButton(QStringLiteral("&Export..."), this);
    pExport->setObjectName(QStringLiteral("CallTraceExport"));

    m_pModel = new CCallTraceModel(this);
    m_pTable = new QTableView(this);
    m_pTable->setObjectName(QStringLiteral("CallTraceTable"));
    m_pTable->setModel(m_pModel);
    m_pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTable->setWordWrap(false);
    m_pTable->verticalHeader()->hide();
    m_pTable->verticalHeader()->setDefaultSectionSize(m_pTable->fontMetrics().height() + 4);
    m_pTable->horizontalHeader()->setStretchLastSection(false);
    const int widths[kColumns] = {165, 150, 200, 260, 110, 85, 110, 55, 55};
    for (int i = 0; i < kColumns; ++i) m_pTable->setColumnWidth(i, widths[i]);

    auto* pBar = new QHBoxLayout;
    pBar->setContentsMargins(0, 0, 0, 0);
    pBar->addWidget(m_pFilter, 1);
    pBar->addWidget(m_pCount);
    pBar->addWidget(pClear);
    pBar->addWidget(pExport);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(4, 4, 4, 4);
    pLayout->addLayout(pBar);
    pLayout->addWidget(m_pTable, 1);

    connect(m_pFilter, &QLineEdit::textChanged, this, [this] {
        m_nShownTotal = ~0ULL;
        Refresh();
    });
    connect(pClear, &QPushButton::clicked, this, &CCallTracePane::OnClear);
    connect(pExport, &QPushButton::clicked, this, &CCallTracePane::OnExport);
    m_pPoll = new QTimer(this);
    connect(m_pPoll, &QTimer::timeout, this, &CCallTracePane::PollLog);
    m_pPoll->start(kPollMilliseconds);
    Refresh();
}

CCallTracePane::~CCallTracePane() = default;

void CCallTracePane::PollLog() {
    // Calls are recorded as they return, often many in a burst: the rows follow a few times a second.
    if (isVisible() && m_log.Total() != m_nShownTotal) Refresh();
}

void CCallTracePane::Refresh() {
    QScrollBar* pBar = m_pTable->verticalScrollBar();
    const bool bAtBottom = pBar->value() == pBar->maximum();
    m_nShownTotal = m_log.Total();
    m_pModel->SetRows(m_log.Snapshot(m_pFilter->text().toStdString()));
    const std::size_t kept = m_log.Size();
    const QString strShown = m_pFilter->text().isEmpty()
                                 ? QStringLiteral("%1 calls").arg(kept)
                                 : QStringLiteral("%1 of %2 calls").arg(m_pModel->Rows().size()).arg(kept);
    m_pCount->setText(
        m_nShownTotal > kept ? strShown + QStringLiteral(" (last %1 kept)").arg(m_log.Capacity()) : strShown);
    if (bAtBottom) m_pTable->scrollToBottom();
}

void CCallTracePane::SetFilter(const QString& strFilter) {
    m_pFilter->setText(strFilter);  // refreshes
}

int CCallTracePane::RowCount() const {
    return m_pModel->rowCount();
}

void CCallTracePane::SetTimeBasis(client::TimeBasis basis) {
    m_pModel->SetTimeBasis(basis);
}

QString CCallTracePane::CellText(int nRow, int nColumn) const {
    if (nRow < 0 || nRow >= RowCount()) return {};
    return m_pModel->Text(m_pModel->Rows()[static_cast<std::size_t>(nRow)], nColumn);
}

bool CCallTracePane::ExportCsv(const QString& strPath, QString* pstrError) const {
    std::ostringstream csv;
    client::WriteCallsCsv(csv, m_pModel->Rows());
    const std::string text = csv.str();
    // Written beside the target and renamed over it at the end: a failure leaves no partial file (a
    // save file that is not committed is removed).
    QSaveFile file(strPath);
    if (file.open(QIODevice::WriteOnly) &&
        file.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size()) &&
        file.commit())
        return true;
    if (pstrError) *pstrError = file.errorString();
    return false;
}

void CCallTracePane::OnExport() {
    Refresh();
    const QString strPath = QFileDialog::getSaveFileName(this, QStringLiteral("Export Call Trace"),
                                                         QStringLiteral("calltrace.csv"),
                                                         QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (strPath.isEmpty()) return;
    QString strError;
    if (!ExportCsv(strPath, &strError))
        hda::ShowMessage(static_cast<const QWidget*>(this),
                         ui::ToU16(QStringLiteral("Cannot write '%1': %2").arg(strPath, strError)), u"Error",
                         hda::MsgIcon::Stop, hda::MsgButtons::Ok);
}

void CCallTracePane::OnClear() {
    m_log.Clear();
    Refresh();
}

CCallTraceDock::CCallTraceDock(QWidget* pParent) : QDockWidget(QStringLiteral("Call Trace"), pParent) {
    setObjectName(QStringLiteral("CallTraceDock"));
    setAllowedAreas(Qt::AllDockWidgetAreas);
    m_pPane = new CCallTracePane(this);
    setWidget(m_pPane);
}

void CCallTraceDock::closeEvent(QCloseEvent* pEvent) {
    QDockWidget::closeEvent(pEvent);
    if (pEvent->isAccepted() && m_onClosed) m_onClosed();
}
