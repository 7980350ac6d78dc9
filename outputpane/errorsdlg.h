// CErrorsEncounteredDlg: the items a server refused while items were being added. It only lists; the
// accepted items have been added already.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "com/types.h"

class QTreeWidget;

class CErrorsEncounteredDlg final : public QDialog {
    Q_OBJECT
public:
    static constexpr int IDC_ERRORS_LIST = 1003;
    static constexpr char16_t kCompletedText[] =
        u"The operation completed successfully, but errors were encountered for some items";
    static constexpr char16_t kMayNotHaveText[] =
        u"The operation may not have been completed successfully for these items";
    static constexpr char16_t kInvalidItemIdText[] =
        u"The item definition does not conform to the servers syntax";
    static constexpr char16_t kUnknownErrorText[] = u"Unknown Error";

    explicit CErrorsEncounteredDlg(QWidget* parent = nullptr);

    // Set by the caller before showing. The per-item codes GetItemHandles returned (as far as the
    // server's array reached), and the item IDs passed to it in the same order; an entry without an ID
    // shows an empty cell.
    std::vector<HRESULT> m_errors;
    std::vector<std::u16string> m_itemIds;

    QTreeWidget* GetList() const { return m_pList; }

    // Fills the list from the members (once; showing the dialog calls it).
    void OnInitDialog();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QTreeWidget* m_pList;
    bool m_bInitialised = false;
};
