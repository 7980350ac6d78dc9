// Export and Copy: the result set of the last value read as CSV, every value of every tab whatever
// the display limit shows, in the command-line client's layout (client/csvexport.h); and the selected
// rows of the output pane as tab-separated text.
//
// The file is written through QSaveFile: the rows go to a temporary file beside the target, which
// replaces the target only once every row is written, so a cancelled or failed export leaves no
// partial file and an existing file as it was.
#include <QFileDialog>
#include <QProgressDialog>
#include <QSaveFile>

#include "client/csvexport.h"
#include "outputpane/outputpane.h"
#include "resources/uikit.h"
#include "serverpane/serverpane.h"

namespace {

constexpr char16_t kExportCaption[] = u"Export";
// Rows per part: the progress dialog is told and asked after each.
constexpr std::size_t kRowsPerPart = 20000;
constexpr std::size_t kFlushBytes = 1 << 20;

}  // namespace

QString CServerPane::AskFileName(bool bSave, const QString& strCaption, const QString& strFilter) {
    if (m_fnAskFileName) return m_fnAskFileName(bSave, strCaption, strFilter);
    QWidget* pOwner = m_pMainFrame ? m_pMainFrame->GetMainWindow() : this;
    return bSave ? QFileDialog::getSaveFileName(pOwner, strCaption, QString(), strFilter)
                 : QFileDialog::getOpenFileName(pOwner, strCaption, QString(), strFilter);
}

void CServerPane::OnExport() {
    if (m_lastResults.Empty()) return;
    const QString strPath =
        AskFileName(true, QStringLiteral("Export"), QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (strPath.isEmpty()) return;
    QWidget* pOwner = m_pMainFrame ? m_pMainFrame->GetMainWindow() : this;
    QProgressDialog progress(QStringLiteral("Exporting values..."), QStringLiteral("Cancel"), 0, 1000,
                             pOwner);
    progress.setWindowTitle(QStringLiteral("Export"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    ExportResults(strPath, [&progress](std::size_t nDone, std::size_t nAll) {
        progress.setValue(nAll ? static_cast<int>(nDone * 1000 / nAll) : 1000);
        return !progress.wasCanceled();
    });
}

bool CServerPane::ExportResults(const QString& strPath,
                                const std::function<bool(std::size_t, std::size_t)>& progress) {
    const void* pOwner = static_cast<const QWidget*>(this);
    auto fail = [&](const QString& strWhy) {
        hda::ShowMessage(pOwner, ui::ToU16(QStringLiteral("Cannot write %1: %2").arg(strPath, strWhy)),
                         kExportCaption, hda::MsgIcon::Exclamation);
        return false;
    };
    QSaveFile file(strPath);
    if (!file.open(QIODevice::WriteOnly)) return fail(file.errorString());
    // Timestamps on the basis of the display, each with the offset it was written with, so that every
    // one names its instant whatever the basis.
    client::CResultSetCsv csv(m_lastResults.Values(), m_lastResults.Errors(), m_lastResults.Count(),
                              m_lastItemIds, GetTimeBasis());
    std::string buf;
    buf.reserve(kFlushBytes + (1 << 16));
    bool bMore = true;
    while (bMore) {
        bMore = csv.Next(buf, kRowsPerPart);
        if (buf.size() >= kFlushBytes || !bMore) {
            if (file.write(buf.data(), static_cast<qint64>(buf.size())) != static_cast<qint64>(buf.size()))
                return fail(file.errorString());  // the temporary file goes with `file`
            buf.clear();
        }
        if (progress && !progress(csv.RowsWritten(), csv.TotalRows())) {
            file.cancelWriting();
            return false;
        }
    }
    if (!file.commit()) return fail(file.errorString());
    return true;
}

void CServerPane::OnEditCopy() {
    if (m_pOutputPane) m_pOutputPane->CopySelectedRows();
}
