// The four history reads of the server pane: Read Raw, Read Processed, Read Attribute, Read At Time.
//
// Each runs under the wait cursor: its dialog, the release of the previous result set, one call on
// the connection's IOPCHDA_SyncRead, and the output. Whatever the call or the dialog handed over is
// released on every way out; a value read's answer becomes the result set the output pane shows.
#include <QGuiApplication>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>

#include "com/objbase.h"
#include "com/text.h"
#include "dialogs/dlgkit.h"
#include "dialogs/readattimedlg.h"
#include "dialogs/readattributedlg.h"
#include "dialogs/readprocesseddlg.h"
#include "dialogs/readrawdlg.h"
#include "hda/hdatime.h"
#include "hda/messages.h"
#include "outputpane/outputlist.h"
#include "outputpane/outputpane.h"
#include "outputpane/textforms.h"
#include "outputpane/valuerows.h"
#include "resources/uikit.h"
#include "serverpane/readresults.h"
#include "serverpane/serverpane.h"

namespace {

constexpr char16_t kErrorCaption[] = u"Error";

struct TaskMemFree {
    void operator()(void* p) const { CoTaskMemFree(p); }
};
template <class T>
using TaskMemPtr = std::unique_ptr<T, TaskMemFree>;

struct CFree {
    void operator()(void* p) const { std::free(p); }
};

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

// One in/out time record of a call. The server may rewrite the record; what is released afterwards is
// what was allocated here, remembered before the call, whatever the record says then.
class CallTime {
public:
    CallTime(std::u16string_view strTime, bool bInUse) : m_pTime(hda::BuildHdaTime(strTime, bInUse)) {
        if (m_pTime && m_pTime->bString) m_pszMine = m_pTime->szTime;
    }
    ~CallTime() {
        CoTaskMemFree(m_pszMine);
        CoTaskMemFree(m_pTime);
    }
    CallTime(const CallTime&) = delete;
    CallTime& operator=(const CallTime&) = delete;

    OPCHDA_TIME* get() const { return m_pTime; }

private:
    OPCHDA_TIME* m_pTime;
    LPWSTR m_pszMine = nullptr;
};

const void* Owner(const CServerPane& pane) {
    return static_cast<const QWidget*>(&pane);
}

void ReportOutOfMemory(const CServerPane& pane) {
    hda::ShowMessage(Owner(pane), u"Out of Memory!!!", kErrorCaption, hda::MsgIcon::Exclamation);
}

// The selected items' handles for one call (n = 1), with their count; null when nothing is selected
// or the selected server is gone.
TaskMemPtr<OPCHANDLE> SelectedHandles(const CServerPane& pane, DWORD* pdwCount) {
    return TaskMemPtr<OPCHANDLE>(pane.GetSelectedItemHandles(1, pdwCount));
}

// The answer of a value read: a failure is reported and leaves the output pane as it was; a success
// becomes the result set, shown one tab per item. Takes over both arrays.
void ShowValueRead(CServerPane& pane, std::u16string_view strMethod, HRESULT hr, OPCHDA_ITEM* pValues,
                   HRESULT* pErrors, DWORD dwCount) {
    if (FAILED(hr)) {
        // A server should leave both out-arrays null when it fails; release whatever it left anyway.
        readresults::ReleaseItemValues(pValues, dwCount);
        CoTaskMemFree(pErrors);
        hda::ShowMessage(Owner(pane), com::FormatW(u"%s Failed, Function returned: 0x%X", {strMethod, hr}),
                         kErrorCaption, hda::MsgIcon::Exclamation);
        return;
    }
    if (!pValues || !pErrors) {
        // Success without one of the two arrays: there is no result to line up with the tabs.
        readresults::ReleaseItemValues(pValues, dwCount);
        CoTaskMemFree(pErrors);
        const char16_t* pszMissing = !pValues && !pErrors ? u"values and result codes"
                                     : !pValues           ? u"values"
                                                          : u"result codes";
        hda::ShowMessage(
            Owner(pane),
            com::FormatW(u"%s returned 0x%X but no %s: the server sent nothing that can be shown.",
                         {strMethod, hr, pszMissing}),
            kErrorCaption, hda::MsgIcon::Exclamation);
        return;
    }
    COutputPane* pOutput = pane.GetOutputPane();
    if (pOutput) pOutput->CreateItemTabs();
    pane.SetLastResults(pValues, pErrors, dwCount);
    if (pOutput) pOutput->ShowTabResults();
}

// The name of an attribute in the server's list: the last entry with that id.
QString AttributeName(const CReadAttributeDlg& dlg, DWORD dwId) {
    if (dlg.m_pServerAttributeIds) {
        for (LONG j = dlg.m_nServerAttributes - 1; j >= 0; --j) {
            if (dlg.m_pServerAttributeIds[j] != dwId) continue;
            std::u16string strName;
            if (dlg.m_pServerAttributeNames && dlg::ServerString(dlg.m_pServerAttributeNames[j], &strName))
                return ui::ToQString(strName);
            return ui::ToQString(com::FormatW(u"(no name, ID %i)", {static_cast<LONG>(dwId)}));
        }
    }
    return QStringLiteral("Unknown Attribute");
}

}  // namespace

