// The shell's texts that belong to no command: titles, the document template, the status bar's idle
// text and indicators. The commands' own texts are in the command table (serverpane/commands.h).
#pragma once

namespace app {

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
