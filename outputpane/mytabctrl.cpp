#include "outputpane/mytabctrl.h"

#include <QLabel>
#include <QSignalBlocker>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabBar>
#include <algorithm>
#include <vector>

#include "outputpane/outputlist.h"
#include "outputpane/outputpane.h"
#include "resources/uikit.h"

namespace {
// Tabs no taller than the row above the "Return value: " line, as the labels' offsets assume.
class CCompactTabBar final : public QTabBar {
public:
    using QTabBar::QTabBar;

protected:
    QSize tabSizeHint(int index) const override {
        QSize size = QTabBar::tabSizeHint(index);
        const int room = CMyTabCtrl::kLabelTop - 2;
        size.setHeight(std::max(std::min(size.height(), room), fontMetrics().height() + 4));
        return size;
    }
};

// A tab caption is an item ID: '&' is a character of it, not a mnemonic marker. An ID longer than
// any tab can show is cut (the tab elides it anyway), so that laying out the tabs stays quick; the
// whole ID stays with the tab.
constexpr qsizetype kMaxCaption = 256;
QString CaptionText(const QString& itemId) {
    QString s = itemId.size() > kMaxCaption ? itemId.left(kMaxCaption) + QChar(0x2026) : itemId;
    return s.replace(QLatin1Char('&'), QLatin1String("&&"));
}
}  // namespace

CMyTabCtrl::CMyTabCtrl(QWidget* parent, const QRect& geometry)
    : CMyTabCtrl(parent, geometry,
                 {QStringLiteral("Value"), QStringLiteral("Timestamp"), QStringLiteral("Quality")}) {}

CMyTabCtrl::CMyTabCtrl(QWidget* parent, const QRect& geometry, const QStringList& columns)
    : QWidget(parent), m_font(ui::PaneFont()), m_pTabBar(new CCompactTabBar(this)), m_pValueList(nullptr) {
    setGeometry(geometry);
    setObjectName(QStringLiteral("IDC_TAB_CTRL"));
    setProperty("controlId", IDC_TAB_CTRL);
    setFont(m_font);

    m_pTabBar->setFont(m_font);
    m_pTabBar->setDrawBase(false);
    m_pTabBar->setUsesScrollButtons(true);
    m_pTabBar->setElideMode(Qt::ElideRight);
    m_pTabBar->setExpanding(false);
    m_pTabBar->setGeometry(0, 0, width(), m_pTabBar->sizeHint().height());
    connect(m_pTabBar, &QTabBar::currentChanged, this, &CMyTabCtrl::OnSelChange);

    m_pValueList = new COutputList(this);
    m_pValueList->setFont(m_font);
    m_pValueList->setGeometry(rect().adjusted(kListLeft, kListTop, -kListRight, -kListBottom));
    const int share = m_pValueList->ClientWidth() / static_cast<int>(std::max<qsizetype>(columns.size(), 1));
    for (int i = 0; i < columns.size(); ++i) m_pValueList->InsertColumn(i, columns[i], share);
}

CMyTabCtrl::~CMyTabCtrl() {
    // The tab bar outlives this part of the object; nothing it does while going may reach the pane.
    m_pTabBar->disconnect(this);
    m_pPane = nullptr;
}

int CMyTabCtrl::InsertItem(int nItem, const QString& caption) {
    const QSignalBlocker quiet(m_pTabBar);
    const int at = m_pTabBar->insertTab(nItem, CaptionText(caption));
    m_pTabBar->setTabData(at, caption);
    return at;
}

int CMyTabCtrl::GetItemCount() const {
    return m_pTabBar->count();
}

QString CMyTabCtrl::GetItemText(int nItem) const {
    return m_pTabBar->tabData(nItem).toString();
}

int CMyTabCtrl::GetCurSel() const {
    return m_pTabBar->currentIndex();
}

void CMyTabCtrl::SetCurSel(int nItem) {
    const QSignalBlocker quiet(m_pTabBar);
    m_pTabBar->setCurrentIndex(nItem);
}

