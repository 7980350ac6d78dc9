// Command and control identifiers of the main window, its menus, toolbar and panes.
#pragma once

// Server menu, toolbar, server tree pop-up.
inline constexpr int ID_SERVER_CONNECT = 32779;
inline constexpr int ID_SERVER_CONNECTREMOTE = 32789;
inline constexpr int ID_SERVER_DISCONNECT = 61211;
inline constexpr int ID_SERVER_ADDITEMS = 32780;
inline constexpr int ID_SERVER_DELETEITEMS = 32790;
inline constexpr int ID_SERVER_STATUS = 32804;
inline constexpr int ID_SERVER_OUTOFPROCESS = 32880;

// Function menu, toolbar, item list pop-up.
inline constexpr int ID_FUNCTION_READRAW = 32792;
inline constexpr int ID_FUNCTION_READPROCESSED = 61216;
inline constexpr int ID_FUNCTION_READATTRIBUTE = 32797;
inline constexpr int ID_FUNCTION_READATTIME = 32798;
inline constexpr int ID_FUNCTION_INSERT = 32799;
inline constexpr int ID_FUNCTION_REPLACE = 32800;
inline constexpr int ID_FUNCTION_INSERTREPLACE = 32801;
inline constexpr int ID_FUNCTION_DELETERAW = 32802;
inline constexpr int ID_FUNCTION_DELETEATTIME = 32803;
inline constexpr int ID_FUNCTION_READMODIFIED = 32863;

// Export and copy, Read Next and the item lists.
inline constexpr int ID_FILE_EXPORT = 32840;
inline constexpr int ID_FUNCTION_READNEXT = 32841;
inline constexpr int ID_SERVER_SAVEITEMS = 32842;
inline constexpr int ID_SERVER_LOADITEMS = 32843;

// File, View and Help menus.
inline constexpr int ID_FILE_OPTIONS = 32805;
inline constexpr int ID_APP_EXIT = 57665;
inline constexpr int ID_VIEW_STATUS_BAR = 59393;
inline constexpr int ID_APP_ABOUT = 57664;
// The time basis of every timestamp shown and typed (View menu, one of the three checked).
inline constexpr int ID_VIEW_TIME_LOCAL = 32860;
inline constexpr int ID_VIEW_TIME_INSTANT = 32861;
inline constexpr int ID_VIEW_TIME_UTC = 32862;
inline constexpr int ID_VIEW_CALLTRACE = 32870;
// View menu: the trend of the selected value tab, and of every tab overlaid.
inline constexpr int ID_VIEW_TREND = 32850;
inline constexpr int ID_VIEW_TREND_ALL = 32851;

// Accelerator-only commands.
inline constexpr int ID_FILE_NEW = 57600;
inline constexpr int ID_FILE_OPEN = 57601;
inline constexpr int ID_FILE_SAVE = 57603;
inline constexpr int ID_EDIT_COPY = 57634;
inline constexpr int ID_EDIT_CUT = 57635;
inline constexpr int ID_EDIT_PASTE = 57637;
inline constexpr int ID_EDIT_UNDO = 57643;
inline constexpr int ID_NEXT_PANE = 57680;
inline constexpr int ID_PREV_PANE = 57681;
inline constexpr int ID_ADDITEM_DELETETAG = 32786;  // handled only inside the Add Items dialog

// Windows and slots.
inline constexpr int IDC_SERVER_TREE = 32771;  // also bound to F12, which has no handler
inline constexpr int IDC_ITEM_LIST = 61208;
inline constexpr int IDC_SERVER_COMBO = 61204;
inline constexpr int IDW_EDITBAR = 32787;
inline constexpr int ID_EDITBAR_SLOT0 = 57636;  // slot 0 of the vertical toolbar; no handler, so disabled
inline constexpr int ID_EDITBAR_SEPARATOR = 2;  // slot 0 of the horizontal toolbar

// The application's title (the caption of its questions).
inline constexpr char16_t kAppTitle[] = u"BrindlexOPC HDA Vistrel";

// Images of the pane's image list.
inline constexpr int IMAGE_COMPUTER = 0;
inline constexpr int IMAGE_SERVER = 1;
inline constexpr int IMAGE_ITEM = 2;
inline constexpr int IMAGE_BRINDLEX_SERVER = 3;
