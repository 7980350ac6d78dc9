// The five history updates of the server pane: Insert, Replace and Insert/Replace (UpdateHistory with
// a mode), Delete Raw and Delete At Time.
//
// Each is a view over the client core. Under the wait cursor: the current server is taken from the
// tree, the dialog collects the arguments, the previous result set is released, the connection's
// IOPCHDA_SyncUpdate is made sure of, the core makes the one call (building and releasing every array
// it passes), and the output pane lists one row per entry with its result code. Only the result codes
// survive the operation, as the pane's result set.
#include <QGuiApplication>
#include <span>
#include <string>
#include <vector>

#include "client/updates.h"
#include "dialogs/deleterawdlg.h"
#include "dialogs/insertdlg.h"
#include "dialogs/readattimedlg.h"
#include "outputpane/outputlist.h"
#include "outputpane/outputpane.h"
#include "resources/uikit.h"
#include "serverpane/serverpane.h"
#include "serverpane/updaterows.h"

namespace {

// The normal cursor over a dialog; the operation's wait cursor comes back when the dialog closes.
class NormalCursor {
public:
    NormalCursor() { QGuiApplication::setOverrideCursor(Qt::ArrowCursor); }
    ~NormalCursor() { QGuiApplication::restoreOverrideCursor(); }
    NormalCursor(const NormalCursor&) = delete;
    NormalCursor& operator=(const NormalCursor&) = delete;
};

template <class Dialog>
bool RunDialog(Dialog& dlg) {
    NormalCursor normal;
    return dlg.exec() == QDialog::Accepted;
}

const void* Owner(const CServerPane& pane) {
    return static_cast<const QWidget*>(&pane);
}

// The item IDs of the selected rows as the list's tags.
std::vector<QString> Tags(const std::vector<std::u16string>& ids) {
    std::vector<QString> tags;
    tags.reserve(ids.size());
    for (const std::u16string& id : ids) tags.push_back(ui::ToQString(id));
    return tags;
}

// The codes the server returned, no more than it allocated.
std::vector<HRESULT> Codes(const client::ResultSet& results) {
    const HRESULT* p = results.Errors();
    return p ? std::vector<HRESULT>(p, p + results.Count()) : std::vector<HRESULT>();
}

// More entries than the handles of one call can count.
void ReportTooManyEntries(const CServerPane& pane) {
    hda::ShowMessage(Owner(pane),
                     u"The selected items and the rows make more entries than one call can carry.", u"Error",
                     hda::MsgIcon::Exclamation);
}

// The connection of m_strCurrentServer with its IOPCHDA_SyncUpdate, asked for on first use and kept;
// null (the failure reported) when there is none.
IOPCHDA_SyncUpdate* CurrentSyncUpdate(CServerPane& pane) {
    CHDAServer* pServer = pane.FindServer(pane.m_strCurrentServer);
    if (!pServer || !pServer->EnsureSyncUpdate()) return nullptr;
    return pServer->m_pSyncUpdate;
}

}  // namespace

// ---- Insert, Replace, Insert/Replace ----

void CServerPane::UpdateHistory(OPCHDA_EDITTYPE mode) {
    ui::WaitCursor wait;
    m_strCurrentServer = GetSelectedServerKey();
    const std::vector<std::u16string> ids = GetSelectedItemIds();
    if (ids.empty()) return;
    CInsertDlg dlg;
    dlg.m_nItemCount = static_cast<LONG>(ids.size());
    dlg.m_bReplace = mode == OPCHDA_REPLACE;
    dlg.m_bInsertReplace = mode == OPCHDA_INSERTREPLACE;
    dlg.m_timeBasis = GetTimeBasis();
    if (!RunDialog(dlg)) return;
    ReleaseLastResults();

    IOPCHDA_SyncUpdate* pSyncUpdate = CurrentSyncUpdate(*this);
    if (!pSyncUpdate) return;
    const std::vector<OPCHANDLE> handles = GetSelectedItemHandles(static_cast<DWORD>(dlg.m_nRowCount));
    if (handles.empty() || handles.size() != dlg.m_values.size()) return ReportTooManyEntries(*this);

    client::UpdateOutcome outcome = client::InsertReplaceHistory(pSyncUpdate, mode, handles, dlg.m_timeStamps,
                                                                 dlg.m_values, dlg.m_qualities);
    client::Show(Owner(*this), outcome.message);
    if (!outcome.called || FAILED(outcome.hr)) return;

    COutputPane* pOutput = GetOutputPane();
    std::vector<HRESULT> codes = Codes(outcome.results);
    if (pOutput) pOutput->CreateResultList();
    SetLastResults(std::move(outcome.results));
    if (!pOutput || !pOutput->GetResultList()) return;
    pOutput->InsertUpdateColumns();
    auto rows = CUpdateRows::ForInsert(Tags(ids), std::move(dlg.m_values), std::move(dlg.m_timeStamps),
                                       std::move(codes));
    rows->SetTimeBasis(dlg.m_timeBasis);
    pOutput->GetResultList()->SetRowSource(std::move(rows));
}

