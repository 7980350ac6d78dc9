// The OPC server-list service of this computer (CLSID_OpcServerList, IOPCServerList): the HDA servers
// registered here, answered from the class store. Other computers reach it through the remote layer;
// the client asks it for a ProgID its own store does not know.
#pragma once

namespace hda {

// Makes this process serve the class CLSID_OpcServerList in-process (and for requests naming this
// computer). Called by the program's start-up code (main(), test fixtures); calling it again changes
// nothing. com::ResetRuntimeForTests removes it.
void InstallServerList();

}  // namespace hda
