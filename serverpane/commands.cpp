#include "serverpane/commands.h"

#include <algorithm>

#include "serverpane/serverpane.h"

namespace cmd {

namespace {

using M = Menu;
using R = Rule;

constexpr Command kCommands[] = {
    // The Server menu; Disconnect, Add Items and Server Status also in the server tree's context menu.
    {.nId = ID_SERVER_CONNECT,
     .menu = M::Server,
     .pszCaption = "&Connect",
     .pszPrompt = "Connect to a local HDA Server",
     .pszTooltip = "Connect",
     .nToolbarSlot = 1,
     .nImage = 1,
     .handler = &CServerPane::OnConnect},
    {.nId = ID_SERVER_CONNECTREMOTE,
     .menu = M::Server,
     .pszCaption = "Connect &Remote",
     .pszPrompt = "Connect to remote HDA Server",
     .pszTooltip = "Connect Remote",
     .nToolbarSlot = 3,
     .nImage = 3,
     .handler = &CServerPane::OnConnectRemote},
    {.nId = ID_SERVER_DISCONNECT,
     .menu = M::Server,
     .pszCaption = "&Disconnect",
     .pszPrompt = "Disconnect from HDA Server",
     .pszTooltip = "Disconnect",
     .pszPopup = "Disconnect",
     .nToolbarSlot = 4,
     .nImage = 4,
     .rule = R::ServerNode,
     .handler = &CServerPane::OnDisconnect},
    {.nId = ID_SERVER_ADDITEMS,
     .menu = M::Server,
     .pszCaption = "&Add Items",
     .pszPrompt = "Add HDA items",
     .pszTooltip = "Add Items",
     .pszPopup = "Add Items",
     .nToolbarSlot = 6,
     .nImage = 5,
     .rule = R::NodeNotMachine,
     .handler = &CServerPane::OnAddItems},
    {.nId = ID_SERVER_DELETEITEMS,
     .menu = M::Server,
     .pszCaption = "De&lete Selected Items",
     .pszPrompt = "Delete the selected HDA items",
     .pszTooltip = "Delete Items",
     .nToolbarSlot = 7,
     .nImage = 6,
     .rule = R::AnyItem,
     .handler = &CServerPane::OnDeleteItems},
    {.nId = ID_SERVER_STATUS,
     .menu = M::Server,
     .pszCaption = "&Server Status",
     .pszPrompt = "Get the status of the currently selected HDA Server",
     .pszTooltip = "Server Status",
     .pszPopup = "Server Status",
     .nToolbarSlot = 2,
     .nImage = 2,
     .rule = R::ServerNode,
     .handler = &CServerPane::OnServerStatus},
    {.nId = ID_SERVER_OUTOFPROCESS,
     .menu = M::Server,
     .bSeparatorBefore = true,
     .pszCaption = "Run Servers Out of &Process",
     .pszPrompt = "Run the servers of this computer in processes of their own, so that a crashing server "
                  "cannot take the client with it",
     .handler = &IFrameCommands::OnServerOutOfProcess,
     .pfnChecked = &IFrameCommands::IsServerOutOfProcess},

    // The Function menu, which is also the item list's context menu.
    {.nId = ID_FUNCTION_READRAW,
     .menu = M::Function,
     .pszCaption = "&Read Raw",
     .pszPrompt = "Read Raw Data  from selected HDA Items",
     .pszTooltip = "Read Raw",
     .nToolbarSlot = 9,
     .nImage = 7,
     .rule = R::AnyItem,
     .handler = &CServerPane::OnReadRaw},
    {.nId = ID_FUNCTION_READPROCESSED,
     .menu = M::Function,
     .pszCaption = "Read &Processed",
     .pszPrompt = "Read Processed Data from HDA Server",
     .pszTooltip = "Read Processed",
     .nToolbarSlot = 10,
     .nImage = 8,
     .rule = R::AnyItem,
     .handler = &CServerPane::OnReadProcessed},
    {.nId = ID_FUNCTION_READATTRIBUTE,
     .menu = M::Function,
     .pszCaption = "Read &Attribute",
     .pszPrompt = "Read Attribute for selected items",
     .pszTooltip = "Read Attribute",
     .nToolbarSlot = 11,
     .nImage = 9,
     .rule = R::OneItem,
     .handler = &CServerPane::OnReadAttribute},
    {.nId = ID_FUNCTION_READATTIME,
     .menu = M::Function,
     .pszCaption = "Read At &Time",
     .pszPrompt = "Read selected items at specific timestamps",
     .pszTooltip = "Read At Time",
     .nToolbarSlot = 12,
     .nImage = 10,
     .rule = R::AnyItem,
     .handler = &CServerPane::OnReadAtTime},
    {.nId = ID_FUNCTION_READMODIFIED,
     .menu = M::Function,
     .pszCaption = "Read &Modified",
     .pszPrompt = "Read the values that updates replaced or deleted, with when, how and by whom",
     .pszTooltip = "Read Modified",
     .nToolbarSlot = 23,
     .nImage = 18,
     .rule = R::AnyItem,
     .handler = &CServerPane::OnReadModified},
    {.nId = ID_FUNCTION_INSERT,
     .menu = M::Function,
     .bSeparatorBefore = true,
     .pszCaption = "&Insert",
     .pszPrompt = "Insert data into history",
     .pszTooltip = "Insert",
     .nToolbarSlot = 14,
     .nImage = 11,
     .rule = R::AnyItem,
     .handler = &CServerPane::OnInsert},
    {.nId = ID_FUNCTION_REPLACE,
     .menu = M::Function,
     .pszCaption = "R&eplace",
     .pszPrompt = "Replace Data In HDA Server",
     .pszTooltip = "Replace",
     .nToolbarSlot = 15,
     .nImage = 12,
     .rule = R::AnyItem,
     .handler = &CServerPane::OnReplace},
    {.nId = ID_FUNCTION_INSERTREPLACE,
     .menu = M::Function,
     .pszCaption = "In&sert/Replace",
     .pszPrompt = "Insert or Replace Data in HDA Server",
     .pszTooltip = "Insert or Replace",
     .nToolbarSlot = 16,
     .nImage = 13,
     .rule = R::AnyItem,
     .handler = &CServerPane::OnInsertReplace},
    {.nId = ID_FUNCTION_DELETERAW,
     .menu = M::Function,
     .bSeparatorBefore = true,
     .pszCaption = "&Delete Raw",
     .pszPrompt = "Remove Data from the archive",
     .pszTooltip = "Delete Raw Data",
     .nToolbarSlot = 18,
     .nImage = 14,
     .rule = R::AnyItem,
     .handler = &CServerPane::OnDeleteRaw},
    {.nId = ID_FUNCTION_DELETEATTIME,
     .menu = M::Function,
     .pszCaption = "De&lete At Time",
     .pszPrompt = "Delete data from the HDA Server for specifice timestamps",
     .pszTooltip = "Delete at Time",
     .nToolbarSlot = 19,
     .nImage = 15,
     .rule = R::AnyItem,
     .handler = &CServerPane::OnDeleteAtTime},

    // File, View and Help.
    {.nId = ID_FILE_OPTIONS,
     .menu = M::File,
     .pszCaption = "&Options",
     .pszPrompt = "Edit the HDA Vistrel options",
     .handler = &CServerPane::OnOptions},
    {.nId = ID_APP_EXIT,
     .menu = M::File,
     .bSeparatorBefore = true,
     .pszCaption = "E&xit",
     .pszPrompt = "Quit the application; prompts to save documents",
     .pszTooltip = "Exit",
     .handler = &IFrameCommands::OnAppExit},
    {.nId = ID_VIEW_STATUS_BAR,
     .menu = M::View,
     .pszCaption = "&Status Bar",
     .pszPrompt = "Show or hide the status bar",
     .pszTooltip = "Toggle StatusBar",
     .handler = &IFrameCommands::OnViewStatusBar,
     .pfnChecked = &IFrameCommands::IsStatusBarShown},
    {.nId = ID_VIEW_CALLTRACE,
     .menu = M::View,
     .pszCaption = "&Call Trace",
     .pszPrompt = "Show or hide the trace of every call to the servers, with its result and duration",
     .pszTooltip = "Call Trace",
     .nToolbarSlot = 26,
     .nImage = 20,
     .handler = &IFrameCommands::OnViewCallTrace,
     .pfnChecked = &IFrameCommands::IsCallTraceShown},
    {.nId = ID_VIEW_TREND,
     .menu = M::View,
     .bSeparatorBefore = true,
     .pszCaption = "&Trend",
     .pszPrompt = "Chart the values of the selected tab against time",
     .pszTooltip = "Trend",
     .nToolbarSlot = 25,
     .nImage = 19,
     .rule = R::ValueTabs,
     .handler = &CServerPane::OnTrend},
    {.nId = ID_VIEW_TREND_ALL,
     .menu = M::View,
     .pszCaption = "Trend of &All Tabs",
     .pszPrompt = "Chart the values of every tab against time, overlaid",
     .rule = R::ValueTabs,
     .handler = &CServerPane::OnTrendAll},
    {.nId = ID_VIEW_TIME_LOCAL,
     .menu = M::View,
     .bSeparatorBefore = true,
     .pszCaption = "&Local (current offset)",
     .pszPrompt = "Show and read times in local time with the offset in force now",
     .handler = &IFrameCommands::OnViewTimeLocal,
     .pfnChecked = &IFrameCommands::IsTimeLocal,
     .bRadio = true},
    {.nId = ID_VIEW_TIME_INSTANT,
     .menu = M::View,
     .pszCaption = "Local (offset of &each instant)",
     .pszPrompt = "Show and read times in local time with the offset in force at each instant",
     .handler = &IFrameCommands::OnViewTimeInstant,
     .pfnChecked = &IFrameCommands::IsTimeInstant,
     .bRadio = true},
    {.nId = ID_VIEW_TIME_UTC,
     .menu = M::View,
     .pszCaption = "&UTC",
     .pszPrompt = "Show and read times in UTC",
     .handler = &IFrameCommands::OnViewTimeUtc,
     .pfnChecked = &IFrameCommands::IsTimeUtc,
     .bRadio = true},
    {.nId = ID_APP_ABOUT,
     .menu = M::Help,
     .pszCaption = "&About HDA Vistrel...",
     .pszPrompt = "Display program information, version number and copyright",
     .pszTooltip = "About",
     .handler = &IFrameCommands::OnAppAbout},

    // Reached by their keys only. Open is not offered: the document has nothing to read.
    {.nId = ID_FILE_NEW, .keys = {Qt::CTRL | Qt::Key_N}, .handler = &IFrameCommands::OnFileNew},
    {.nId = ID_FILE_OPEN, .keys = {Qt::CTRL | Qt::Key_O}, .handler = kNoHandler},
    {.nId = ID_FILE_SAVE, .keys = {Qt::CTRL | Qt::Key_S}, .handler = &IFrameCommands::OnFileSave},
    {.nId = ID_EDIT_COPY, .keys = {Qt::CTRL | Qt::Key_C, Qt::CTRL | Qt::Key_Insert}, .handler = kNoHandler},
    {.nId = ID_EDIT_CUT, .keys = {Qt::CTRL | Qt::Key_X, Qt::SHIFT | Qt::Key_Delete}, .handler = kNoHandler},
    {.nId = ID_EDIT_PASTE, .keys = {Qt::CTRL | Qt::Key_V, Qt::SHIFT | Qt::Key_Insert}, .handler = kNoHandler},
    {.nId = ID_EDIT_UNDO, .keys = {Qt::CTRL | Qt::Key_Z, Qt::ALT | Qt::Key_Backspace}, .handler = kNoHandler},
    {.nId = ID_NEXT_PANE, .keys = {Qt::Key_F6}, .handler = &IFrameCommands::OnNextPane},
    {.nId = ID_PREV_PANE, .keys = {Qt::SHIFT | Qt::Key_F6}, .handler = &IFrameCommands::OnPrevPane},
    // The Add Items dialog handles its own Delete key; the main window does not.
    {.nId = ID_ADDITEM_DELETETAG, .keys = {Qt::Key_Delete}, .handler = kNoHandler},
    // The server tree's id, bound to F12.
    {.nId = IDC_SERVER_TREE, .keys = {Qt::Key_F12}, .handler = kNoHandler},

    // The button in place of the server box while the toolbar is docked vertically.
    {.nId = ID_EDITBAR_SLOT0, .nToolbarSlot = 0, .nImage = 4, .handler = kNoHandler},
};

constexpr MenuTitle kMenus[] = {
    {Menu::File, "&File", "FileMenu"},
    {Menu::Server, "&Server", "ServerMenu"},
    {Menu::Function, "F&unction", "FunctionMenu"},
    {Menu::View, "&View", "ViewMenu"},
    {Menu::Help, "&Help", "HelpMenu"},
};

}  // namespace

std::span<const Command> Commands() {
    return kCommands;
}

const Command* FindCommand(int nId) {
    for (const Command& c : kCommands)
        if (c.nId == nId) return &c;
    return nullptr;
}

QList<QKeySequence> Shortcuts(const Command& c) {
    QList<QKeySequence> keys;
    for (QKeyCombination k : c.keys)
        if (k.key() != Qt::Key_unknown) keys.append(QKeySequence(k));
    return keys;
}

std::span<const MenuTitle> Menus() {
    return kMenus;
}

int ToolbarSlotCount() {
    int n = 0;
    for (const Command& c : kCommands) n = std::max(n, c.nToolbarSlot + 1);
    return n;
}

const Command* FindToolbarCommand(int nSlot) {
    for (const Command& c : kCommands)
        if (nSlot >= 0 && c.nToolbarSlot == nSlot) return &c;
    return nullptr;
}

}  // namespace cmd
