// CMyTabCtrl: the value-tabs layout. One tab per item of the last value read; under the tabs the
// "Return value: " line and the value list, refilled by the owning pane whenever another tab is picked.
#pragma once

#include <QFont>
#include <QStringList>
#include <QWidget>

class COutputList;
class COutputPane;
class QLabel;
class QTabBar;

class CMyTabCtrl final : public QWidget {
    Q_OBJECT
public:
    static constexpr int IDC_TAB_CTRL = 61212;
    static constexpr int IDC_CAPTION_LABEL = 61214;
    static constexpr int IDC_RESULT_LABEL = 61215;

    // The value list covers the client rectangle shrunk by these; the labels sit on one line above it.
    static constexpr int kListLeft = 5, kListTop = 40, kListRight = 5, kListBottom = 5;
    static constexpr int kLabelTop = 25, kLabelBottom = 40, kLabelRightMargin = 10;
    static constexpr int kCaptionLeft = 5, kResultLeft = 80;

    // Made over its final rectangle, so the value list's columns start at their share of its width:
    // "Value", "Timestamp", "Quality" a third each, or the columns given, an equal share each.
    CMyTabCtrl(QWidget* parent, const QRect& geometry);
    CMyTabCtrl(QWidget* parent, const QRect& geometry, const QStringList& columns);
    ~CMyTabCtrl() override;

    void SetOwningPane(COutputPane* pPane) { m_pPane = pPane; }

    // Adds a tab without raising the selection-change notification; the first tab added is selected.
    int InsertItem(int nItem, const QString& caption);
    int GetItemCount() const;
    QString GetItemText(int nItem) const;
    int GetCurSel() const;
    // Selects a tab as a program does: no notification, no refill.
    void SetCurSel(int nItem);

    // Replaces both labels: "Return value: " and the given text.
    void SetReturnLabel(const QString& text);
    // Removes both labels (a page with nothing to report).
    void ClearReturnLabel();

    COutputList* GetValueList() const { return m_pValueList; }
    QLabel* GetCaptionLabel() const { return m_pCaptionLabel; }
    QLabel* GetResultLabel() const { return m_pResultLabel; }
    QTabBar* GetTabBar() const { return m_pTabBar; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void OnSelChange(int nIndex);
    QRect LabelRect(int nLeft) const;
    QLabel* MakeLabel(int nId, const char* name, int nLeft, const QString& text);
    void FitColumns();

    QLabel* m_pResultLabel = nullptr;
    QLabel* m_pCaptionLabel = nullptr;
    QFont m_font;
    QTabBar* m_pTabBar;
    COutputList* m_pValueList;
    COutputPane* m_pPane = nullptr;
};