// ---- Read Raw ----

void CServerPane::OnReadRaw() {
    ui::WaitCursor wait;
    CReadRawDlg dlg;
    if (!RunDialog(dlg)) return;
    ReleaseLastResults();
    ReadRawAfterDialog(dlg);
}

void CServerPane::ReadRawAfterDialog(const CReadRawDlg& dlg) {
    DWORD dwCount = 0;
    TaskMemPtr<OPCHANDLE> pHandles = SelectedHandles(*this, &dwCount);
    if (!pHandles) return;
    // Read Raw does not ask for the interface: without one it ends quietly.
    CHDAServer* pServer = FindServer(GetSelectedServerKey());
    if (!pServer || !pServer->m_pSyncRead) return;

    CallTime start(dlg.m_strStartTime, dlg.m_bUseStartTime != FALSE);
    CallTime end(dlg.m_strEndTime, dlg.m_bUseEndTime != FALSE);
    if (!start.get() || !end.get()) return ReportOutOfMemory(*this);

    OPCHDA_ITEM* pValues = nullptr;
    HRESULT* pErrors = nullptr;
    const HRESULT hr = pServer->m_pSyncRead->ReadRaw(start.get(), end.get(), dlg.m_nMaxValues,
                                                     dlg.m_bGetBounds ? TRUE : FALSE, dwCount, pHandles.get(),
                                                     &pValues, &pErrors);
    ShowValueRead(*this, u"ReadRaw", hr, pValues, pErrors, dwCount);
}

// ---- Read Processed ----

void CServerPane::OnReadProcessed() {
    ui::WaitCursor wait;
    m_strCurrentServer = GetSelectedServerKey();
    CReadProcessedDlg dlg;
    dlg.m_pServerPane = this;
    const bool bOk = RunDialog(dlg);
    TaskMemPtr<DWORD> pAggregates(std::exchange(dlg.m_pItemAggregates, nullptr));
    if (!bOk) return;
    ReleaseLastResults();

    CHDAServer* pServer = FindServer(m_strCurrentServer);
    if (!pServer || !pServer->EnsureSyncRead() || !pServer->m_pSyncRead) return;
    CallTime start(dlg.m_strStartTime, true);
    CallTime end(dlg.m_strEndTime, true);
    if (!start.get() || !end.get()) return ReportOutOfMemory(*this);
    DWORD dwCount = 0;
    TaskMemPtr<OPCHANDLE> pHandles = SelectedHandles(*this, &dwCount);
    if (!pHandles) return;
    // One aggregate per handle: the dialog listed the same selection in the same order.
    if (com::TaskMemCount(pAggregates.get()) < dwCount) return;

    OPCHDA_ITEM* pValues = nullptr;
    HRESULT* pErrors = nullptr;
    const HRESULT hr =
        pServer->m_pSyncRead->ReadProcessed(start.get(), end.get(), dlg.m_ftResampleInterval, dwCount,
                                            pHandles.get(), pAggregates.get(), &pValues, &pErrors);
    ShowValueRead(*this, u"ReadProcessed", hr, pValues, pErrors, dwCount);
}

// ---- Read At Time ----

void CServerPane::OnReadAtTime() {
    ui::WaitCursor wait;
    m_strCurrentServer = GetSelectedServerKey();
    CReadAtTimeDlg dlg;
    const bool bOk = RunDialog(dlg);
    std::unique_ptr<FILETIME, CFree> pTimeStamps(std::exchange(dlg.m_pTimeStamps, nullptr));
    if (!bOk) return;
    ReleaseLastResults();

    CHDAServer* pServer = FindServer(m_strCurrentServer);
    if (!pServer || !pServer->EnsureSyncRead() || !pServer->m_pSyncRead) return;
    DWORD dwCount = 0;
    TaskMemPtr<OPCHANDLE> pHandles = SelectedHandles(*this, &dwCount);
    if (!pHandles || !pTimeStamps || dlg.m_nTimeStamps <= 0) return;

    OPCHDA_ITEM* pValues = nullptr;
    HRESULT* pErrors = nullptr;
    const HRESULT hr =
        pServer->m_pSyncRead->ReadAtTime(static_cast<DWORD>(dlg.m_nTimeStamps), pTimeStamps.get(), dwCount,
                                         pHandles.get(), &pValues, &pErrors);
    ShowValueRead(*this, u"ReadAtTime", hr, pValues, pErrors, dwCount);
}

