// Toolbar images 16 (Export) and 17 (Read Next), our own artwork in the style of the strip: 16 x 16,
// dark outlines, the strip's red and blue.
#include "resources/icons_export.h"

#include <QPixmap>

namespace {

// A sheet with rows of values and an arrow leaving it to the right.
const char* const tb_export_xpm[] = {
    "16 16 4 1",        ". c None",         "a c #404040",      "b c #E03A2E",      "c c #3A6FD0",
    "................", ".aaaaaaaa.......", ".a......a.......", ".a.cc.c.a.......", ".a......a.......",
    ".a.cc.c.a...b...", ".a......a...bb..", ".a.cc.c.abbbbbb.", ".a......abbbbbbb", ".a.cc.c.abbbbbb.",
    ".a......a...bb..", ".a.cc.c.a...b...", ".a......a.......", ".aaaaaaaa.......", "................",
    "................"};

// The Read Raw axes with a trace that stops, and the double arrow that reads on.
const char* const tb_read_next_xpm[] = {
    "16 16 4 1",        ". c None",         "a c #404040",      "b c #E03A2E",      "c c #3A6FD0",
    "................", ".a..............", ".a..............", ".a..............", ".a......c.......",
    ".a.....c.c......", ".a....c...b.b...", ".a...c.....b.b..", ".a..c.......b.b.", ".a.c.......b.b..",
    ".ac.......b.b...", ".a..............", ".a..............", ".a..............", ".aaaaaaaaaaaaaa.",
    "................"};

}  // namespace

namespace ui {

QIcon ExportToolbarImage(int nIndex) {
    if (nIndex == kImageExport) return QIcon(QPixmap(tb_export_xpm));
    if (nIndex == kImageReadNext) return QIcon(QPixmap(tb_read_next_xpm));
    return {};
}

}  // namespace ui
