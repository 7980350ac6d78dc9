// Connect Remote: the Add Remote Server dialog chooses a ProgID and another computer, and the pane's
// one connection routine connects it there.
#include <QComboBox>
#include <iostream>
#include <memory>
#include <new>

#include "dialogs/addremoteserver.h"
#include "hda/messages.h"
#include "hda/netbrowse.h"
#include "resources/uikit.h"
#include "serverpane/serverpane.h"

// Modal and without a parent window; the dialog itself hands the choice over and connects before it
// closes, so nothing follows here.
void CServerPane::OnConnectRemote() {
    std::unique_ptr<CAddRemoteServer> pDlg(new (std::nothrow) CAddRemoteServer);
    if (!pDlg) {
        hda::ShowMessage(static_cast<const QWidget*>(this), u"Out of Memory!!!", u"Error",
                         hda::MsgIcon::Exclamation);
        return;
    }
    pDlg->m_pServerPane = this;
    pDlg->exec();
}

std::vector<std::u16string> CServerPane::GetServerBoxEntries() const {
    std::vector<std::u16string> entries;
    const QComboBox* pCombo = m_pMainFrame ? m_pMainFrame->GetServerCombo() : nullptr;
    if (pCombo)
        for (int i = 0; i < pCombo->count(); ++i) entries.push_back(ui::ToU16(pCombo->itemText(i)));
    return entries;
}

void CServerPane::ConnectRemoteServer(const std::u16string& strComputer, const std::u16string& strProgId) {
    const std::u16string strKey = strComputer + strProgId;
    const bool bWasConnected = FindServer(strKey) != nullptr;
    m_strRemoteComputer = strComputer;
    m_strRemoteProgId = strProgId;
    ConnectServer(TRUE);
    // A computer reached is offered by the dialog from now on (this computer under another name is not).
    const CHDAServer* pServer = FindServer(strKey);
    if (!bWasConnected && pServer && !pServer->m_strComputer.empty() && pServer->m_strComputer == strComputer)
        hda::RememberReachedHost(strComputer, hda::DefaultComputerSources().strReachedHostsPath, std::cerr);
}
