#include "app/mainframe.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>

#include "app/brindlexapp.h"
#include "app/editbar.h"
#include "app/lockkeys.h"
#include "app/texts.h"
#include "outputpane/calltracepane.h"
#include "outputpane/outputpane.h"
#include "resources/icons_main.h"
#include "serverpane/commandids.h"
#include "serverpane/hostkeys.h"
#include "serverpane/opcitemctrls.h"
#include "serverpane/serverpane.h"

namespace {
constexpr int kServerPaneWidth = 300;
// Run Servers Out of Process, kept between sessions.
const QString kOutOfProcessKey = QStringLiteral("Settings/RunServersOutOfProcess");

// The time basis in the settings.
constexpr char kTimeBasisKey[] = "Settings/Time Basis";
struct BasisName {
    client::TimeBasis basis;
    const char* pszName;
};
constexpr BasisName kBasisNames[] = {
    {client::TimeBasis::LocalCurrentBias, "Local"},
    {client::TimeBasis::LocalAtInstant, "Local at each instant"},
    {client::TimeBasis::Utc, "UTC"},
};

client::TimeBasis StoredTimeBasis() {
    const QString name = QSettings().value(QLatin1String(kTimeBasisKey)).toString();
    for (const BasisName& b : kBasisNames)
        if (name == QLatin1String(b.pszName)) return b.basis;
    return client::TimeBasis::LocalCurrentBias;  // none stored, or a name this client does not know
}

void StoreTimeBasis(client::TimeBasis basis) {
    for (const BasisName& b : kBasisNames)
        if (b.basis == basis) QSettings().setValue(QLatin1String(kTimeBasisKey), QLatin1String(b.pszName));
}
}  // namespace

CMainFrame::CMainFrame(CBrindlexHDAApp* pApp) : m_pApp(pApp) {
    setObjectName(QStringLiteral("MainFrame"));
    setWindowIcon(ui::AppIcon());
    resize(1000, 680);
}

CMainFrame::~CMainFrame() {
    m_bClosing = true;
    StopCallTrace();
    qApp->removeEventFilter(this);
    disconnect(qApp, nullptr, this, nullptr);
    // The panes go first: the server pane releases every connection and ends COM. Then the toolbar,
    // which takes its server box with it.
    QWidget* pSplitter = m_wndSplitter;
    m_wndSplitter = nullptr;
    m_pServerPane = nullptr;
    m_pOutputPane = nullptr;
    m_pActivePane = nullptr;
    delete pSplitter;
    CEditBar* pToolBar = m_pToolBar;
    m_pToolBar = nullptr;
    delete pToolBar;
}

int CMainFrame::OnCreate() {
    m_pToolBar = new CEditBar;  // not yet placed
    if (QSettings().value(kOutOfProcessKey, false).toBool())
        m_bServersOutOfProcess = serverpane::SetServersOutOfProcess(true);
    m_timeBasis = StoredTimeBasis();

    CreateMenus();
    CreateAccelerators();
    if (!OnCreateClient()) return -1;

    if (!m_pToolBar->CreateEditBar(this, TRUE, [this](int nId) { return GetCommandAction(nId); })) return -1;
    if (!CreateStatusBar()) return -1;

    // The bar docks on any side and is not docked by code: it starts across the top.
    m_pToolBar->setWindowTitle(QString::fromLatin1(app::kToolbarTitle));
    m_pToolBar->setAllowedAreas(Qt::AllToolBarAreas);
    m_pToolBar->setMovable(true);
    m_pToolBar->setFloatable(true);
    addToolBar(Qt::TopToolBarArea, m_pToolBar);

    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget*, QWidget* pNow) { OnFocusChanged(pNow); });
    qApp->installEventFilter(this);

    m_pServerPane->InitComAndDiscoverServers();
    UpdateCommandUI();
    UpdateLockIndicators();
    return 0;
}

