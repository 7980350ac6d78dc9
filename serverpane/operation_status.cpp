// Server Status: the state of the server selected in the tree, shown by its dialog.
#include "dialogs/serverstatusdlg.h"
#include "serverpane/serverpane.h"

// The dialog asks the server itself as it opens and changes no state; nothing follows its closing.
void CServerPane::OnServerStatus() {
    CServerStatusDlg dlg;
    dlg.m_strServerKey = GetSelectedServerKey();
    dlg.m_pServerPane = this;
    dlg.m_timeBasis = GetTimeBasis();
    dlg.exec();
}
