// The images of Save Items (21), Load Items (22) and the three time bases (23 local with the offset in
// force now, 24 local with each instant's offset, 25 UTC).
#pragma once

#include <QIcon>

namespace ui {

inline constexpr int kSaveItemsImage = 21;
inline constexpr int kLoadItemsImage = 22;
inline constexpr int kTimeLocalImage = 23;
inline constexpr int kTimeInstantImage = 24;
inline constexpr int kTimeUtcImage = 25;
// 16 x 16 pixels; a null icon for any other index.
QIcon ListsAndTimeImage(int nIndex);

}  // namespace ui
