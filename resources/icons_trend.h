// The Trend command's image: a framed chart with a line, one point marked Bad.
#pragma once

#include <QIcon>

namespace ui {

// Its index in the toolbar's strip.
inline constexpr int kTrendImage = 19;
// 16 x 16 pixels.
QIcon TrendToolbarImage();

}  // namespace ui
