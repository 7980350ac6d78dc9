// What the server pane needs of the main window: the toolbar's server box, the Function menu, and the
// command routing and enabling that menus, toolbar and accelerators go through.
#pragma once

#include <QString>

#include "client/timetext.h"

class QComboBox;
class QMenu;
class QWidget;

class IMainFrameLink {
public:
    virtual QComboBox* GetServerCombo() const = 0;
    virtual QMenu* GetFunctionMenu() const = 0;
    virtual QWidget* GetMainWindow() = 0;
    // A command issued as from a menu: it goes to the active pane, the frame or the application.
    virtual void RouteCommand(int nId) = 0;
    virtual bool IsCommandEnabled(int nId) const = 0;
    // The status-bar prompt of a command ("" when it has none).
    virtual QString GetCommandPrompt(int nId) const = 0;
    // Re-evaluates the enabling of every command (the selection changed).
    virtual void UpdateCommandUI() = 0;
    // The basis every timestamp is shown and every typed time text is read on.
    virtual client::TimeBasis GetTimeBasis() const { return client::TimeBasis::LocalCurrentBias; }

protected:
    ~IMainFrameLink() = default;
};
