#include "outputpane/errorsdlg.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <algorithm>

#include "hda/opchda.h"
#include "resources/uikit.h"

namespace {
// A one-line static text placed in dialog units. Where the font at hand is wider than the one the
// layout was drawn for, the text may use the free room up to nRightLimit; beyond that it is elided
// and the whole text goes to the tooltip, never cut in the middle of a word.
QLabel* StaticText(QWidget* parent, const QString& text, const QRect& rect, int nRightLimit) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    const QFontMetrics metrics(parent->font());
    const int needed = metrics.horizontalAdvance(text) + 2;
    const int width = std::max(rect.width(), std::min(needed, nRightLimit - rect.left()));
    if (needed > width) {
        label->setText(metrics.elidedText(text, Qt::ElideRight, width));
        label->setToolTip(text);
    } else {
        label->setText(text);
    }
    label->setGeometry(rect.left(), rect.top(), width, rect.height());
    return label;
}
}  // namespace

CErrorsEncounteredDlg::CErrorsEncounteredDlg(QWidget* parent)
    // A caption and no system menu: no close box.
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), m_pList(nullptr) {
    const QFont font = ui::DialogFont();
    setFont(font);
    setWindowTitle(QStringLiteral("Errors Encountered Adding Items"));
    setFixedSize(ui::DluX(font, 356), ui::DluY(font, 127));

    auto* close = new QPushButton(QStringLiteral("&Close"), this);
    close->setObjectName(QStringLiteral("IDOK"));
    close->setDefault(true);
    close->setGeometry(ui::DluRect(font, 299, 7, 50, 14));
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    // The first line ends before the button beside it, the second at the dialog's margin.
    StaticText(this, QString::fromUtf16(kCompletedText), ui::DluRect(font, 35, 17, 258, 10),
               close->geometry().left() - ui::DluX(font, 2));
    StaticText(this, QString::fromUtf16(kMayNotHaveText), ui::DluRect(font, 36, 30, 245, 11),
               width() - ui::DluX(font, 7));

    auto* icon = new QLabel(this);
    const QRect iconRect = ui::DluRect(font, 7, 23, 21, 20);
    QIcon appIcon = QApplication::windowIcon();
    if (appIcon.isNull()) appIcon = style()->standardIcon(QStyle::SP_MessageBoxInformation);
    const int side = std::min(iconRect.width(), iconRect.height());
    icon->setPixmap(appIcon.pixmap(side, side));
    icon->setGeometry(iconRect);

    m_pList = new QTreeWidget(this);
    m_pList->setObjectName(QStringLiteral("IDC_ERRORS_LIST"));
    m_pList->setProperty("controlId", IDC_ERRORS_LIST);
    m_pList->setGeometry(ui::DluRect(font, 7, 50, 342, 70));
    m_pList->setRootIsDecorated(false);
    m_pList->setItemsExpandable(false);
    m_pList->setUniformRowHeights(true);
    m_pList->setAllColumnsShowFocus(true);
    m_pList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pList->setFocusPolicy(Qt::StrongFocus);
    m_pList->header()->setStretchLastSection(false);
    m_pList->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void CErrorsEncounteredDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    OnInitDialog();
}

void CErrorsEncounteredDlg::OnInitDialog() {
    if (m_bInitialised) return;
    m_bInitialised = true;

    m_pList->setColumnCount(3);
    m_pList->setHeaderLabels(
        {QStringLiteral("Item ID"), QStringLiteral("Result Code"), QStringLiteral("Error Description")});
    m_pList->setColumnWidth(0, 100);
    m_pList->setColumnWidth(1, 95);
    m_pList->setColumnWidth(2, 300);

    QList<QTreeWidgetItem*> rows;
    for (std::size_t j = 0; j < m_errors.size(); ++j) {
        const HRESULT hr = m_errors[j];
        if (hr == 0) continue;  // any other code is listed, success codes included
        auto* row = new QTreeWidgetItem;
        if (j < m_itemIds.size()) row->setText(0, ui::ToQString(m_itemIds[j]));
        row->setText(1, QString::number(static_cast<DWORD>(hr), 16).toUpper());
        row->setText(2,
                     QString::fromUtf16(hr == OPC_E_INVALIDITEMID ? kInvalidItemIdText : kUnknownErrorText));
        rows.append(row);
    }
    m_pList->addTopLevelItems(rows);
}
