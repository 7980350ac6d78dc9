// COutputPane: the right-hand pane. It shows the outcome of the last HDA operation as value tabs
// (one per item read) or as one result list, and carries the main window's commands over to the
// server pane. It makes no HDA call and frees nothing of the result set it shows.
#pragma once

#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "com/oleauto.h"
#include "com/types.h"
#include "outputpane/outputhost.h"
#include "outputpane/textforms.h"

class CMyTabCtrl;
class COutputList;

class COutputPane final : public QWidget {
    Q_OBJECT
public:
    // The result area, which both layouts fill: the client rectangle shrunk by these.
    static constexpr int kAreaLeft = 10, kAreaTop = 5, kAreaRight = 10, kAreaBottom = 25;

    // Page text of a tab whose item has no entry in the result set (the server returned fewer
    // entries than it was asked for).
    static constexpr char16_t kNoResultForItem[] = u"No result was returned for this item";

    explicit COutputPane(QWidget* parent = nullptr);
    ~COutputPane() override;

    void SetServerPane(IOutputPaneHost* pServerPane) { m_pServerPane = pServerPane; }
    IOutputPaneHost* GetServerPane() const { return m_pServerPane; }

    // Commands: the pane carries every command the server pane carries, enabled by the server pane's
    // rule and forwarded to it, so that a command behaves the same whichever pane is active. Without a
    // server pane it carries none.
    bool IsCommandEnabled(int nId) const;
    // Forwards an enabled command to the server pane; false when not forwarded (disabled, not the
    // server pane's, or no server pane).
    bool OnCommand(int nId);

    // Value tabs: one tab per selected item of the server pane's list, captioned with its item ID.
    void CreateItemTabs();
    // The same for a Read Modified: "Value", "Timestamp", "Quality", "Modification Time", "Edit Type",
    // "User".
    void CreateModifiedTabs();
    // Fills the page of the selected tab from the server pane's result set.
    void ShowTabResults();
    // Shows every timestamp on screen again on the server pane's time basis.
    void OnTimeBasisChanged();

    // The selected rows of the list on show (the selected tab's value list, or the result list), in
    // row order: cells separated by tabs, each row ended by a line feed. Copy puts it on the clipboard.
    bool HasSelectedRows() const;
    QString SelectedRowsText() const;
    void CopySelectedRows() const;

    // Result list: no columns until the caller adds them; the operation fills the rows.
    void CreateResultList();
    void InsertAttributeColumns();  // "Attribute", "Value", "Timestamp"
    void InsertUpdateColumns();     // "Tag", "Value", "Timestamp", "Error Code"

    // The layouts; null when absent.
    CMyTabCtrl* GetTabCtrl() const { return m_pTabCtrl; }
    COutputList* GetResultList() const { return m_pResultList; }

    QRect ResultArea() const;

    // Text forms. They use nothing of a pane; none fails.
    static QString FormatResultCode(HRESULT hr);
    static QString FormatQuality(DWORD dwQuality);
    // The caller keeps the value; strings are read, other types converted on a copy.
    static QString FormatVariant(const VARIANT& value);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void DestroyLayouts();
    void CreateTabs(const QStringList* pColumns);
    void ShowModifiedResults(int i);
    void SetReturnLabel(const QString& status, DWORD count, DWORD limit);

    CMyTabCtrl* m_pTabCtrl = nullptr;
    COutputList* m_pResultList = nullptr;
    IOutputPaneHost* m_pServerPane = nullptr;
    bool m_bModifiedTabs = false;  // the tabs show the server pane's Read Modified result
};
