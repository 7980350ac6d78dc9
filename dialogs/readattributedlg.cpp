#include "dialogs/readattributedlg.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>
#include <string>
#include <vector>

#include "com/objbase.h"
#include "com/text.h"
#include "hda/messages.h"
#include "resources/uikit.h"

namespace {
#include "resources/icons/attribute.xpm"
}  // namespace

CReadAttributeDlg::CReadAttributeDlg(QWidget* pParent) : QDialog(pParent) {
    setWindowTitle(QStringLiteral("Read Attribute"));
    setFont(ui::DialogFont());
    const dlg::Placer at(font());

    at.Place(dlg::MakeGroup(this, QStringLiteral("Attributes")), 7, 7, 287, 92);
    at.Place(dlg::MakeLabel(this, QStringLiteral("Select HDA Attributes to Read")), 15, 18, 200, 8);
    m_pTree = new QTreeWidget(this);
    dlg::SetCtrlId(m_pTree, IDC_ATTRIBUTE_TREE);
    m_pTree->setHeaderHidden(true);
    m_pTree->setRootIsDecorated(false);
    m_pTree->setUniformRowHeights(true);
    m_pTree->setIconSize(QSize(16, 16));
    at.Place(m_pTree, 15, 29, 267, 65);

    at.Place(dlg::MakeGroup(this, QStringLiteral("Server HDA Attributes")), 7, 100, 287, 84);
    m_pList = dlg::MakeReportList(this, IDC_ATTRIBUTE_LIST,
                                  {QStringLiteral("Attribute ID"), QStringLiteral("Attribute Name"),
                                   QStringLiteral("Attribute Description")});
    m_pList->headerItem()->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
    at.Place(m_pList, 14, 110, 276, 70);

    auto* pCancel = new QPushButton(QStringLiteral("Cancel"), this);
    dlg::SetCtrlId(pCancel, IDCANCEL);
    at.Place(pCancel, 178, 185, 50, 14);
    m_pOk = new QPushButton(QStringLiteral("Read Attribute"), this);
    dlg::SetCtrlId(m_pOk, IDOK);
    m_pOk->setDefault(true);
    at.Place(m_pOk, 234, 185, 60, 14);

    setFixedSize(at.Size(301, 206));
    connect(m_pOk, &QPushButton::clicked, this, &CReadAttributeDlg::OnOK);
    connect(pCancel, &QPushButton::clicked, this, &QDialog::reject);
}

CReadAttributeDlg::~CReadAttributeDlg() {
    ReleaseAttributeList();
}

int CReadAttributeDlg::exec() {
    OnInitDialog();
    return QDialog::exec();
}

void CReadAttributeDlg::done(int r) {
    if (r != Accepted) ReleaseAttributeList();
    QDialog::done(r);
}

void CReadAttributeDlg::OnInitDialog() {
    m_pImageList = QIcon(QPixmap(attribute_xpm));
    FillAttributeList();
    m_pTree->setFocus();
}

void CReadAttributeDlg::ReleaseAttributeList() {
    if (m_pServerAttributeNames) {
        for (LONG i = 0; i < m_nServerAttributes; ++i) CoTaskMemFree(m_pServerAttributeNames[i]);
    }
    CoTaskMemFree(m_pServerAttributeNames);
    CoTaskMemFree(m_pServerAttributeIds);
    m_pServerAttributeNames = nullptr;
    m_pServerAttributeIds = nullptr;
    m_nServerAttributes = 0;
}