BOOL CMainFrame::OnCreateClient() {
    m_wndSplitter = new QSplitter(Qt::Horizontal, this);
    m_wndSplitter->setObjectName(QStringLiteral("Splitter"));
    m_wndSplitter->setChildrenCollapsible(false);

    m_pServerPane = new CServerPane(m_wndSplitter);
    m_pServerPane->resize(kServerPaneWidth, kServerPaneWidth);

    m_pOutputPane = new COutputPane(m_wndSplitter);
    m_pOutputPane->setObjectName(QStringLiteral("OutputPane"));
    m_pOutputPane->setFocusPolicy(Qt::StrongFocus);
    m_pOutputPane->resize(0, 0);  // it takes the remaining width

    m_wndSplitter->addWidget(m_pServerPane);
    m_wndSplitter->addWidget(m_pOutputPane);
    m_wndSplitter->setStretchFactor(0, 0);
    m_wndSplitter->setStretchFactor(1, 1);
    m_wndSplitter->setSizes({kServerPaneWidth, std::max(0, width() - kServerPaneWidth)});

    m_pOutputPane->SetServerPane(m_pServerPane);
    m_pServerPane->SetOutputPane(m_pOutputPane);
    m_pServerPane->m_pMainFrame = this;
    setCentralWidget(m_wndSplitter);
    m_pActivePane = m_pServerPane;
    return TRUE;
}

QAction* CMainFrame::MakeAction(int nId) {
    auto it = m_actions.find(nId);
    if (it != m_actions.end()) return it->second;
    auto* pAction = new QAction(this);
    pAction->setData(nId);
    pAction->setIconVisibleInMenu(false);
    pAction->setShortcutContext(Qt::WindowShortcut);
    if (const cmd::Command* pCommand = cmd::FindCommand(nId)) {
        if (pCommand->pszCaption) pAction->setText(QString::fromLatin1(pCommand->pszCaption));
        if (pCommand->pszPrompt) pAction->setStatusTip(QString::fromLatin1(pCommand->pszPrompt));
        if (pCommand->pszTooltip) pAction->setToolTip(QString::fromLatin1(pCommand->pszTooltip));
        if (pCommand->pfnChecked) pAction->setCheckable(true);
        if (pCommand->bRadio) {
            if (!m_pRadioGroup) m_pRadioGroup = new QActionGroup(this);
            m_pRadioGroup->addAction(pAction);
        }
    }
    pAction->setObjectName(QStringLiteral("Command%1").arg(nId));
    connect(pAction, &QAction::triggered, this, [this, nId] { RouteCommand(nId); });
    m_actions.emplace(nId, pAction);
    return pAction;
}

QAction* CMainFrame::GetCommandAction(int nId) const {
    auto it = m_actions.find(nId);
    if (it != m_actions.end()) return it->second;
    return const_cast<CMainFrame*>(this)->MakeAction(nId);
}

