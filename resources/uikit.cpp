#include "resources/uikit.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMessageBox>
#include <QWidget>

namespace ui {

QFont PaneFont() {
    (void)DialogFont();  // installs the font substitutions
    QFont f(QStringLiteral("Times New Roman"));
    f.setPointSize(10);
    return f;
}

QFont DialogFont() {
    // Prefer fonts metric-compatible with the dialogs' designed font, so texts fit their boxes.
    static const bool substituted = [] {
        QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                                   {QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
        QFont::insertSubstitutions(QStringLiteral("Times New Roman"), {QStringLiteral("Liberation Serif")});
        return true;
    }();
    (void)substituted;
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSize(8);
    return f;
}

int DluX(const QFont& font, int x) {
    QFontMetrics fm(font);
    // Average width of the alphabet, as the dialog manager computes its base unit.
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    double avg = fm.horizontalAdvance(alphabet) / 52.0;
    return static_cast<int>(x * avg / 4.0 + 0.5);
}

int DluY(const QFont& font, int y) {
    QFontMetrics fm(font);
    return static_cast<int>(y * fm.height() / 8.0 + 0.5);
}

QRect DluRect(const QFont& font, int x, int y, int cx, int cy) {
    return QRect(DluX(font, x), DluY(font, y), DluX(font, cx), DluY(font, cy));
}

WaitCursor::WaitCursor() {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}
WaitCursor::~WaitCursor() {
    QGuiApplication::restoreOverrideCursor();
}

void InstallMessageBoxSink() {
    hda::SetMessageSink([](const hda::MessageRequest& r) {
        QMessageBox box(const_cast<QWidget*>(static_cast<const QWidget*>(r.owner)));
        box.setText(ToQString(r.text));
        box.setWindowTitle(ToQString(r.caption));
        switch (r.icon) {
            case hda::MsgIcon::None:
                box.setIcon(QMessageBox::NoIcon);
                break;
            case hda::MsgIcon::Stop:
                box.setIcon(QMessageBox::Critical);
                break;
            case hda::MsgIcon::Exclamation:
                box.setIcon(QMessageBox::Warning);
                break;
            case hda::MsgIcon::Question:
                box.setIcon(QMessageBox::Question);
                break;
            case hda::MsgIcon::Information:
                box.setIcon(QMessageBox::Information);
                break;
        }
        switch (r.buttons) {
            case hda::MsgButtons::Ok:
                box.setStandardButtons(QMessageBox::Ok);
                break;
            case hda::MsgButtons::OkCancel:
                box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
                break;
            case hda::MsgButtons::YesNo:
                box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
                break;
            case hda::MsgButtons::YesNoCancel:
                box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
                break;
        }
        switch (box.exec()) {
            case QMessageBox::Yes:
                return hda::MsgResult::Yes;
            case QMessageBox::No:
                return hda::MsgResult::No;
            case QMessageBox::Cancel:
                return hda::MsgResult::Cancel;
            default:
                return hda::MsgResult::Ok;
        }
    });
}

}  // namespace ui
