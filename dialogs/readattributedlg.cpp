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
    m_serverAttributes.clear();
}

void CReadAttributeDlg::FillAttributeList() {
    ReleaseAttributeList();
    m_pTree->clear();
    m_pList->clear();
    client::AttributeList list =
        client::GetItemAttributes(m_pServerPane ? m_pServerPane->GetCurrentHdaServer() : nullptr);
    if (list.message) {
        client::Show(this, list.message);
        return;
    }
    m_serverAttributes = std::move(list.attributes);

    const int cx = dlg::ListClientWidth(m_pList);
    m_pList->setColumnWidth(0, cx / 4);
    m_pList->setColumnWidth(1, cx / 4);
    m_pList->setColumnWidth(2, cx / 2);

    for (const client::ItemAttribute& a : m_serverAttributes) {
        const QString name = ui::ToQString(client::AttributeDisplayName(a));
        const QString desc = ui::ToQString(a.description);
        auto* row = new QTreeWidgetItem(m_pList);
        row->setText(0, ui::ToQString(com::FormatW(u"%i", {static_cast<LONG>(a.id)})));
        row->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
        row->setText(1, name);
        row->setToolTip(1, name);
        row->setText(2, desc);
        row->setToolTip(2, desc);

        auto* entry = new QTreeWidgetItem(m_pTree);
        entry->setText(0, name);
        entry->setIcon(0, m_pImageList);
        entry->setFlags((entry->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsAutoTristate);
        entry->setCheckState(0, Qt::Checked);
    }
}

void CReadAttributeDlg::OnOK() {
    std::vector<DWORD> checked;
    const int nEntries = m_pTree->topLevelItemCount();
    for (int k = 0; k < nEntries && static_cast<std::size_t>(k) < m_serverAttributes.size(); ++k)
        if (m_pTree->topLevelItem(k)->checkState(0) == Qt::Checked)
            checked.push_back(m_serverAttributes[static_cast<std::size_t>(k)].id);
    if (checked.empty()) {
        m_checkedIds.clear();
        hda::ShowMessage(this, u"No Attibutes were checked", u"Read Attribute", hda::MsgIcon::Exclamation);
        return;
    }
    m_checkedIds = std::move(checked);
    accept();
}
