// The computers of the network, enumerated as the Windows network neighbourhood enumerates them:
// WNetOpenEnumW, then WNetEnumResourceW into the caller's buffer for as long as it reports
// NO_ERROR, then WNetCloseEnum. Each computer is an entry of display type RESOURCEDISPLAYTYPE_SERVER
// whose remote name is the double-backslash form ("\\plant-db").
//
// Where the names come from is the network source. The default source finds computers from
//   1. the hosts this client has reached before ("<config>/reached-hosts", written by the client),
//   2. the hosts file the user keeps ("<config>/hosts"),
//   3. DNS-SD, when libavahi-client can be loaded and an Avahi daemon answers: the computers that
//      advertise the host service (kHostServiceType),
// in that order, each name once; <config> is ConfigDirectory(). Tests install their own source.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "com/errhandlingapi.h"
#include "com/types.h"

using HANDLE = void*;

// Scopes, types, display types and usages of a network resource.
constexpr DWORD RESOURCE_CONNECTED = 0x00000001;
constexpr DWORD RESOURCE_GLOBALNET = 0x00000002;
constexpr DWORD RESOURCE_REMEMBERED = 0x00000003;
constexpr DWORD RESOURCE_CONTEXT = 0x00000005;
constexpr DWORD RESOURCETYPE_ANY = 0x00000000;
constexpr DWORD RESOURCETYPE_DISK = 0x00000001;
constexpr DWORD RESOURCEDISPLAYTYPE_GENERIC = 0x00000000;
constexpr DWORD RESOURCEDISPLAYTYPE_DOMAIN = 0x00000001;
constexpr DWORD RESOURCEDISPLAYTYPE_SERVER = 0x00000002;
constexpr DWORD RESOURCEDISPLAYTYPE_SHARE = 0x00000003;
constexpr DWORD RESOURCEUSAGE_CONNECTABLE = 0x00000001;
constexpr DWORD RESOURCEUSAGE_CONTAINER = 0x00000002;

// Their codes.
constexpr DWORD NO_ERROR = 0;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_NO_NETWORK = 1222;

struct NETRESOURCEW {
    DWORD dwScope;
    DWORD dwType;
    DWORD dwDisplayType;
    DWORD dwUsage;
    LPWSTR lpLocalName;
    LPWSTR lpRemoteName;
    LPWSTR lpComment;
    LPWSTR lpProvider;
};

// Opens an enumeration of the current source's entries (a snapshot taken now). Only the scope
// RESOURCE_CONTEXT with no container is served; other scopes give ERROR_NO_NETWORK. A source's
// failure code is returned as it is.
DWORD WNetOpenEnumW(DWORD dwScope, DWORD dwType, DWORD dwUsage, const NETRESOURCEW* lpNetResource,
                    HANDLE* lphEnum);
// Writes up to *lpcCount entries into the buffer (the records first, their strings after them) and
// sets *lpcCount to how many it wrote: NO_ERROR while it wrote some, ERROR_NO_MORE_ITEMS at the end,
// ERROR_MORE_DATA with the size needed in *lpBufferSize when not even one entry fits.
DWORD WNetEnumResourceW(HANDLE hEnum, DWORD* lpcCount, void* lpBuffer, DWORD* lpBufferSize);
DWORD WNetCloseEnum(HANDLE hEnum);

namespace hda {

// One entry of the network source.
struct NetEntry {
    DWORD dwDisplayType = RESOURCEDISPLAYTYPE_SERVER;
    std::u16string strRemoteName;
};
// Answers one opening of the enumeration: NO_ERROR with the entries, or a failure code.
using NetworkSource = std::function<DWORD(std::vector<NetEntry>* pEntries)>;
// Replaces the source; returns the previous one. An empty source restores the default.
NetworkSource SetNetworkSource(NetworkSource source);

// ---- Finding computers ----

// The service the host advertises by DNS-SD, and the port a computer name without ":port" reaches.
inline constexpr char kHostServiceType[] = "_vistrel-host._tcp";
inline constexpr std::uint16_t kDefaultHostPort = 4747;

// $VISTREL_CONFIG_DIR, else $XDG_CONFIG_HOME/vistrel, else ~/.config/vistrel.
std::string ConfigDirectory();

struct ComputerSources {
    std::string strReachedHostsPath;  // empty: not asked
    std::string strHostsPath;         // empty: not asked
    // Names found by DNS-SD (a name may end in ":port"); empty: not asked.
    std::function<std::vector<std::u16string>()> dnsSd;
};
// The three sources of the default network source, in ConfigDirectory().
ComputerSources DefaultComputerSources();

// The computers of the sources, in their order and each source's own order, in the double-backslash
// form; a name already given (compared without case) is left out. A missing file counts as empty; a
// file that exists but cannot be read is left out with a line on diagnostics naming it and why.
//
// A line of either file holds one computer name, optionally after backslashes ("\\plant-db") and
// with ":port" after it; text after '#' is a comment; blank lines and surrounding blanks are ignored.
std::vector<std::u16string> FindComputers(const ComputerSources& sources, std::ostream& diagnostics);

// The computers that advertise kHostServiceType, from the Avahi daemon when libavahi-client can be
// loaded and the daemon answers within timeoutMs; nothing otherwise. Sorted, without duplicates.
std::vector<std::u16string> BrowseDnsSd(unsigned timeoutMs = 1500);

// Advertises this computer's host service (kHostServiceType, on port) by DNS-SD for as long as it
// lives, when libavahi-client can be loaded and an Avahi daemon answers. A listen address of
// loopback only ("127.0.0.1", "::1", "localhost") is never advertised. log receives at most one line,
// starting "DNS-SD: ": the name advertised, or why nothing is; nothing ever fails for want of Avahi.
class HostAdvertisement {
public:
    HostAdvertisement(const std::string& strListen, std::uint16_t port,
                      std::function<void(const std::string&)> log);
    ~HostAdvertisement();
    HostAdvertisement(const HostAdvertisement&) = delete;
    HostAdvertisement& operator=(const HostAdvertisement&) = delete;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Notes a computer the client reached in the reached-hosts file (leading backslashes dropped),
// unless the file already holds it; creates the file and its directory when missing. False when it
// cannot be written, with a line on diagnostics.
bool RememberReachedHost(const std::u16string& strComputer, const std::string& strPath,
                         std::ostream& diagnostics);

}  // namespace hda
