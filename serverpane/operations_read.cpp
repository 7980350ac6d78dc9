// The four history reads of the server pane: Read Raw, Read Processed, Read Attribute, Read At Time.
//
// Each is a view over the client core: under the wait cursor its dialog collects the arguments, the
// previous result set is released, the core makes the call and checks the answer, and the output
// pane shows what came back. A value read's answer becomes the result set the output pane shows.
#include <QGuiApplication>

#include "client/lists.h"
#include "client/readmodified.h"
#include "client/reads.h"
#include "dialogs/readattimedlg.h"
#include "dialogs/readattributedlg.h"
#include "dialogs/readprocesseddlg.h"
#include "dialogs/readrawdlg.h"
#include "outputpane/outputlist.h"
#include "outputpane/outputpane.h"
#include "outputpane/textforms.h"
#include "outputpane/valuerows.h"
#include "resources/uikit.h"
#include "serverpane/serverpane.h"

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

// The answer of a value read: a message leaves the output pane as it was; a result set is shown, one
// tab per item. With the read's arguments, the items it left with more data can be read on.
void ShowValueRead(CServerPane& pane, client::ReadOutcome outcome,
                   std::optional<client::PagedReadArgs> paged = std::nullopt) {
    client::Show(Owner(pane), outcome.message);
    if (!outcome.HasResults()) return;
    COutputPane* pOutput = pane.GetOutputPane();
    if (pOutput) pOutput->CreateItemTabs();
    std::optional<client::CReadNext> next;
    if (paged) next.emplace(std::move(*paged), outcome);
    pane.SetLastResults(std::move(outcome.results));
    pane.m_lastItemIds = pane.GetSelectedItemIds();
    if (next && next->HasMore()) {
        pane.m_readNext = std::move(next);
        pane.m_strReadNextServer = pane.GetSelectedServerKey();
    }
    if (pOutput) pOutput->ShowTabResults();
}

// The name of an attribute in the server's list: the last entry with that id.
QString AttributeName(const CReadAttributeDlg& dlg, DWORD dwId) {
    const auto& list = dlg.m_serverAttributes;
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        if (it->id == dwId) return ui::ToQString(client::AttributeDisplayName(*it));
    return QStringLiteral("Unknown Attribute");
}

}  // namespace

// ---- Read Raw ----

void CServerPane::OnReadRaw() {
    ui::WaitCursor wait;
    CReadRawDlg dlg;
    dlg.m_timeBasis = GetTimeBasis();
    if (!RunDialog(dlg)) return;
    ReleaseLastResults();
    ReadRawAfterDialog(dlg);
}

void CServerPane::ReadRawAfterDialog(const CReadRawDlg& dlg) {
    const std::vector<OPCHANDLE> handles = GetSelectedItemHandles(1);
    if (handles.empty()) return;
    // Read Raw does not ask for the interface: without one it ends quietly.
    CHDAServer* pServer = FindServer(GetSelectedServerKey());
    if (!pServer || !pServer->m_pSyncRead) return;
    client::PagedReadArgs args;
    args.kind = client::PagedReadArgs::Kind::Raw;
    args.startText = dlg.m_strStartTime;
    args.endText = dlg.m_strEndTime;
    args.startInUse = dlg.m_bUseStartTime != FALSE;
    args.endInUse = dlg.m_bUseEndTime != FALSE;
    args.maxValues = dlg.m_nMaxValues;
    args.bounds = dlg.m_bGetBounds != FALSE;
    args.handles = handles;
    args.basis = dlg.m_timeBasis;
    client::ReadOutcome outcome =
        client::ReadRaw(pServer->m_pSyncRead, {args.startText, args.startInUse},
                        {args.endText, args.endInUse}, args.maxValues, args.bounds, handles, args.basis);
    ShowValueRead(*this, std::move(outcome), std::move(args));
}

// ---- Read Processed ----

void CServerPane::OnReadProcessed() {
    ui::WaitCursor wait;
    m_strCurrentServer = GetSelectedServerKey();
    CReadProcessedDlg dlg;
    dlg.m_pServerPane = this;
    dlg.m_timeBasis = GetTimeBasis();
    if (!RunDialog(dlg)) return;
    ReleaseLastResults();

    CHDAServer* pServer = FindServer(m_strCurrentServer);
    if (!pServer || !pServer->EnsureSyncRead() || !pServer->m_pSyncRead) return;
    client::PagedReadArgs args;
    args.kind = client::PagedReadArgs::Kind::Processed;
    args.startText = dlg.m_strStartTime;
    args.endText = dlg.m_strEndTime;
    args.resampleInterval = dlg.m_ftResampleInterval;
    args.handles = GetSelectedItemHandles(1);
    args.aggregates.assign(dlg.m_itemAggregates.begin(), dlg.m_itemAggregates.end());
    args.basis = dlg.m_timeBasis;
    client::ReadOutcome outcome =
        client::ReadProcessed(pServer->m_pSyncRead, args.startText, args.endText, args.resampleInterval,
                              args.handles, args.aggregates, args.basis);
    ShowValueRead(*this, std::move(outcome), std::move(args));
}

// ---- Read Next ----

void CServerPane::OnReadNext() {
    if (!m_readNext || m_lastResults.Empty()) return;
    CHDAServer* pServer = FindServer(m_strReadNextServer);
    if (!pServer || !pServer->m_pSyncRead) return;
    ui::WaitCursor wait;
    const std::optional<client::Message> message = m_readNext->Next(pServer->m_pSyncRead, m_lastResults);
    client::Show(Owner(*this), message);
    if (!m_readNext->HasMore()) m_readNext.reset();
    if (m_pOutputPane) m_pOutputPane->ShowTabResults();
}

