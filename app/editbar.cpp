#include "app/editbar.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QMainWindow>

#include "app/texts.h"
#include "resources/icons_main.h"
#include "serverpane/commandids.h"
#include "serverpane/commands.h"

namespace {
constexpr int kServerBoxWidth = 400;
constexpr int kServerBoxDropHeight = 150;
}  // namespace

CEditBar::CEditBar(QWidget* pParent) : QToolBar(pParent) {}

CEditBar::~CEditBar() {
    delete m_pServerCombo;  // owned by the bar, whichever widget it sits in
    m_pServerCombo = nullptr;
}

BOOL CEditBar::CreateEditBar(QMainWindow* pParent, BOOL bToolTips,
                             const std::function<QAction*(int)>& actionFor) {
    if (!pParent) return FALSE;
    m_pServerCombo = new QComboBox;
    m_bVertical = 0;

    setParent(pParent);
    setObjectName(QStringLiteral("EditBar"));
    setProperty("controlId", IDW_EDITBAR);
    setIconSize(QSize(16, 16));
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    if (!bToolTips) setToolTipDuration(0);

    for (int nSlot = 0; nSlot < cmd::ToolbarSlotCount(); ++nSlot) {
        const cmd::Command* pCommand = cmd::FindToolbarCommand(nSlot);
        if (nSlot == 0) {
            // The server box, and the button that takes its place in a vertical dock.
            m_pServerCombo->setObjectName(QStringLiteral("ServerCombo"));
            m_pServerCombo->setProperty("controlId", IDC_SERVER_COMBO);
            m_pServerCombo->setEditable(false);
            m_pServerCombo->setFixedWidth(kServerBoxWidth);
            m_pServerCombo->setInsertPolicy(QComboBox::NoInsert);
            m_pServerCombo->setStatusTip(QString::fromLatin1(app::kServerBoxPrompt));
            m_pServerCombo->setAccessibleName(QString::fromLatin1(app::kServerBoxPrompt));
            const int nRow = std::max(1, m_pServerCombo->fontMetrics().height() + 2);
            m_pServerCombo->setMaxVisibleItems(std::max(1, kServerBoxDropHeight / nRow));
            m_pComboSlot = addWidget(m_pServerCombo);
            m_pButtonSlot = pCommand && actionFor ? actionFor(pCommand->nId) : nullptr;
            if (!m_pButtonSlot) return FALSE;
            m_pButtonSlot->setIcon(ui::ToolbarImage(pCommand->nImage));
            addAction(m_pButtonSlot);
            continue;
        }
        if (!pCommand) {
            addSeparator();
            continue;
        }
        QAction* pAction = actionFor ? actionFor(pCommand->nId) : nullptr;
        if (!pAction) return FALSE;
        pAction->setIcon(ui::ToolbarImage(pCommand->nImage));
        pAction->setIconVisibleInMenu(false);
        addAction(pAction);
    }
    connect(this, &QToolBar::orientationChanged, this, &CEditBar::OnOrientationChanged);
    connect(this, &QToolBar::topLevelChanged, this, &CEditBar::OnFloatingChanged);
    ShowHorizontal();
    return TRUE;
}

void CEditBar::ShowHorizontal() {
    m_bVertical = 0;
    if (m_pButtonSlot) m_pButtonSlot->setVisible(false);
    if (m_pComboSlot) m_pComboSlot->setVisible(true);
}

void CEditBar::ShowVertical() {
    m_bVertical = 1;
    if (m_pComboSlot) m_pComboSlot->setVisible(false);
    if (m_pButtonSlot) m_pButtonSlot->setVisible(true);
}

void CEditBar::OnOrientationChanged(Qt::Orientation orientation) {
    if (orientation == Qt::Vertical && !m_bVertical)
        ShowVertical();
    else if (orientation == Qt::Horizontal && m_bVertical)
        ShowHorizontal();
}

void CEditBar::OnFloatingChanged(bool bFloating) {
    if (bFloating && orientation() == Qt::Vertical) setOrientation(Qt::Horizontal);
}
