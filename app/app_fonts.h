// The fonts of the main window: the window's own, the list font of the five
// lists and the count font of the eight totals. Each takes the design's
// Windows face where it is installed, else a Japanese Gothic face of the same
// kind (fixed-pitch for the lists, proportional otherwise) at the same size.
// Sizes are in pixels at 96 dpi, like every position of the window.
#pragma once

#include <QFont>

namespace kp {

QFont WindowFont();  // proportional Gothic, 9 pt
QFont ListFont();    // "ＭＳ ゴシック" 9.75 pt or a fixed-pitch Gothic
QFont CountFont();   // "ＭＳ Ｐゴシック" 12 pt or a proportional Gothic

}  // namespace kp