// ---- Read Attribute ----

void CServerPane::OnReadAttribute() {
    ui::WaitCursor wait;
    m_strCurrentServer = GetSelectedServerKey();
    CReadAttributeDlg dlg;
    dlg.m_pServerPane = this;
    const bool bOk = RunDialog(dlg);
    // The checked ids are the operation's from OK on; the server's list is lent until the rows are named.
    m_pAttributeIds = std::exchange(dlg.m_pCheckedIds, nullptr);
    struct Cleanup {
        CServerPane& pane;
        CReadAttributeDlg& dlg;
        DWORD dwRecords = 0;
        ~Cleanup() {
            readresults::ReleaseAttributeValues(pane.m_pAttributeValues, dwRecords);
            pane.m_pAttributeValues = nullptr;
            CoTaskMemFree(pane.m_pAttributeIds);
            pane.m_pAttributeIds = nullptr;
            dlg.ReleaseAttributeList();
        }
    } cleanup{*this, dlg};
    if (!bOk) return;
    ReleaseLastResults();

    CHDAServer* pServer = FindServer(m_strCurrentServer);
    if (!pServer || !pServer->EnsureSyncRead() || !pServer->m_pSyncRead) return;
    CallTime start(u"NOW", true);
    CallTime end(u"NOW", true);
    if (!start.get() || !end.get()) return ReportOutOfMemory(*this);
    DWORD dwHandles = 0;
    TaskMemPtr<OPCHANDLE> pHandles = SelectedHandles(*this, &dwHandles);
    if (!pHandles) return;
    const DWORD dwIds = static_cast<DWORD>(
        std::min<SIZE_T>(dlg.m_nCheckedCount > 0 ? static_cast<SIZE_T>(dlg.m_nCheckedCount) : 0,
                         com::TaskMemCount(m_pAttributeIds)));
    if (dwIds == 0) return;

    HRESULT* pErrorsRaw = nullptr;
    const HRESULT hr = pServer->m_pSyncRead->ReadAttribute(start.get(), end.get(), pHandles.get()[0], dwIds,
                                                           m_pAttributeIds, &m_pAttributeValues, &pErrorsRaw);
    // The per-attribute codes are not shown.
    TaskMemPtr<HRESULT> pErrors(pErrorsRaw);
    cleanup.dwRecords = dwIds;
    if (FAILED(hr)) {
        hda::ShowMessage(Owner(*this), com::FormatW(u"ReadAttribute Failed, Function returned: 0x%X", {hr}),
                         kErrorCaption, hda::MsgIcon::Exclamation);
        return;
    }
    if (!m_pAttributeValues) {
        hda::ShowMessage(
            Owner(*this),
            com::FormatW(
                u"ReadAttribute returned 0x%X but no attribute values: the server sent nothing that can "
                u"be shown.",
                {hr}),
            kErrorCaption, hda::MsgIcon::Exclamation);
        return;
    }

    COutputPane* pOutput = GetOutputPane();
    COutputList* pList = nullptr;
    if (pOutput) {
        pOutput->CreateResultList();
        pOutput->InsertAttributeColumns();
        pList = pOutput->GetResultList();
    }
    if (!pList) return;
    const QString strNotReturned = QString::fromUtf16(CValueTabRows::kNotReturned);
    const QString strNoData = QStringLiteral("No Data");
    const SIZE_T nRecords = std::min<SIZE_T>(dwIds, com::TaskMemCount(m_pAttributeValues));
    for (DWORD i = 0; i < dwIds; ++i) {
        const int nRow = static_cast<int>(i);
        if (i >= nRecords) {
            // The server answered fewer attributes than were asked for.
            pList->InsertItem(nRow, AttributeName(dlg, m_pAttributeIds[i]));
            pList->SetItemText(nRow, 1, strNotReturned);
            pList->SetItemText(nRow, 2, strNotReturned);
            continue;
        }
        const OPCHDA_ATTRIBUTE& attribute = m_pAttributeValues[i];
        pList->InsertItem(nRow, AttributeName(dlg, attribute.dwAttributeID));
        if (attribute.dwNumValues == 0) {
            pList->SetItemText(nRow, 1, strNoData);
            pList->SetItemText(nRow, 2, strNoData);
            continue;
        }
        // Only the first value of an attribute is shown.
        pList->SetItemText(nRow, 1,
                           com::TaskMemCount(attribute.vAttributeValues) > 0
                               ? COutputPane::FormatVariant(attribute.vAttributeValues[0])
                               : strNotReturned);
        pList->SetItemText(nRow, 2,
                           com::TaskMemCount(attribute.ftTimeStamps) > 0
                               ? FormatTimestamp(attribute.ftTimeStamps[0])
                               : strNotReturned);
    }
}
