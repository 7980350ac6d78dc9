// The main window's command table: menu captions, status-bar prompts, tooltips and toolbar images.
#pragma once

#include <QKeySequence>
#include <QList>
#include <span>

namespace app {

struct CommandText {
    int nId;
    const char* pszCaption;  // menu caption with its mnemonic
    const char* pszPrompt;   // status bar
    const char* pszTooltip;  // toolbar; null when there is none
};

// Every command of the menus and toolbar, in the table's order.
std::span<const CommandText> CommandTexts();
const CommandText* FindCommandText(int nId);

// Toolbar slots from left to right: a command id, 0 for a separator; slot 0 is the server box.
std::span<const int> ToolbarSlots();
// The image of a slot in the toolbar's strip (one image per non-separator slot), -1 for a separator.
int ToolbarImageOfSlot(int nSlot);

struct Accelerator {
    int nId;
    QList<QKeySequence> keys;
};
// The main window's accelerator table.
QList<Accelerator> Accelerators();

// The frame-wide "Ready" text of the idle status bar and its indicators.
inline constexpr char kIdleMessage[] = "Ready";
inline constexpr char kIndicatorCaps[] = "CAP";
inline constexpr char kIndicatorNum[] = "NUM";
inline constexpr char kIndicatorScroll[] = "SCRL";

// Titles.
inline constexpr char kAppTitle[] = "BrindlexOPC HDA Vistrel";
// Document template: window title, file-new name, no filter, file type id and name.
inline constexpr char kDocTemplate[] = "HDA Vistrel\n\nBrindlex\n\n\nHDA Vistrel.Document\nBrindlex Document";
inline constexpr char kToolbarTitle[] = "Server";
inline constexpr char kServerBoxPrompt[] = "Available HDA Servers";

}  // namespace app
