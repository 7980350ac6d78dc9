// The Read Attribute dialog: the server's item attributes, each a tick box in a tree and a row in a
// reference list; OK hands over the ids of the ticked ones.
#pragma once

#include <QDialog>
#include <QIcon>
#include <vector>

#include "client/lists.h"
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

    // Forgets the server's attribute list. The caller calls it once it has named its results; safe to
    // call more than once.
    void ReleaseAttributeList();

    // Set by the caller before exec(): its current server is asked for the attributes.
    IDialogHost* m_pServerPane = nullptr;

    // The server's attribute list, in tree order, kept from OK until ReleaseAttributeList so that the
    // caller can name its results (a name may be absent when the server gave none).
    std::vector<client::ItemAttribute> m_serverAttributes;

    // Results: the ticked attributes' ids in tree order; set on OK.
    std::vector<DWORD> m_checkedIds;

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
