// What the operation dialogs share: control ids, placement in dialog units, the moment boxes (date,
// clock time, milliseconds), validated number boxes, and bounded reading of server strings.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <string>

#include "client/timetext.h"
#include "com/types.h"

class QDateEdit;
class QTimeEdit;
class QLineEdit;
class QLabel;
class QTreeWidget;
class QGroupBox;
class QComboBox;

// Dialog templates and bitmaps.
constexpr int IDD_READRAW = 147;
constexpr int IDD_READPROCESSED = 148;
constexpr int IDD_READATTRIBUTE = 149;
constexpr int IDD_READATTIME = 150;
constexpr int IDB_ATTRIBUTE = 147;

// Buttons every dialog has.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// Read Raw and Read Processed.
constexpr int IDC_START_DATE = 1018;
constexpr int IDC_START_TIME = 1019;
constexpr int IDC_USE_START_TIME = 1021;
constexpr int IDC_GET_BOUNDS = 1022;
constexpr int IDC_MAX_VALUES = 1023;
constexpr int IDC_END_DATE = 1024;
constexpr int IDC_END_TIME = 1025;
constexpr int IDC_USE_END_TIME = 1026;
constexpr int IDC_START_MS = 1049;
constexpr int IDC_END_MS = 1050;
constexpr int IDC_SERVER_AGGREGATES = 1004;
constexpr int IDC_SET_ALL_ITEMS = 1005;
constexpr int IDC_SET_SELECTED_ITEM = 1006;
constexpr int IDC_ITEM_AGGREGATES = 1027;
constexpr int IDC_RESAMPLE_INTERVAL = 1028;
constexpr int IDC_RESAMPLE_UNITS = 1036;
constexpr int IDC_RUNTIME_COMBO = 61209;  // both drop-down lists made at run time

// Read Attribute.
constexpr int IDC_ATTRIBUTE_TREE = 1029;
constexpr int IDC_ATTRIBUTE_LIST = 1030;

// Read At Time / Delete At Time.
constexpr int IDC_ADD_TIMESTAMP = 1005;
constexpr int IDC_TIMESTAMP_DATE = 1031;
constexpr int IDC_TIMESTAMP_TIME = 1032;
constexpr int IDC_REMOVE_TIMESTAMP = 1034;
constexpr int IDC_TIMESTAMP_LIST = 1035;
constexpr int IDC_TIMESTAMP_MS = 1037;
constexpr int IDC_TIMESTAMP_GROUP = 1041;

// Insert, Replace and Insert/Replace.
constexpr int IDC_ADD_DATA_ITEM = 1005;
constexpr int IDC_DATA_GENERATOR = 1006;
constexpr int IDC_INSERT_DATE = 1031;
constexpr int IDC_INSERT_TIME = 1032;
constexpr int IDC_REMOVE_DATA = 1034;
constexpr int IDC_INSERT_MS = 1037;
constexpr int IDC_INSERT_QUALITY = 1038;
constexpr int IDC_INSERT_VALUE = 1039;
constexpr int IDC_DATA_LIST = 1040;

// The data generator.
constexpr int IDC_GENERATE = 1005;
constexpr int IDC_GEN_START_DATE = 1018;
constexpr int IDC_GEN_START_TIME = 1019;
constexpr int IDC_GEN_TIME_UNITS = 1036;
constexpr int IDC_GEN_QUALITY = 1037;
constexpr int IDC_GEN_LIST = 1040;
constexpr int IDC_GEN_INITIAL_VALUE = 1043;
constexpr int IDC_GEN_VALUE_INCREMENT = 1044;
constexpr int IDC_GEN_END_VALUE = 1045;
constexpr int IDC_GEN_TIME_INCREMENT = 1046;
constexpr int IDC_GEN_START_MS = 1049;

// Delete Raw: the start and end boxes of Read Raw (1018, 1019, 1049, 1024, 1025, 1050).

