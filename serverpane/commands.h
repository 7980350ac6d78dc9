// The main window's command table. Every command of the menus, the toolbar, the accelerators and the
// context menus is declared here once: its caption, prompt and tooltip, where it sits, its keys, when it
// is enabled and which handler carries it out. The frame builds its menus, toolbar and accelerators
// from the table and carries out its own commands by it; the server pane enables and carries out the
// pane's commands by it; the output pane forwards to the server pane whatever the server pane carries.
//
// A command whose operation is not built yet has kNotBuilt as its handler: it shows in its places,
// disabled, and its keys do nothing. Giving the row its handler enables it.
#pragma once

#include <QKeyCombination>
#include <QKeySequence>
#include <QList>
#include <span>

#include "serverpane/commandids.h"

class CServerPane;

// The commands the main window carries out itself (the frame's and the application object's).
class IFrameCommands {
public:
    virtual void OnAppExit() = 0;
    virtual void OnViewStatusBar() = 0;
    virtual bool IsStatusBarShown() const = 0;
    virtual void OnViewCallTrace() = 0;
    virtual bool IsCallTraceShown() const = 0;
    virtual void OnNextPane() = 0;
    virtual void OnPrevPane() = 0;
    virtual void OnAppAbout() = 0;
    virtual void OnFileNew() = 0;
    virtual void OnFileSave() = 0;
    virtual void OnServerOutOfProcess() = 0;
    virtual bool IsServerOutOfProcess() const = 0;
    // The time basis of the display.
    virtual void OnViewTimeLocal() = 0;
    virtual void OnViewTimeInstant() = 0;
    virtual void OnViewTimeUtc() = 0;
    virtual bool IsTimeLocal() const = 0;
    virtual bool IsTimeInstant() const = 0;
    virtual bool IsTimeUtc() const = 0;

protected:
    ~IFrameCommands() = default;
};

namespace cmd {

// The menus of the main menu bar, from left to right.
enum class Menu : unsigned char { None, File, Server, Function, View, Help };

// When a pane command is enabled; the same whichever pane is active. The frame's own commands are
// enabled whenever they have a handler.
enum class Rule : unsigned char {
    Always,          // no rule
    NodeNotMachine,  // a node of the server tree is selected and it is not a machine node
    ServerNode,      // the selected node is a server node
    AnyItem,         // at least one item of the item list is selected
    OneItem,         // exactly one item is selected
    ValueTabs,       // the output pane shows value tabs with the result set of their read behind them
    ValueResults,    // the output pane shows the result set of a value read
    MoreData,        // the result set has items a Read Next continues
    OutputRows,      // rows of the output pane's list are selected
};

// Who carries a command out: a member of the server pane, or one of the frame. A command without a
// handler is disabled in menus and on the toolbar and ignored from its keys.
struct Handler {
    void (CServerPane::*pfnPane)() = nullptr;
    void (IFrameCommands::*pfnFrame)() = nullptr;

    constexpr Handler() = default;
    constexpr Handler(void (CServerPane::*pfn)()) : pfnPane(pfn) {}
    constexpr Handler(void (IFrameCommands::*pfn)()) : pfnFrame(pfn) {}
    constexpr explicit operator bool() const { return pfnPane != nullptr || pfnFrame != nullptr; }
};
// The operation is not built yet.
inline constexpr Handler kNotBuilt{};
// The main window has no handler for the command (its keys are caught and do nothing).
inline constexpr Handler kNoHandler{};

struct Command {
    int nId = 0;
    Menu menu = Menu::None;            // the menu it sits in; a menu lists its commands in table order
    bool bSeparatorBefore = false;     // a separator above it in that menu
    const char* pszCaption = nullptr;  // menu caption with its mnemonic
    const char* pszPrompt = nullptr;   // status bar, while highlighted in a menu or pointed at
    const char* pszTooltip = nullptr;  // over its toolbar button; null: none
    const char* pszPopup = nullptr;    // caption in the server tree's context menu; null: not there
    int nToolbarSlot = -1;             // -1: not on the toolbar (see ToolbarSlotCount)
    int nImage = -1;                   // its image in the toolbar's strip
    QKeyCombination keys[2] = {};      // accelerators; Qt::Key_unknown: none
    Rule rule = Rule::Always;
    Handler handler;
    bool (IFrameCommands::*pfnChecked)() const = nullptr;  // shows a check mark when this answers true
    bool bRadio = false;  // checked commands next to each other in a menu: one of them at a time
};

// Every command, in table order.
std::span<const Command> Commands();
const Command* FindCommand(int nId);
// The accelerators of a command (none for most).
QList<QKeySequence> Shortcuts(const Command& c);

struct MenuTitle {
    Menu menu;
    const char* pszTitle;
    const char* pszObjectName;
};
// The main menu bar, from left to right.
std::span<const MenuTitle> Menus();

// The toolbar's slots run from 0 to ToolbarSlotCount() - 1. Slot 0 is the server box; in a vertical
// dock the command of slot 0 stands in its place. Any other slot without a command is a separator.
int ToolbarSlotCount();
const Command* FindToolbarCommand(int nSlot);

}  // namespace cmd