std::u16string CServerPane::GetResultNote(DWORD i) const {
    if (!m_readNext || !m_readNext->HasMore(i)) return {};
    return u"More values exist: Read Next continues from " +
           client::FormatTimestamp(m_readNext->ContinueFrom(i), GetTimeBasis());
}

// ---- Read At Time ----

void CServerPane::OnReadAtTime() {
    ui::WaitCursor wait;
    m_strCurrentServer = GetSelectedServerKey();
    CReadAtTimeDlg dlg;
    dlg.m_timeBasis = GetTimeBasis();
    if (!RunDialog(dlg)) return;
    ReleaseLastResults();

    CHDAServer* pServer = FindServer(m_strCurrentServer);
    if (!pServer || !pServer->EnsureSyncRead() || !pServer->m_pSyncRead) return;
    ShowValueRead(*this,
                  client::ReadAtTime(pServer->m_pSyncRead, dlg.m_timeStamps, GetSelectedItemHandles(1)));
}

// ---- Read Attribute ----

namespace {

// The rows of a Read Attribute: name, value and timestamp, the timestamp on the basis in force.
class CAttributeRows final : public IListRowSource {
public:
    CAttributeRows(const CReadAttributeDlg& dlg, const std::vector<client::AttributeRow>& rows,
                   client::TimeBasis basis)
        : m_stamp(basis) {
        for (const client::AttributeRow& row : rows) {
            Row r;
            r.name = AttributeName(dlg, row.id);
            r.noData = row.returned && row.noData;
            r.value = row.value ? ui::ToQString(*row.value) : QString::fromUtf16(CValueTabRows::kNotReturned);
            r.timestamp = row.timestamp;
            m_rows.push_back(std::move(r));
        }
    }
    int RowCount() const override { return static_cast<int>(m_rows.size()); }
    QString Text(int nRow, int nColumn) const override {
        if (nRow < 0 || nRow >= RowCount()) return {};
        const Row& r = m_rows[static_cast<std::size_t>(nRow)];
        switch (nColumn) {
            case 0:
                return r.name;
            case 1:
                return r.noData ? QStringLiteral("No Data") : r.value;
            case 2:
                if (r.noData) return QStringLiteral("No Data");
                return r.timestamp ? FormatTimestamp(*r.timestamp, m_stamp)
                                   : QString::fromUtf16(CValueTabRows::kNotReturned);
            default:
                return {};
        }
    }
    void SetTimeBasis(client::TimeBasis basis) override { m_stamp = client::CTimestampWriter(basis); }

private:
    struct Row {
        QString name, value;
        std::optional<FILETIME> timestamp;
        bool noData = false;
    };
    std::vector<Row> m_rows;
    client::CTimestampWriter m_stamp;
};

}  // namespace

void CServerPane::OnReadAttribute() {
    ui::WaitCursor wait;
    m_strCurrentServer = GetSelectedServerKey();
    CReadAttributeDlg dlg;
    dlg.m_pServerPane = this;
    if (!RunDialog(dlg)) return;
    ReleaseLastResults();

    CHDAServer* pServer = FindServer(m_strCurrentServer);
    if (!pServer || !pServer->EnsureSyncRead() || !pServer->m_pSyncRead) return;
    const std::vector<OPCHANDLE> handles = GetSelectedItemHandles(1);
    const client::AttributeReadOutcome outcome = client::ReadAttribute(
        pServer->m_pSyncRead, handles.empty() ? 0 : handles[0],
        handles.empty() ? std::span<const DWORD>() : std::span<const DWORD>(dlg.m_checkedIds));
    client::Show(Owner(*this), outcome.message);
    if (!outcome.called || outcome.message) return;

    COutputPane* pOutput = GetOutputPane();
    COutputList* pList = nullptr;
    if (pOutput) {
        pOutput->CreateResultList();
        pOutput->InsertAttributeColumns();
        pList = pOutput->GetResultList();
    }
    if (!pList) return;
    pList->SetRowSource(std::make_unique<CAttributeRows>(dlg, outcome.rows, GetTimeBasis()));
}

// ---- Read Modified ----

void CServerPane::OnReadModified() {
    ui::WaitCursor wait;
    m_strCurrentServer = GetSelectedServerKey();
    CReadRawDlg dlg;
    dlg.m_bModifiedMode = true;
    dlg.m_timeBasis = GetTimeBasis();
    if (!RunDialog(dlg)) return;
    ReleaseLastResults();

    CHDAServer* pServer = FindServer(m_strCurrentServer);
    if (!pServer || !pServer->EnsureSyncRead() || !pServer->m_pSyncRead) return;
    const std::vector<OPCHANDLE> handles = GetSelectedItemHandles(1);
    if (handles.empty()) return;
    client::ModifiedOutcome outcome = client::ReadModified(
        pServer->m_pSyncRead, {dlg.m_strStartTime, dlg.m_bUseStartTime != FALSE},
        {dlg.m_strEndTime, dlg.m_bUseEndTime != FALSE}, dlg.m_nMaxValues, handles, dlg.m_timeBasis);
    client::Show(Owner(*this), outcome.message);
    if (outcome.results.Empty()) return;
    COutputPane* pOutput = GetOutputPane();
    if (pOutput) pOutput->CreateModifiedTabs();
    m_lastModified = std::move(outcome.results);
    if (pOutput) pOutput->ShowTabResults();
}
