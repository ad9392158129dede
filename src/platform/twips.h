#pragma once

// Sizes and positions of the program's windows and controls are given in twips:
// 1440 to the inch, 15 to the device-independent pixel at 96 dots per inch.
// These two helpers are the only place that converts between the two units.

#include <cmath>

namespace tw {

inline constexpr int kTwipsPerPixel = 15;

// Twips to whole pixels, rounded to nearest.
inline int px(double twips) { return static_cast<int>(std::lround(twips / kTwipsPerPixel)); }

// Pixels to twips.
inline int twips(int pixels) { return pixels * kTwipsPerPixel; }

}  // namespace tw