QRect CMyTabCtrl::LabelRect(int nLeft) const {
    return QRect(QPoint(nLeft, kLabelTop), QPoint(width() - kLabelRightMargin - 1, kLabelBottom - 1));
}

QLabel* CMyTabCtrl::MakeLabel(int nId, const char* name, int nLeft, const QString& text) {
    auto* label = new QLabel(this);
    label->setObjectName(QLatin1String(name));
    label->setProperty("controlId", nId);
    label->setTextFormat(Qt::PlainText);
    label->setFont(m_font);
    label->setText(text);
    label->setGeometry(LabelRect(nLeft));
    label->show();
    return label;
}

void CMyTabCtrl::SetReturnLabel(const QString& text) {
    ClearReturnLabel();
    m_pCaptionLabel =
        MakeLabel(IDC_CAPTION_LABEL, "IDC_CAPTION_LABEL", kCaptionLeft, QStringLiteral("Return value: "));
    m_pResultLabel = MakeLabel(IDC_RESULT_LABEL, "IDC_RESULT_LABEL", kResultLeft, text);
}

void CMyTabCtrl::ClearReturnLabel() {
    delete m_pCaptionLabel;
    m_pCaptionLabel = nullptr;
    delete m_pResultLabel;
    m_pResultLabel = nullptr;
}

void CMyTabCtrl::OnSelChange(int /*nIndex*/) {
    if (m_pPane) m_pPane->ShowTabResults();
}

void CMyTabCtrl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_pTabBar->setGeometry(0, 0, width(), m_pTabBar->sizeHint().height());
    m_pValueList->setGeometry(rect().adjusted(kListLeft, kListTop, -kListRight, -kListBottom));
    FitColumns();
    // The labels keep their place but follow the right edge, so a long text is not cut at the width
    // the control had when they were made.
    if (m_pCaptionLabel) m_pCaptionLabel->setGeometry(LabelRect(kCaptionLeft));
    if (m_pResultLabel) m_pResultLabel->setGeometry(LabelRect(kResultLeft));
}

void CMyTabCtrl::FitColumns() {
    const int n = m_pValueList->GetColumnCount();
    if (n <= 3) return m_pValueList->FitFirstThreeColumns();
    // Wider layouts (Read Modified): a time column is as wide as a whole timestamp, as far as the list
    // allows; the other columns share what is left.
    const int width = m_pValueList->ClientWidth();
    const int stamp =
        m_pValueList->fontMetrics().horizontalAdvance(QStringLiteral("0000/00/00 00:00:00.000")) + 12;
    std::vector<bool> timed(static_cast<std::size_t>(n));
    int nTimed = 0;
    for (int i = 0; i < n; ++i) {
        const QString heading =
            m_pValueList->ListModel()->headerData(i, Qt::Horizontal, Qt::DisplayRole).toString();
        timed[static_cast<std::size_t>(i)] = heading.contains(QStringLiteral("Time"));
        nTimed += timed[static_cast<std::size_t>(i)] ? 1 : 0;
    }
    const int share = width / n;
    const int timeWidth = nTimed ? std::clamp(stamp, share, std::max(share, width / (nTimed + 1))) : share;
    const int rest = n > nTimed ? (width - timeWidth * nTimed) / (n - nTimed) : share;
    for (int i = 0; i < n; ++i)
        m_pValueList->SetColumnWidth(i, timed[static_cast<std::size_t>(i)] ? timeWidth : rest);
}

void CMyTabCtrl::paintEvent(QPaintEvent*) {
    // The page frame under the tabs.
    QStylePainter painter(this);
    QStyleOptionTabWidgetFrame option;
    option.initFrom(this);
    option.shape = QTabBar::RoundedNorth;
    option.tabBarSize = m_pTabBar->sizeHint();
    option.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    const int overlap = style()->pixelMetric(QStyle::PM_TabBarBaseOverlap, nullptr, this);
    option.rect = rect().adjusted(0, std::max(m_pTabBar->sizeHint().height() - overlap, 0), 0, 0);
    option.tabBarRect = m_pTabBar->geometry();
    painter.drawPrimitive(QStyle::PE_FrameTabWidget, option);
}
