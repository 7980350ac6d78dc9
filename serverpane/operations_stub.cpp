// The history operations and the server status of the server pane. These bodies do nothing yet; the
// files that carry out each operation replace this one.
#include "serverpane/serverpane.h"

void CServerPane::OnServerStatus() {}
void CServerPane::OnReadRaw() {}
void CServerPane::OnReadProcessed() {}
void CServerPane::OnReadAttribute() {}
void CServerPane::OnReadAtTime() {}
void CServerPane::UpdateHistory(OPCHDA_EDITTYPE) {}
void CServerPane::OnDeleteRaw() {}
void CServerPane::OnDeleteAtTime() {}
