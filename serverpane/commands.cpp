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
    {.nId = ID_SERVER_SAVEITEMS,
     .menu = M::Server,
     .bSeparatorBefore = true,
     .pszCaption = "Sa&ve Items...",
     .pszPrompt = "Save the item IDs of the selected HDA Server to a file",
     .pszTooltip = "Save Items",
     .rule = R::ServerNode,
     .handler = &CServerPane::OnSaveItems},
    {.nId = ID_SERVER_LOADITEMS,
     .menu = M::Server,
     .pszCaption = "L&oad Items...",
     .pszPrompt = "Add the HDA items listed in a file",
     .pszTooltip = "Load Items",
     .rule = R::ServerNode,
     .handler = &CServerPane::OnLoadItems},

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
    {.nId = ID_FUNCTION_READNEXT,
     .menu = M::Function,
     .pszCaption = "Read &Next",
     .pszPrompt = "Read on where the last read stopped with More Data Exists",
     .pszTooltip = "Read Next",
     .nToolbarSlot = 22,
     .nImage = 17,
     .rule = R::MoreData,
     .handler = &CServerPane::OnReadNext},
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
    {.nId = ID_FILE_EXPORT,
     .menu = M::File,
     .pszCaption = "&Export...",
     .pszPrompt = "Write every value of the last read to a CSV file",
     .pszTooltip = "Export",
     .nToolbarSlot = 21,
     .nImage = 16,
     .rule = R::ValueResults,
     .handler = &CServerPane::OnExport},
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
    {.nId = ID_EDIT_COPY,
     .pszPrompt = "Copy the selected rows of the output pane",
     .keys = {Qt::CTRL | Qt::Key_C, Qt::CTRL | Qt::Key_Insert},
     .rule = R::OutputRows,
     .handler = &CServerPane::OnEditCopy},
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