// ---- Delete Raw ----

void CServerPane::OnDeleteRaw() {
    ui::WaitCursor wait;
    m_strCurrentServer = GetSelectedServerKey();
    CDeleteRawDlg dlg;
    dlg.m_timeBasis = GetTimeBasis();
    if (!RunDialog(dlg)) return;
    ReleaseLastResults();

    IOPCHDA_SyncUpdate* pSyncUpdate = CurrentSyncUpdate(*this);
    if (!pSyncUpdate) return;
    const std::vector<std::u16string> ids = GetSelectedItemIds();
    const std::vector<OPCHANDLE> handles = GetSelectedItemHandles(1);
    if (handles.empty() || handles.size() != ids.size()) return;

    client::DeleteRawOutcome outcome =
        client::DeleteRaw(pSyncUpdate, dlg.m_strStartTime, dlg.m_strEndTime, handles, dlg.m_timeBasis);
    client::Show(Owner(*this), outcome.message);
    if (!outcome.called || FAILED(outcome.hr)) return;

    COutputPane* pOutput = GetOutputPane();
    std::vector<HRESULT> codes = Codes(outcome.results);
    if (pOutput) pOutput->CreateResultList();
    SetLastResults(std::move(outcome.results));
    COutputList* pList = pOutput ? pOutput->GetResultList() : nullptr;
    if (!pList) return;
    const int nWidth = pList->ClientWidth() / 4;
    pList->InsertColumn(0, QStringLiteral("Tag"), nWidth);
    pList->InsertColumn(1, QStringLiteral("Start Time"), nWidth);
    pList->InsertColumn(2, QStringLiteral("End Time"), nWidth);
    pList->InsertColumn(3, QStringLiteral("Error Code"), nWidth);
    auto rows =
        CUpdateRows::ForDeleteRaw(Tags(ids), outcome.ftStartAfter, outcome.ftEndAfter, std::move(codes));
    rows->SetTimeBasis(dlg.m_timeBasis);
    pList->SetRowSource(std::move(rows));
}

// ---- Delete At Time ----

void CServerPane::OnDeleteAtTime() {
    ui::WaitCursor wait;
    m_strCurrentServer = GetSelectedServerKey();
    const std::vector<std::u16string> ids = GetSelectedItemIds();
    if (ids.empty()) return;
    CReadAtTimeDlg dlg;
    dlg.m_bDeleteMode = true;
    dlg.m_timeBasis = GetTimeBasis();
    dlg.m_nItemCount = static_cast<LONG>(ids.size());
    if (!RunDialog(dlg)) return;
    ReleaseLastResults();

    IOPCHDA_SyncUpdate* pSyncUpdate = CurrentSyncUpdate(*this);
    if (!pSyncUpdate) return;
    // Each listed moment stands once per item in the dialog's array: R moments, R x n entries.
    const std::size_t nMoments = dlg.m_timeStamps.size() / ids.size();
    const std::vector<OPCHANDLE> handles = GetSelectedItemHandles(static_cast<DWORD>(nMoments));
    if (handles.empty() || handles.size() != dlg.m_timeStamps.size()) return ReportTooManyEntries(*this);

    client::UpdateOutcome outcome = client::DeleteAtTime(pSyncUpdate, handles, dlg.m_timeStamps);
    client::Show(Owner(*this), outcome.message);
    if (!outcome.called || FAILED(outcome.hr)) return;

    COutputPane* pOutput = GetOutputPane();
    std::vector<HRESULT> codes = Codes(outcome.results);
    if (pOutput) pOutput->CreateResultList();
    SetLastResults(std::move(outcome.results));
    COutputList* pList = pOutput ? pOutput->GetResultList() : nullptr;
    if (!pList) return;
    const int nWidth = pList->ClientWidth() / 3;
    pList->InsertColumn(0, QStringLiteral("Tag"), nWidth);
    pList->InsertColumn(1, QStringLiteral("Timestamp"), nWidth);
    pList->InsertColumn(2, QStringLiteral("Error Code"), nWidth);
    auto rows = CUpdateRows::ForDeleteAtTime(Tags(ids), std::move(dlg.m_timeStamps), std::move(codes));
    rows->SetTimeBasis(dlg.m_timeBasis);
    pList->SetRowSource(std::move(rows));
}
