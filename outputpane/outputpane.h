// COutputPane: the right-hand pane. It shows the outcome of the last HDA operation as value tabs
// (one per item read) or as one result list, and carries the main window's commands over to the
// server pane. It makes no HDA call and frees nothing of the result set it shows.
#pragma once

#include <QRect>
#include <QString>
#include <QWidget>
#include <array>

#include "com/oleauto.h"
#include "com/types.h"
#include "outputpane/outputhost.h"
#include "outputpane/textforms.h"

class CMyTabCtrl;
class COutputList;

class COutputPane final : public QWidget {
    Q_OBJECT
public:
    // The commands the pane carries, each forwarded to the server pane's handler of the same id.
    static constexpr int ID_CONNECT = 32779;
    static constexpr int ID_CONNECT_REMOTE = 32789;
    static constexpr int ID_DISCONNECT = 61211;
    static constexpr int ID_ADD_ITEMS = 32780;
    static constexpr int ID_DELETE_ITEMS = 32790;
    static constexpr int ID_SERVER_STATUS = 32804;
    static constexpr int ID_OPTIONS = 32805;
    static constexpr int ID_READ_RAW = 32792;
    static constexpr int ID_READ_PROCESSED = 61216;
    static constexpr int ID_READ_ATTRIBUTE = 32797;
    static constexpr int ID_READ_AT_TIME = 32798;
    static constexpr int ID_INSERT = 32799;
    static constexpr int ID_REPLACE = 32800;
    static constexpr int ID_INSERT_REPLACE = 32801;
    static constexpr int ID_DELETE_RAW = 32802;
    static constexpr int ID_DELETE_AT_TIME = 32803;
    static constexpr std::array<int, 16> kForwardedCommands = {
        ID_CONNECT,        ID_CONNECT_REMOTE, ID_DISCONNECT,    ID_ADD_ITEMS,
        ID_DELETE_ITEMS,   ID_OPTIONS,        ID_SERVER_STATUS, ID_READ_RAW,
        ID_READ_PROCESSED, ID_READ_ATTRIBUTE, ID_READ_AT_TIME,  ID_INSERT,
        ID_REPLACE,        ID_INSERT_REPLACE, ID_DELETE_RAW,    ID_DELETE_AT_TIME};

    // The result area, which both layouts fill: the client rectangle shrunk by these.
    static constexpr int kAreaLeft = 10, kAreaTop = 5, kAreaRight = 10, kAreaBottom = 25;

    // Page text of a tab whose item has no entry in the result set (the server returned fewer
    // entries than it was asked for).
    static constexpr char16_t kNoResultForItem[] = u"No result was returned for this item";

    explicit COutputPane(QWidget* parent = nullptr);
    ~COutputPane() override;

    void SetServerPane(IOutputPaneHost* pServerPane) { m_pServerPane = pServerPane; }
    IOutputPaneHost* GetServerPane() const { return m_pServerPane; }

    // Commands: only the forwarded ones are the pane's; the others are left to the main window.
    static bool IsForwardedCommand(int nId);
    // The server pane's rule; Options is always enabled, Connect and Connect Remote have no rule.
    bool IsCommandEnabled(int nId) const;
    // Forwards an enabled command to the server pane; false when not forwarded (not the pane's,
    // disabled, or no server pane).
    bool OnCommand(int nId);

    // Value tabs: one tab per selected item of the server pane's list, captioned with its item ID.
    void CreateItemTabs();
    // Fills the page of the selected tab from the server pane's result set.
    void ShowTabResults();

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

    CMyTabCtrl* m_pTabCtrl = nullptr;
    COutputList* m_pResultList = nullptr;
    IOutputPaneHost* m_pServerPane = nullptr;
};
