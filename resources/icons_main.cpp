#include "resources/icons_main.h"

#include "resources/icon_calltrace.h"
#include "resources/icons_export.h"
#include "resources/icons_lists.h"
#include "resources/icons_readmodified.h"
#include "resources/icons_trend.h"

// The XPM files are C arrays; they are compiled in, so no file or resource lookup can fail at run time.
#include "resources/icons/brindlex_server.xpm"
#include "resources/icons/computer.xpm"
#include "resources/icons/item.xpm"
#include "resources/icons/server.xpm"
#include "resources/icons/tb_add_items.xpm"
#include "resources/icons/tb_connect.xpm"
#include "resources/icons/tb_connect_remote.xpm"
#include "resources/icons/tb_delete_at_time.xpm"
#include "resources/icons/tb_delete_items.xpm"
#include "resources/icons/tb_delete_raw.xpm"
#include "resources/icons/tb_disconnect.xpm"
#include "resources/icons/tb_insert.xpm"
#include "resources/icons/tb_insert_replace.xpm"
#include "resources/icons/tb_read_at_time.xpm"
#include "resources/icons/tb_read_attribute.xpm"
#include "resources/icons/tb_read_processed.xpm"
#include "resources/icons/tb_read_raw.xpm"
#include "resources/icons/tb_replace.xpm"
#include "resources/icons/tb_server_status.xpm"
#include "resources/icons/tb_serverbox.xpm"
#include "resources/icons/vistrel_32.xpm"
#include "resources/icons/vistrel_48.xpm"

namespace ui {

QList<QIcon> PaneImages() {
    return {QIcon(QPixmap(computer_xpm)), QIcon(QPixmap(server_xpm)), QIcon(QPixmap(item_xpm)),
            QIcon(QPixmap(brindlex_server_xpm))};
}

QIcon ToolbarImage(int nIndex) {
    static const char* const* const strip[kToolbarImageCount] = {
        tb_serverbox_xpm,      tb_connect_xpm,        tb_server_status_xpm, tb_connect_remote_xpm,
        tb_disconnect_xpm,     tb_add_items_xpm,      tb_delete_items_xpm,  tb_read_raw_xpm,
        tb_read_processed_xpm, tb_read_attribute_xpm, tb_read_at_time_xpm,  tb_insert_xpm,
        tb_replace_xpm,        tb_insert_replace_xpm, tb_delete_raw_xpm,    tb_delete_at_time_xpm,
    };
    if (nIndex == kReadModifiedImage) return ReadModifiedImage();
    if (nIndex == kCallTraceImage) return CallTraceImage();
    if (nIndex == kTrendImage) return TrendToolbarImage();
    if (nIndex >= kSaveItemsImage) return ListsAndTimeImage(nIndex);
    if (nIndex >= kToolbarImageCount) return ExportToolbarImage(nIndex);
    if (nIndex < 0) return {};
    return QIcon(QPixmap(strip[nIndex]));
}

QPixmap AppIconPixmap(int nSize) {
    return QPixmap(nSize >= 48 ? vistrel_48_xpm : vistrel_32_xpm).scaled(nSize, nSize);
}

QIcon AppIcon() {
    QIcon icon;
    icon.addPixmap(QPixmap(vistrel_32_xpm));
    icon.addPixmap(QPixmap(vistrel_48_xpm));
    return icon;
}

}  // namespace ui