void CReadAttributeDlg::FillAttributeList() {
    ReleaseAttributeList();
    m_pTree->clear();
    m_pList->clear();
    IOPCHDA_Server* pServer = m_pServerPane ? m_pServerPane->GetCurrentHdaServer() : nullptr;
    if (!pServer) return;  // no connection: nothing to tick, and OK says so

    DWORD dwCount = 0;
    DWORD* pIds = nullptr;
    LPWSTR* pNames = nullptr;
    LPWSTR* pDescs = nullptr;
    VARTYPE* pTypes = nullptr;
    const HRESULT hr = pServer->GetItemAttributes(&dwCount, &pIds, &pNames, &pDescs, &pTypes);

    // Whatever the count claims, no further than the arrays the server really allocated; the list is
    // as long as the ids reach (and a LONG can count).
    const SIZE_T nNames = std::min<SIZE_T>(dwCount, com::TaskMemCount(pNames));
    const SIZE_T nDescs = std::min<SIZE_T>(dwCount, com::TaskMemCount(pDescs));
    const SIZE_T nUsable =
        FAILED(hr) ? 0
                   : std::min<SIZE_T>({dwCount, com::TaskMemCount(pIds), static_cast<SIZE_T>(0x7FFFFFFF)});

    // The descriptions are only shown: keep their text, release the server's strings at once.
    std::vector<std::u16string> descs(nUsable);
    for (SIZE_T i = 0; i < nDescs; ++i) {
        if (i < nUsable) dlg::ServerString(pDescs[i], &descs[i]);
        CoTaskMemFree(pDescs[i]);
    }
    CoTaskMemFree(pDescs);
    CoTaskMemFree(pTypes);

    if (FAILED(hr)) {
        for (SIZE_T i = 0; i < nNames; ++i) CoTaskMemFree(pNames[i]);
        CoTaskMemFree(pNames);
        CoTaskMemFree(pIds);
        hda::ShowMessage(this, com::FormatW(u"Error Retrieving Aggregates, Function Returned 0x%x", {hr}),
                         u"Error", hda::MsgIcon::Exclamation);
        return;
    }

    // Names without an id are of no use; the name array must reach as far as the ids do, so a short
    // one is replaced by one of the right length.
    for (SIZE_T i = nUsable; i < nNames; ++i) CoTaskMemFree(pNames[i]);
    if (nNames < nUsable) {
        auto* pAll = static_cast<LPWSTR*>(CoTaskMemAlloc(nUsable * sizeof(LPWSTR)));
        if (!pAll) {
            for (SIZE_T i = 0; i < nNames; ++i) CoTaskMemFree(pNames[i]);
            CoTaskMemFree(pNames);
            CoTaskMemFree(pIds);
            hda::ShowMessage(this, u"Out of Memory!!!", u"Error", hda::MsgIcon::Exclamation);
            return;
        }
        for (SIZE_T i = 0; i < nUsable; ++i) pAll[i] = i < nNames ? pNames[i] : nullptr;
        CoTaskMemFree(pNames);
        pNames = pAll;
    }
    m_nServerAttributes = static_cast<LONG>(nUsable);
    m_pServerAttributeIds = pIds;
    m_pServerAttributeNames = pNames;

    const int cx = dlg::ListClientWidth(m_pList);
    m_pList->setColumnWidth(0, cx / 4);
    m_pList->setColumnWidth(1, cx / 4);
    m_pList->setColumnWidth(2, cx / 2);

    for (LONG k = 0; k < m_nServerAttributes; ++k) {
        const DWORD id = m_pServerAttributeIds[k];
        std::u16string name;
        if (!dlg::ServerString(m_pServerAttributeNames[k], &name))
            name = com::FormatW(u"(no name, ID %i)", {static_cast<LONG>(id)});
        auto* row = new QTreeWidgetItem(m_pList);
        const QString idText = ui::ToQString(com::FormatW(u"%i", {static_cast<LONG>(id)}));
        row->setText(0, idText);
        row->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
        row->setText(1, ui::ToQString(name));
        row->setToolTip(1, ui::ToQString(name));
        row->setText(2, ui::ToQString(descs[static_cast<SIZE_T>(k)]));
        row->setToolTip(2, ui::ToQString(descs[static_cast<SIZE_T>(k)]));

        auto* entry = new QTreeWidgetItem(m_pTree);
        entry->setText(0, ui::ToQString(name));
        entry->setIcon(0, m_pImageList);
        entry->setFlags((entry->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsAutoTristate);
        entry->setCheckState(0, Qt::Checked);
    }
}

void CReadAttributeDlg::OnOK() {
    LONG nChecked = 0;
    const int nEntries = m_pTree->topLevelItemCount();
    for (int k = 0; k < nEntries; ++k)
        if (m_pTree->topLevelItem(k)->checkState(0) == Qt::Checked) ++nChecked;

    if (nChecked == 0) {
        m_nCheckedCount = 0;
        hda::ShowMessage(this, u"No Attibutes were checked", u"Read Attribute", hda::MsgIcon::Exclamation);
        return;
    }
    auto* pChecked = static_cast<DWORD*>(CoTaskMemAlloc(sizeof(DWORD) * static_cast<SIZE_T>(nChecked)));
    if (!pChecked) {
        hda::ShowMessage(this, u"Out of Memory!!!", u"Error", hda::MsgIcon::Exclamation);
        return;
    }
    LONG n = 0;
    for (int k = 0; k < nEntries && k < m_nServerAttributes; ++k)
        if (m_pTree->topLevelItem(k)->checkState(0) == Qt::Checked) pChecked[n++] = m_pServerAttributeIds[k];
    m_nCheckedCount = n;
    m_pCheckedIds = pChecked;
    accept();
}