namespace dlg {

// A control's id is its object name, so that code and tests find it as the templates' users would.
void SetCtrlId(QWidget* pCtrl, int nId);
QWidget* GetDlgItem(const QWidget* pDlg, int nId);
template <class T>
T* GetDlgItem(const QWidget* pDlg, int nId) {
    return qobject_cast<T*>(GetDlgItem(pDlg, nId));
}

// Places controls by dialog units of the dialog's font.
class Placer {
public:
    explicit Placer(const QFont& font) : m_font(font) {}
    QRect Rect(int x, int y, int cx, int cy) const;
    // A rectangle designed in pixels for the 8-point template font at 96 dpi (a horizontal dialog unit
    // of 1.5 pixels, a vertical one of 1.625): scaled as dialog units so it keeps its place.
    QRect DesignPixels(int left, int top, int right, int bottom) const;
    void Place(QWidget* w, int x, int y, int cx, int cy) const { w->setGeometry(Rect(x, y, cx, cy)); }
    QSize Size(int cx, int cy) const { return Rect(0, 0, cx, cy).size(); }
    const QFont& Font() const { return m_font; }

private:
    QFont m_font;
};

QGroupBox* MakeGroup(QWidget* parent, const QString& caption, int nId = 0);
QLabel* MakeLabel(QWidget* parent, const QString& text);
QDateEdit* MakeDatePicker(QWidget* parent, int nId);
QTimeEdit* MakeTimePicker(QWidget* parent, int nId);
// An edit that takes digits only.
QLineEdit* MakeNumberEdit(QWidget* parent, int nId, bool bRightAligned);
// An editable drop-down combo box with the given entries; typed text is never added as an entry.
QComboBox* MakeEditCombo(QWidget* parent, int nId, const QStringList& entries);
// A list in report view with full-row selection and tips.
QTreeWidget* MakeReportList(QWidget* parent, int nId, const QStringList& columns);
// The width of a list's client area, the list's own frame left out.
int ListClientWidth(const QTreeWidget* pList);
// A cell text that also shows as the row's tip.
void SetCellText(QTreeWidget* pList, int nRow, int nColumn, const QString& text);

// The three boxes of a moment: date, clock time and milliseconds.
struct MomentBoxes {
    QDateEdit* pDate = nullptr;
    QTimeEdit* pTime = nullptr;
    QLineEdit* pMs = nullptr;
    // The clock the boxes show and their time text is read on.
    client::TimeBasis basis = client::TimeBasis::LocalCurrentBias;

    // The moment of a UTC instant (seconds since 1970) on the basis; the milliseconds box is left alone.
    void SetDate(std::int64_t utcSeconds) const;
    void SetClock(std::int64_t utcSeconds) const;
    // The time text of the boxes with the given milliseconds (already validated).
    std::u16string TimeText(unsigned nMs) const;
    // The boxes' local moment as a FILETIME tick count (no time-zone conversion); false when the boxes
    // hold no valid moment.
    bool LocalTicks(unsigned nMs, ULONGLONG* pTicks) const;
};

// Reads a digits-only box as a number in lo..hi. On anything else shows a prompt that names the range,
// puts the focus on the box with its text selected, and returns false.
bool ReadNumber(QWidget* pDlg, QLineEdit* pEdit, std::uint64_t lo, std::uint64_t hi, std::uint64_t* pValue);

// Reads a box as a real number (leading and trailing blanks allowed, a point for the decimals, an
// exponent). On anything else, infinities and NaN included, shows the framework's prompt, puts the
// focus on the box and returns false.
bool ReadDouble(QWidget* pDlg, QLineEdit* pEdit, double* pValue);
// The text a real number box shows for a value (up to 15 significant digits).
QString DoubleText(double v);

// Now, as seconds since 1970 (UTC), from the runtime's clock.
std::int64_t NowSeconds();

// A string a server returned, read no further than its task-memory block reaches (a server's strings
// all come from CoTaskMemAlloc). False for null.
bool ServerString(const WCHAR* psz, std::u16string* pOut);

}  // namespace dlg
