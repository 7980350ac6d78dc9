// What the Add Items dialog needs of the server pane that opens it: the server it adds items to, and
// the registration of each item that server accepted.
#pragma once

#include <string>

#include "hda/opchda.h"

class IAddItemHost {
public:
    // The IOPCHDA_Server of the server the dialog is open for, or null when that connection is gone.
    // Borrowed: the dialog neither adds a reference nor releases it.
    virtual IOPCHDA_Server* GetAddItemsServer() const = 0;

    // Registers one accepted item with that server's connection and adds its row to the item list.
    // An ID the connection already holds keeps its first handle. TRUE when a record was stored.
    virtual BOOL AddItemToServer(const std::u16string& strItemId, OPCHANDLE hServer) = 0;

protected:
    ~IAddItemHost() = default;
};
