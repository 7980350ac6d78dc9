// The Read Attribute dialog: the server's item attributes, each a tick box in a tree and a row in a
// reference list; OK hands over the ids of the ticked ones.
#pragma once

#include <QDialog>
#include <QIcon>

#include "com/types.h"
#include "dialogs/dialoghost.h"
#include "dialogs/dlgkit.h"

class QTreeWidget;
class QPushButton;

class CReadAttributeDlg : public QDialog {
    Q_OBJECT
public:
    enum { IDD = IDD_READATTRIBUTE };
    explicit CReadAttributeDlg(QWidget* pParent = nullptr);
    ~CReadAttributeDlg() override;

    // Fills the tree and the list (asking the server for its attributes) and runs the dialog.
    int exec() override;
    // Every way out that is not OK releases the attribute list.
    void done(int r) override;

    // Releases the server's attribute list (every name, the name array, the id array). The caller
    // calls it once it has named its results; safe to call more than once.
    void ReleaseAttributeList();

    // Set by the caller before exec(): its current server is asked for the attributes.
    IDialogHost* m_pServerPane = nullptr;

    // The server's attribute list, lent to the caller from OK until ReleaseAttributeList: entries
    // 0..m_nServerAttributes-1 of both arrays exist (a name may be null when the server gave none).
    LONG m_nServerAttributes = 0;
    DWORD* m_pServerAttributeIds = nullptr;
    LPWSTR* m_pServerAttributeNames = nullptr;

    // Results: the ticked attributes' ids in tree order, from CoTaskMemAlloc; the caller's from OK on.
    DWORD* m_pCheckedIds = nullptr;
    LONG m_nCheckedCount = 0;

    // The tree's image: one 16 x 16 picture shared by every entry.
    QIcon m_pImageList;

protected:
    void OnInitDialog();
    void OnOK();
    void FillAttributeList();

private:
    QTreeWidget* m_pTree = nullptr;
    QTreeWidget* m_pList = nullptr;
    QPushButton* m_pOk = nullptr;
};
