// The desktop client's answers to the remote layer about a host's certificate: a host met for the
// first time is shown with its fingerprint and a question; a refusal is shown as an error.
#pragma once

namespace serverpane {

// Installs the questions (nothing where the remote layer is not built); UninstallHostKeyQuestions()
// restores silent pinning, for tests. InstallRemoteClient() also installs the runtime's remote
// activator with its default options, for the desktop client's main().
void InstallRemoteClient();
void InstallHostKeyQuestions();
void UninstallHostKeyQuestions();
// Runs this computer's in-process servers out of process, each in a surrogate of its own (as
// VISTREL_ISOLATE=1 does), for the connections made from now on. False where the remote layer is not
// built.
bool SetServersOutOfProcess(bool bOn);

}  // namespace serverpane
