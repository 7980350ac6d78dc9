#include "dialogs/dlgkit.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QRegularExpressionValidator>
#include <QTimeEdit>
#include <QTreeWidget>
#include <charconv>
#include <cmath>
#include <string>

#include "client/timetext.h"
#include "com/objbase.h"
#include "com/ownership.h"
#include "com/text.h"
#include "com/timeapi.h"
#include "hda/messages.h"
#include "resources/uikit.h"

namespace dlg {

void SetCtrlId(QWidget* pCtrl, int nId) {
    pCtrl->setObjectName(QString::number(nId));
}

QWidget* GetDlgItem(const QWidget* pDlg, int nId) {
    return pDlg ? pDlg->findChild<QWidget*>(QString::number(nId)) : nullptr;
}

QRect Placer::Rect(int x, int y, int cx, int cy) const {
    return ui::DluRect(m_font, x, y, cx, cy);
}

QRect Placer::DesignPixels(int left, int top, int right, int bottom) const {
    // Pixels of the template font to dialog units, then to pixels of ours; 1000 units keep the
    // rounding of one unit out of it.
    const double sx = ui::DluX(m_font, 1000) / 1000.0 / 1.5;
    const double sy = ui::DluY(m_font, 1000) / 1000.0 / 1.625;
    auto X = [&](int px) { return static_cast<int>(px * sx + 0.5); };
    auto Y = [&](int py) { return static_cast<int>(py * sy + 0.5); };
    return QRect(QPoint(X(left), Y(top)), QPoint(X(right) - 1, Y(bottom) - 1));
}

QGroupBox* MakeGroup(QWidget* parent, const QString& caption, int nId) {
    auto* g = new QGroupBox(caption, parent);
    if (nId) SetCtrlId(g, nId);
    return g;
}

QLabel* MakeLabel(QWidget* parent, const QString& text) {
    return new QLabel(text, parent);
}

QDateEdit* MakeDatePicker(QWidget* parent, int nId) {
    auto* p = new QDateEdit(parent);
    SetCtrlId(p, nId);
    // The locale's short date, with the year in full so that no century is guessed.
    QString fmt = QLocale().dateFormat(QLocale::ShortFormat);
    if (!fmt.contains(QLatin1String("yyyy"))) fmt.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    p->setDisplayFormat(fmt);
    p->setCalendarPopup(true);
    // A moment must survive the move to UTC in either direction.
    p->setDateRange(QDate(1601, 1, 2), QDate(9999, 12, 30));
    return p;
}

QTimeEdit* MakeTimePicker(QWidget* parent, int nId) {
    auto* p = new QTimeEdit(parent);
    SetCtrlId(p, nId);
    p->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    return p;
}

QLineEdit* MakeNumberEdit(QWidget* parent, int nId, bool bRightAligned) {
    auto* p = new QLineEdit(parent);
    SetCtrlId(p, nId);
    p->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), p));
    if (bRightAligned) p->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return p;
}

QComboBox* MakeEditCombo(QWidget* parent, int nId, const QStringList& entries) {
    auto* p = new QComboBox(parent);
    SetCtrlId(p, nId);
    p->setEditable(true);
    p->setInsertPolicy(QComboBox::NoInsert);
    p->addItems(entries);
    return p;
}

QTreeWidget* MakeReportList(QWidget* parent, int nId, const QStringList& columns) {
    auto* p = new QTreeWidget(parent);
    SetCtrlId(p, nId);
    p->setRootIsDecorated(false);
    p->setItemsExpandable(false);
    p->setUniformRowHeights(true);
    p->setAllColumnsShowFocus(true);
    p->setSelectionBehavior(QAbstractItemView::SelectRows);
    p->setSelectionMode(QAbstractItemView::SingleSelection);
    p->setColumnCount(static_cast<int>(columns.size()));
    p->setHeaderLabels(columns);
    p->header()->setStretchLastSection(false);
    p->header()->setSectionsMovable(false);
    return p;
}

int ListClientWidth(const QTreeWidget* pList) {
    return pList->width() - 2 * pList->frameWidth();
}

void SetCellText(QTreeWidget* pList, int nRow, int nColumn, const QString& text) {
    QTreeWidgetItem* item = pList->topLevelItem(nRow);
    if (!item) return;
    item->setText(nColumn, text);
    item->setToolTip(nColumn, text);
}

namespace {
bool LocalOf(std::int64_t utcSeconds, SYSTEMTIME* st, client::TimeBasis basis) {
    const auto ticks = static_cast<ULONGLONG>(utcSeconds) * com::kTicksPerSecond + com::kFileTimeUnixEpoch;
    return client::UtcToDisplaySystemTime(ticks, st, basis);
}
}  // namespace

