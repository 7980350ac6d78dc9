#include "resources/icons_readmodified.h"

#include <QPixmap>

namespace {
// The axes and points of Read Raw's image, one point crossed out and a pencil at the top right.
const char* const kReadModifiedXpm[] = {
    "16 16 6 1",        ". c None",         "a c #404040",      "b c #E03A2E",      "c c #3A6FD0",
    "d c #E0A020",      "e c #202020",      "................", ".a..........e...", ".a.........edd..",
    ".a........eddd..", ".a.......eddd...", ".a......eddd....", ".a.....bddd.....", ".a...bb.dd......",
    ".a..c..b........", ".a..c.b.b.......", ".a.b..c.........", ".a...c..........", ".a.cc...........",
    ".a..............", ".aaaaaaaaaaaaaa.", "................",
};
}  // namespace

namespace ui {

QIcon ReadModifiedImage() {
    return QIcon(QPixmap(kReadModifiedXpm));
}

}  // namespace ui
