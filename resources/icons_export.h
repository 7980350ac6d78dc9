// The toolbar images of Export (16) and Read Next (17).
#pragma once

#include <QIcon>

namespace ui {

inline constexpr int kImageExport = 16;
inline constexpr int kImageReadNext = 17;
// The image of that index, or a null icon for any other.
QIcon ExportToolbarImage(int nIndex);

}  // namespace ui
