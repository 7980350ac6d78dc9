// Joining COM, fixing the process's security, and listing the HDA servers registered locally.
#pragma once

#include <functional>
#include <string>

namespace hda {

// Caption of every message of the COM set-up.
inline constexpr char16_t kSetupCaption[] = u"Oops !";

// Initialises COM for the calling thread (multithreaded apartment), sets the process-wide security and
// hands the ProgID of every class of CATID_OPCHDAServer10 to addEntry, in the category manager's order.
// Failures are reported with message boxes owned by pOwner; none stops the caller. Returns whether
// CoInitializeEx succeeded, so that the caller knows to balance it with CoUninitialize.
bool InitComAndDiscoverServers(const void* pOwner,
                               const std::function<void(const std::u16string&)>& addEntry);

}  // namespace hda