void CMainFrame::CreateMenus() {
    QMenuBar* pBar = menuBar();
    for (const cmd::MenuTitle& title : cmd::Menus()) {
        QMenu* pMenu = pBar->addMenu(QString::fromLatin1(title.pszTitle));
        pMenu->setObjectName(QString::fromLatin1(title.pszObjectName));
        for (const cmd::Command& c : cmd::Commands()) {
            if (c.menu != title.menu) continue;
            if (c.bSeparatorBefore) pMenu->addSeparator();
            pMenu->addAction(MakeAction(c.nId));
        }
        connect(pMenu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
        if (title.menu == cmd::Menu::Function) m_pFunctionMenu = pMenu;
    }
}

void CMainFrame::CreateAccelerators() {
    // Each key of the table is caught in the main window, also when its command has no handler or is
    // disabled: then the key is used up and nothing happens, rather than reaching the focused control
    // (an item view would copy its text on Ctrl+C).
    for (const cmd::Command& c : cmd::Commands()) {
        MakeAction(c.nId);
        const QList<QKeySequence> keys = cmd::Shortcuts(c);
        if (keys.isEmpty()) continue;
        auto* pKeys = new QAction(this);
        pKeys->setObjectName(QStringLiteral("Accelerator%1").arg(c.nId));
        pKeys->setShortcuts(keys);
        pKeys->setShortcutContext(Qt::WindowShortcut);
        const int nId = c.nId;
        connect(pKeys, &QAction::triggered, this, [this, nId] { RouteCommand(nId); });
        addAction(pKeys);
    }
}

BOOL CMainFrame::CreateStatusBar() {
    m_wndStatusBar = new QStatusBar(this);
    m_wndStatusBar->setObjectName(QStringLiteral("StatusBar"));
    m_wndStatusBar->setProperty("controlId", ID_VIEW_STATUS_BAR);
    m_pMessagePane = new QLabel(QString::fromLatin1(app::kIdleMessage));
    m_pMessagePane->setObjectName(QStringLiteral("MessagePane"));
    m_wndStatusBar->addWidget(m_pMessagePane, 1);
    const char* const texts[3] = {app::kIndicatorCaps, app::kIndicatorNum, app::kIndicatorScroll};
    for (int i = 0; i < 3; ++i) {
        auto* pPane = new QLabel;
        pPane->setObjectName(QString::fromLatin1(texts[i]));
        pPane->setFrameShape(QFrame::Panel);
        pPane->setFrameShadow(QFrame::Sunken);
        pPane->setAlignment(Qt::AlignCenter);
        pPane->setMinimumWidth(pPane->fontMetrics().horizontalAdvance(QString::fromLatin1(texts[i])) + 12);
        m_wndStatusBar->addPermanentWidget(pPane);
        m_pIndicators[i] = pPane;
    }
    // The time basis in a pane of its own, before the indicators; its offset is read again each minute.
    m_pTimeBasisPane = new QLabel;
    m_pTimeBasisPane->setObjectName(QStringLiteral("TimeBasisPane"));
    m_pTimeBasisPane->setFrameShape(QFrame::Panel);
    m_pTimeBasisPane->setFrameShadow(QFrame::Sunken);
    m_pTimeBasisPane->setAlignment(Qt::AlignCenter);
    m_wndStatusBar->insertPermanentWidget(1, m_pTimeBasisPane);  // after the message pane
    UpdateTimeBasisPane();
    auto* pMinute = new QTimer(this);
    connect(pMinute, &QTimer::timeout, this, &CMainFrame::UpdateTimeBasisPane);
    pMinute->start(60 * 1000);
    setStatusBar(m_wndStatusBar);
    return TRUE;
}

QString CMainFrame::GetIndicatorText(int nIndex) const {
    return nIndex >= 0 && nIndex < 3 && m_pIndicators[nIndex] ? m_pIndicators[nIndex]->text() : QString();
}

void CMainFrame::UpdateLockIndicators() {
    const app::LockKeyState state = app::QueryLockKeys();
    const bool on[3] = {state.bCaps, state.bNum, state.bScroll};
    const char* const texts[3] = {app::kIndicatorCaps, app::kIndicatorNum, app::kIndicatorScroll};
    for (int i = 0; i < 3; ++i)
        if (m_pIndicators[i]) m_pIndicators[i]->setText(on[i] ? QString::fromLatin1(texts[i]) : QString());
}

bool CMainFrame::eventFilter(QObject* pWatched, QEvent* pEvent) {
    switch (pEvent->type()) {
        case QEvent::KeyRelease: {
            const int nKey = static_cast<QKeyEvent*>(pEvent)->key();
            if (nKey == Qt::Key_CapsLock || nKey == Qt::Key_NumLock || nKey == Qt::Key_ScrollLock)
                UpdateLockIndicators();
            break;
        }
        case QEvent::ApplicationActivate:
            UpdateLockIndicators();
            break;
        default:
            break;
    }
    return QMainWindow::eventFilter(pWatched, pEvent);
}

QComboBox* CMainFrame::GetServerCombo() const {
    return m_pToolBar ? m_pToolBar->m_pServerCombo : nullptr;
}

QString CMainFrame::GetCommandPrompt(int nId) const {
    const cmd::Command* pCommand = cmd::FindCommand(nId);
    return pCommand && pCommand->pszPrompt ? QString::fromLatin1(pCommand->pszPrompt) : QString();
}

// ---- Routing and enabling ----

void CMainFrame::SetActivePane(QWidget* pPane) {
    if (pPane && (pPane == m_pServerPane || pPane == m_pOutputPane)) m_pActivePane = pPane;
}

void CMainFrame::OnFocusChanged(QWidget* pNow) {
    if (m_bClosing || !pNow) return;
    if (m_pServerPane && (pNow == m_pServerPane || m_pServerPane->isAncestorOf(pNow)))
        m_pActivePane = m_pServerPane;
    else if (m_pOutputPane && (pNow == m_pOutputPane || m_pOutputPane->isAncestorOf(pNow)))
        m_pActivePane = m_pOutputPane;
    UpdateCommandUI();
}

void CMainFrame::ActivateOtherPane() {
    if (!m_pServerPane || !m_pOutputPane) return;
    if (m_pActivePane == m_pServerPane) {
        m_pActivePane = m_pOutputPane;
        m_pOutputPane->setFocus(Qt::OtherFocusReason);
    } else {
        m_pActivePane = m_pServerPane;
        m_pServerPane->GetServerTree()->setFocus(Qt::OtherFocusReason);
    }
}

bool CMainFrame::IsCommandEnabled(int nId) const {
    const cmd::Command* pCommand = cmd::FindCommand(nId);
    if (!pCommand || !pCommand->handler) return false;  // no handler, or not built
    if (!pCommand->handler.pfnPane) return true;        // the frame's own: whenever it has a handler
    // Both panes carry the pane commands with the same rules; the active one answers.
    if (!m_pServerPane) return false;
    if (m_pActivePane == m_pOutputPane) return m_pOutputPane->IsCommandEnabled(nId);
    return m_pServerPane->IsCommandEnabled(nId);
}

void CMainFrame::RouteCommand(int nId) {
    if (m_bClosing || !IsCommandEnabled(nId)) return;  // no handler, or disabled: ignored
    const cmd::Handler& handler = cmd::FindCommand(nId)->handler;
    if (handler.pfnPane) {
        // The active pane takes it; the output pane forwards every command to the server pane.
        if (m_pActivePane == m_pOutputPane)
            m_pOutputPane->OnCommand(nId);
        else
            static_cast<IOutputPaneHost*>(m_pServerPane)->OnCommand(nId);
        return;
    }
    (static_cast<IFrameCommands*>(this)->*handler.pfnFrame)();
    UpdateCommandUI();
}

void CMainFrame::UpdateCommandUI() {
    if (m_bClosing) return;
    UpdateTimeBasisPane();  // the offset may have changed since
    for (auto& [nId, pAction] : m_actions) {
        pAction->setEnabled(IsCommandEnabled(nId));
        const cmd::Command* pCommand = cmd::FindCommand(nId);
        if (pCommand && pCommand->pfnChecked)
            pAction->setChecked((static_cast<const IFrameCommands*>(this)->*pCommand->pfnChecked)());
    }
}

// ---- The time basis ----

void CMainFrame::SetTimeBasis(client::TimeBasis basis) {
    const bool bChanged = basis != m_timeBasis;
    m_timeBasis = basis;
    StoreTimeBasis(basis);
    UpdateTimeBasisPane();
    if (bChanged && m_pOutputPane) m_pOutputPane->OnTimeBasisChanged();
    if (m_pCallTraceDock) m_pCallTraceDock->GetPane()->SetTimeBasis(basis);
}

void CMainFrame::UpdateTimeBasisPane() {
    if (!m_pTimeBasisPane) return;
    const QString text = QString::fromStdU16String(client::TimeBasisText(m_timeBasis));
    m_pTimeBasisPane->setText(text);
    m_pTimeBasisPane->setToolTip(QStringLiteral("Times are shown and read as: ") + text);
}

// ---- The frame's own commands ----

void CMainFrame::OnAppExit() {
    close();
}

void CMainFrame::OnViewStatusBar() {
    if (m_wndStatusBar) m_wndStatusBar->setVisible(!m_wndStatusBar->isVisible());
}

bool CMainFrame::IsStatusBarShown() const {
    return m_wndStatusBar && !m_wndStatusBar->isHidden();
}

void CMainFrame::OnServerOutOfProcess() {
    const bool bOn = !m_bServersOutOfProcess;
    if (!serverpane::SetServersOutOfProcess(bOn)) return;
    m_bServersOutOfProcess = bOn;
    QSettings().setValue(kOutOfProcessKey, bOn);
}

void CMainFrame::OnViewCallTrace() {
    if (!m_pServerPane) return;
    if (IsCallTraceShown()) {
        m_pCallTraceDock->hide();
        StopCallTrace();
        return;
    }
    if (!m_pCallTraceDock) {
        m_pCallTraceDock = new CCallTraceDock(this);
        m_pCallTraceDock->m_onClosed = [this] {
            StopCallTrace();
            UpdateCommandUI();
        };
        addDockWidget(Qt::BottomDockWidgetArea, m_pCallTraceDock);
        m_pCallTraceDock->GetPane()->SetTimeBasis(m_timeBasis);
    }
    m_pServerPane->GetCallTrace().SetRecorder(&m_pCallTraceDock->GetPane()->Log());
    m_pCallTraceDock->show();
}

bool CMainFrame::IsCallTraceShown() const {
    // While its close button is handled the dock is not hidden yet, but it records no more.
    return m_pCallTraceDock && !m_pCallTraceDock->isHidden() && m_pServerPane &&
           m_pServerPane->GetCallTrace().Recorder();
}

void CMainFrame::StopCallTrace() {
    if (m_pServerPane) m_pServerPane->GetCallTrace().SetRecorder(nullptr);
}

void CMainFrame::OnAppAbout() {
    if (m_pApp) m_pApp->OnAppAbout();
}

void CMainFrame::OnFileNew() {
    if (m_pApp) m_pApp->OnFileNew();
}

void CMainFrame::OnFileSave() {
    if (m_pApp) m_pApp->OnFileSave();
}
