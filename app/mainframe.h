// The main window: menus, the "Server" toolbar, the status bar and the splitter holding the server
// pane (left) and the output pane (right), all built from the command table. Every command of menus,
// toolbar, accelerators and context menus goes through RouteCommand and is enabled in UpdateCommandUI.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <map>

#include "client/timetext.h"
#include "com/types.h"
#include "serverpane/commands.h"
#include "serverpane/mainframelink.h"

class CBrindlexHDAApp;
class CCallTraceDock;
class CEditBar;
class COutputPane;
class CServerPane;
class QActionGroup;
class QLabel;
class QSplitter;
class QStatusBar;

class CMainFrame : public QMainWindow, public IMainFrameLink, public IFrameCommands {
    Q_OBJECT
public:
    explicit CMainFrame(CBrindlexHDAApp* pApp = nullptr);
    ~CMainFrame() override;

    // Builds menus, client area, toolbar and status bar, then starts COM set-up and discovery.
    // 0 on success, -1 on failure.
    int OnCreate();

    // IMainFrameLink
    QComboBox* GetServerCombo() const override;
    QMenu* GetFunctionMenu() const override { return m_pFunctionMenu; }
    QWidget* GetMainWindow() override { return this; }
    void RouteCommand(int nId) override;
    bool IsCommandEnabled(int nId) const override;
    QString GetCommandPrompt(int nId) const override;
    void UpdateCommandUI() override;
    client::TimeBasis GetTimeBasis() const override { return m_timeBasis; }

    // IFrameCommands: the frame's own commands and those of the application object.
    void OnAppExit() override;
    void OnViewStatusBar() override;
    bool IsStatusBarShown() const override;
    // The call trace dock: made the first time it is turned on, docked at the bottom; while it is
    // shown its log records every call to the servers, and nothing is recorded while it is hidden.
    void OnViewCallTrace() override;
    bool IsCallTraceShown() const override;
    CCallTraceDock* GetCallTraceDock() const { return m_pCallTraceDock; }
    void OnNextPane() override { ActivateOtherPane(); }
    void OnPrevPane() override { ActivateOtherPane(); }
    void OnAppAbout() override;
    void OnFileNew() override;
    void OnFileSave() override;
    void OnServerOutOfProcess() override;
    bool IsServerOutOfProcess() const override { return m_bServersOutOfProcess; }
    void OnViewTimeLocal() override { SetTimeBasis(client::TimeBasis::LocalCurrentBias); }
    void OnViewTimeInstant() override { SetTimeBasis(client::TimeBasis::LocalAtInstant); }
    void OnViewTimeUtc() override { SetTimeBasis(client::TimeBasis::Utc); }
    bool IsTimeLocal() const override { return m_timeBasis == client::TimeBasis::LocalCurrentBias; }
    bool IsTimeInstant() const override { return m_timeBasis == client::TimeBasis::LocalAtInstant; }
    bool IsTimeUtc() const override { return m_timeBasis == client::TimeBasis::Utc; }

    // The basis every timestamp is shown and read on: kept in the settings, shown in its status-bar
    // pane, and applied at once to what the output pane shows.
    void SetTimeBasis(client::TimeBasis basis);
    QLabel* GetTimeBasisPane() const { return m_pTimeBasisPane; }
    // The pane's text again, with the offset in force now.
    void UpdateTimeBasisPane();

    QAction* GetCommandAction(int nId) const;
    QWidget* GetActivePane() const { return m_pActivePane; }
    void SetActivePane(QWidget* pPane);
    CServerPane* GetServerPane() const { return m_pServerPane; }
    COutputPane* GetOutputPane() const { return m_pOutputPane; }
    CEditBar* GetEditBar() const { return m_pToolBar; }
    QSplitter* GetSplitter() const { return m_wndSplitter; }
    QLabel* GetMessagePane() const { return m_pMessagePane; }
    // The CAP, NUM and SCRL panes as shown now.
    QString GetIndicatorText(int nIndex) const;
    void UpdateLockIndicators();

    CEditBar* m_pToolBar = nullptr;      // owned
    QSplitter* m_wndSplitter = nullptr;  // the client area; owns both panes
    QStatusBar* m_wndStatusBar = nullptr;
    CServerPane* m_pServerPane = nullptr;  // not owned

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    BOOL OnCreateClient();
    void CreateMenus();
    void CreateAccelerators();
    QAction* MakeAction(int nId);
    BOOL CreateStatusBar();
    void OnFocusChanged(QWidget* pNow);
    void ActivateOtherPane();
    void StopCallTrace();

    CBrindlexHDAApp* m_pApp;
    bool m_bServersOutOfProcess = false;   // kept in the settings
    COutputPane* m_pOutputPane = nullptr;  // not owned
    QWidget* m_pActivePane = nullptr;
    QMenu* m_pFunctionMenu = nullptr;
    CCallTraceDock* m_pCallTraceDock = nullptr;  // child window, made when first shown
    QLabel* m_pMessagePane = nullptr;
    QLabel* m_pIndicators[3] = {};
    QLabel* m_pTimeBasisPane = nullptr;
    QActionGroup* m_pRadioGroup = nullptr;  // the checked commands shown as radio items
    client::TimeBasis m_timeBasis = client::TimeBasis::LocalCurrentBias;
    std::map<int, QAction*> m_actions;
    bool m_bClosing = false;
};
