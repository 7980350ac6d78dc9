// One item registered with a connection: its ID and the server handle the server gave for it.
#pragma once

#include <string>
#include <utility>

#include "hda/opchda.h"

// Image of an item row in the pane's image list.
inline constexpr int kItemImage = 2;

class CHDAItem {
public:
    CHDAItem(OPCHANDLE hServer, std::u16string strItemId)
        : m_hServer(hServer), m_strItemId(std::move(strItemId)) {}
    virtual ~CHDAItem() = default;

    OPCHANDLE m_hServer;
    // Exactly as sent to the server; also the registry key and the item list's row text.
    std::u16string m_strItemId;
};
