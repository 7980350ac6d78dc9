// The toolbar image of View > Call Trace (image 20 of the strip): a log page with a clock.
#pragma once

#include <QIcon>

namespace ui {

inline constexpr int kCallTraceImage = 20;
QIcon CallTraceImage();

}  // namespace ui