void MomentBoxes::SetDate(std::int64_t utcSeconds) const {
    SYSTEMTIME st{};
    if (pDate && LocalOf(utcSeconds, &st, basis)) pDate->setDate(QDate(st.wYear, st.wMonth, st.wDay));
}

void MomentBoxes::SetClock(std::int64_t utcSeconds) const {
    SYSTEMTIME st{};
    if (pTime && LocalOf(utcSeconds, &st, basis)) pTime->setTime(QTime(st.wHour, st.wMinute, st.wSecond));
}

std::u16string MomentBoxes::TimeText(unsigned nMs) const {
    // A box without a valid value gives -1 for each of its fields.
    const QDate d = pDate ? pDate->date() : QDate();
    const QTime t = pTime ? pTime->time() : QTime();
    const bool dOk = d.isValid(), tOk = t.isValid();
    return client::FormatTimeText(dOk ? d.year() : -1, dOk ? d.month() : -1, dOk ? d.day() : -1,
                                  tOk ? t.hour() : -1, tOk ? t.minute() : -1, tOk ? t.second() : -1,
                                  static_cast<int>(nMs));
}

bool MomentBoxes::LocalTicks(unsigned nMs, ULONGLONG* pTicks) const {
    const QDate d = pDate ? pDate->date() : QDate();
    const QTime t = pTime ? pTime->time() : QTime();
    if (!d.isValid() || !t.isValid() || d.year() < 1 || d.year() > 0xFFFF || nMs > 999) return false;
    SYSTEMTIME st{static_cast<WORD>(d.year()),   static_cast<WORD>(d.month()), 0,
                  static_cast<WORD>(d.day()),    static_cast<WORD>(t.hour()),  static_cast<WORD>(t.minute()),
                  static_cast<WORD>(t.second()), static_cast<WORD>(nMs)};
    FILETIME ft{};
    if (!SystemTimeToFileTime(&st, &ft)) return false;
    *pTicks = FileTimeToU64(ft);
    return true;
}

bool ReadNumber(QWidget* pDlg, QLineEdit* pEdit, std::uint64_t lo, std::uint64_t hi, std::uint64_t* pValue) {
    const QString text = pEdit->text();
    bool ok = !text.isEmpty();
    std::uint64_t v = 0;
    for (QChar c : text) {
        if (!ok) break;
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            ok = false;
            break;
        }
        v = v * 10 + static_cast<std::uint64_t>(c.unicode() - u'0');
        if (v > hi) ok = false;  // also stops before v can wrap
    }
    if (ok && v >= lo) {
        *pValue = v;
        return true;
    }
    hda::ShowMessage(pDlg,
                     com::FormatW(u"Please enter a whole number between %llu and %llu.",
                                  {static_cast<unsigned long long>(lo), static_cast<unsigned long long>(hi)}),
                     ui::ToU16(pDlg->windowTitle()), hda::MsgIcon::Exclamation);
    pEdit->setFocus();
    pEdit->selectAll();
    return false;
}

bool ReadDouble(QWidget* pDlg, QLineEdit* pEdit, double* pValue) {
    const std::string text = pEdit->text().trimmed().toStdString();
    const char* first = text.c_str();
    const char* last = first + text.size();
    if (first != last && *first == '+') ++first;
    double v = 0.0;
    const auto r = std::from_chars(first, last, v, std::chars_format::general);
    if (first != last && r.ec == std::errc() && r.ptr == last && std::isfinite(v)) {
        *pValue = v;
        return true;
    }
    hda::ShowMessage(pDlg, u"Please enter a number.", ui::ToU16(pDlg->windowTitle()),
                     hda::MsgIcon::Exclamation);
    pEdit->setFocus();
    pEdit->selectAll();
    return false;
}

QString DoubleText(double v) {
    return QString::number(v, 'g', 15);
}

std::int64_t NowSeconds() {
    const ULONGLONG ticks = com::NowUtcTicks();
    return (static_cast<std::int64_t>(ticks) - static_cast<std::int64_t>(com::kFileTimeUnixEpoch)) /
           static_cast<std::int64_t>(com::kTicksPerSecond);
}

bool ServerString(const WCHAR* psz, std::u16string* pOut) {
    com::ReceivedText text = com::ReadReceivedText(psz);
    *pOut = std::move(text.text);
    return text.present;
}

}  // namespace dlg
