#include "app/commands.h"

#include "serverpane/commandids.h"

namespace app {

namespace {
constexpr CommandText kCommands[] = {
    {ID_SERVER_CONNECT, "&Connect", "Connect to a local HDA Server", "Connect"},
    {ID_SERVER_CONNECTREMOTE, "Connect &Remote", "Connect to remote HDA Server", "Connect Remote"},
    {ID_SERVER_DISCONNECT, "&Disconnect", "Disconnect from HDA Server", "Disconnect"},
    {ID_SERVER_ADDITEMS, "&Add Items", "Add HDA items", "Add Items"},
    {ID_SERVER_DELETEITEMS, "De&lete Selected Items", "Delete the selected HDA items", "Delete Items"},
    {ID_SERVER_STATUS, "&Server Status", "Get the status of the currently selected HDA Server",
     "Server Status"},
    {ID_FUNCTION_READRAW, "&Read Raw", "Read Raw Data  from selected HDA Items", "Read Raw"},
    {ID_FUNCTION_READPROCESSED, "Read &Processed", "Read Processed Data from HDA Server", "Read Processed"},
    {ID_FUNCTION_READATTRIBUTE, "Read &Attribute", "Read Attribute for selected items", "Read Attribute"},
    {ID_FUNCTION_READATTIME, "Read At &Time", "Read selected items at specific timestamps", "Read At Time"},
    {ID_FUNCTION_INSERT, "&Insert", "Insert data into history", "Insert"},
    {ID_FUNCTION_REPLACE, "R&eplace", "Replace Data In HDA Server", "Replace"},
    {ID_FUNCTION_INSERTREPLACE, "In&sert/Replace", "Insert or Replace Data in HDA Server",
     "Insert or Replace"},
    {ID_FUNCTION_DELETERAW, "&Delete Raw", "Remove Data from the archive", "Delete Raw Data"},
    {ID_FUNCTION_DELETEATTIME, "De&lete At Time", "Delete data from the HDA Server for specifice timestamps",
     "Delete at Time"},
    {ID_FILE_OPTIONS, "&Options", "Edit the HDA Vistrel options", nullptr},
    {ID_APP_EXIT, "E&xit", "Quit the application; prompts to save documents", "Exit"},
    {ID_VIEW_STATUS_BAR, "&Status Bar", "Show or hide the status bar", "Toggle StatusBar"},
    {ID_APP_ABOUT, "&About HDA Vistrel...", "Display program information, version number and copyright",
     "About"},
};

constexpr int kToolbarSlots[] = {
    IDC_SERVER_COMBO,
    ID_SERVER_CONNECT,
    ID_SERVER_STATUS,
    ID_SERVER_CONNECTREMOTE,
    ID_SERVER_DISCONNECT,
    0,
    ID_SERVER_ADDITEMS,
    ID_SERVER_DELETEITEMS,
    0,
    ID_FUNCTION_READRAW,
    ID_FUNCTION_READPROCESSED,
    ID_FUNCTION_READATTRIBUTE,
    ID_FUNCTION_READATTIME,
    0,
    ID_FUNCTION_INSERT,
    ID_FUNCTION_REPLACE,
    ID_FUNCTION_INSERTREPLACE,
    0,
    ID_FUNCTION_DELETERAW,
    ID_FUNCTION_DELETEATTIME,
};
}  // namespace

std::span<const CommandText> CommandTexts() {
    return kCommands;
}

const CommandText* FindCommandText(int nId) {
    for (const CommandText& c : kCommands)
        if (c.nId == nId) return &c;
    return nullptr;
}

std::span<const int> ToolbarSlots() {
    return kToolbarSlots;
}

int ToolbarImageOfSlot(int nSlot) {
    if (nSlot < 0 || nSlot >= static_cast<int>(std::size(kToolbarSlots)) || kToolbarSlots[nSlot] == 0)
        return -1;
    int nImage = 0;
    for (int i = 0; i < nSlot; ++i)
        if (kToolbarSlots[i] != 0) ++nImage;
    return nImage;
}

QList<Accelerator> Accelerators() {
    return {
        {ID_FILE_NEW, {QKeySequence(Qt::CTRL | Qt::Key_N)}},
        {ID_FILE_OPEN, {QKeySequence(Qt::CTRL | Qt::Key_O)}},
        {ID_FILE_SAVE, {QKeySequence(Qt::CTRL | Qt::Key_S)}},
        {ID_EDIT_COPY, {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)}},
        {ID_EDIT_CUT, {QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)}},
        {ID_EDIT_PASTE, {QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)}},
        {ID_EDIT_UNDO, {QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)}},
        {ID_NEXT_PANE, {QKeySequence(Qt::Key_F6)}},
        {ID_PREV_PANE, {QKeySequence(Qt::SHIFT | Qt::Key_F6)}},
        {ID_ADDITEM_DELETETAG, {QKeySequence(Qt::Key_Delete)}},
        {IDC_SERVER_TREE, {QKeySequence(Qt::Key_F12)}},
    };
}

}  // namespace app
