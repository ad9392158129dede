#pragma once

// Sizes and positions of the program's windows and controls are given in twips:
// 1440 to the inch, 15 to the device-independent pixel at 96 dots per inch.
// These two helpers are the only place that converts between the two units.

#include <QSize>
#include <QWidget>
#include <cmath>
#include <optional>

namespace tw {

inline constexpr int kTwipsPerPixel = 15;

// Twips to whole pixels, rounded to nearest.
inline int px(double twips) { return static_cast<int>(std::lround(twips / kTwipsPerPixel)); }

// Pixels to twips.
inline int twips(int pixels) { return pixels * kTwipsPerPixel; }

// Sizes `control` from its window's outer size `outer` (pixels): each managed dimension
// becomes the outer one less its margin in twips; a negative result is skipped and the
// control keeps that dimension. A dimension without a margin is left alone.
inline void followOuterSize(QWidget* control, QSize outer, std::optional<float> widthMargin,
                            std::optional<float> heightMargin) {
    if (widthMargin) {
        const float width = static_cast<float>(twips(outer.width())) - *widthMargin;
        if (width >= 0) control->resize(px(width), control->height());
    }
    if (heightMargin) {
        const float height = static_cast<float>(twips(outer.height())) - *heightMargin;
        if (height >= 0) control->resize(control->width(), px(height));
    }
}

}  // namespace tw
