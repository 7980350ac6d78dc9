// Helpers shared by every window of the client: strings, fonts, dialog units, the wait cursor and the
// message-box sink.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <string>
#include <string_view>

#include "hda/messages.h"

class QWidget;

namespace ui {

inline QString ToQString(std::u16string_view s) {
    return QString(reinterpret_cast<const QChar*>(s.data()), static_cast<qsizetype>(s.size()));
}
inline QString ToQString(const char16_t* s) {
    return s ? QString::fromUtf16(s) : QString();
}
inline std::u16string ToU16(const QString& s) {
    return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), static_cast<std::size_t>(s.size()));
}

// "Times New Roman", 10 points: the panes' font (Liberation Serif stands in where it is missing).
QFont PaneFont();
// "MS Sans Serif", 8 points: the dialogs' font (a metric-compatible sans serif stands in).
QFont DialogFont();

// Dialog units to pixels with a font's metrics: a horizontal unit is a quarter of the average
// character width, a vertical unit an eighth of the character height.
QRect DluRect(const QFont& font, int x, int y, int cx, int cy);
int DluX(const QFont& font, int x);
int DluY(const QFont& font, int y);

// Shows the wait cursor for the life of the object.
class WaitCursor {
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// Routes hda::ShowMessage to modal QMessageBoxes (owner = the QWidget* passed as owner).
void InstallMessageBoxSink();

}  // namespace ui
