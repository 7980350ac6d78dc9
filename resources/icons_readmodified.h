// The toolbar image of Read Modified.
#pragma once

#include <QIcon>

namespace ui {

// Image 18 of the toolbar's strip.
inline constexpr int kReadModifiedImage = 18;
// A history chart whose one value is struck and replaced (a pencil over it), 16 x 16.
QIcon ReadModifiedImage();

}  // namespace ui
