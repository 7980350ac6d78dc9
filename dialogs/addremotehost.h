// What the Add Remote Server dialog needs of the server pane that opens it: the ProgIDs of the
// toolbar's server box, and the pane's remote connection.
#pragma once

#include <string>
#include <vector>

class IAddRemoteServerHost {
public:
    // Every entry of the toolbar's server box, in its order.
    virtual std::vector<std::u16string> GetServerBoxEntries() const = 0;
    // Hands the computer and the ProgID over (m_strRemoteComputer, m_strRemoteProgId) and runs the
    // pane's connection with the remote flag; that reports its own failures.
    virtual void ConnectRemoteServer(const std::u16string& strComputer, const std::u16string& strProgId) = 0;

protected:
    ~IAddRemoteServerHost() = default;
};
