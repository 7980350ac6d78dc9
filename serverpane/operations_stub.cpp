// The history operations of the server pane. These bodies do nothing yet; the
// files that carry out each operation replace this one.
#include "serverpane/serverpane.h"

void CServerPane::UpdateHistory(OPCHDA_EDITTYPE) {}
void CServerPane::OnDeleteRaw() {}
void CServerPane::OnDeleteAtTime() {}
