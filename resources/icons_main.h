// The main window's artwork: the pane's images, the toolbar's button images and the application icon.
#pragma once

#include <QIcon>
#include <QList>
#include <QPixmap>

namespace ui {

// The server pane's image list in index order: 0 computer, 1 server, 2 item, 3 Brindlex server.
// 16 x 16 pixels.
QList<QIcon> PaneImages();

// The toolbar's strip: one 16 x 16 image per non-separator slot, in slot order (0 is the server box's
// slot, 1 Connect, 2 Server Status, ... 15 Delete At Time).
inline constexpr int kToolbarImageCount = 16;
QIcon ToolbarImage(int nIndex);

// The application icon at 32 and 48 pixels.
QIcon AppIcon();
QPixmap AppIconPixmap(int nSize);

}  // namespace ui
