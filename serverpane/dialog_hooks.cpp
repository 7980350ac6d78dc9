// Where the server pane opens the dialogs that belong to the item and server selection windows.
#include "dialogs/additem.h"
#include "serverpane/serverpane.h"

// The Add Items dialog, modal and without a parent window, with this pane as its owner.
// m_hAddItemsServer and m_strCurrentServer are set; the dialog gets the server from
// GetAddItemsServer() and registers what the server accepts with AddItemToServer.
void CServerPane::RunAddItemsDialog() {
    CAddItem dlg;
    dlg.m_pServerPane = this;
    dlg.exec();
}

BOOL CServerPane::AddItemToServer(const std::u16string& strItemId, OPCHANDLE hServer) {
    CHDAServer* pServer = FindServer(m_strCurrentServer);
    return pServer ? pServer->AddItemToServer(strItemId, hServer) : FALSE;
}
