#include "platform/webengine/page_view_tools.h"

#include <QWebEngineFindTextResult>
#include <QWebEnginePage>
#include <cmath>
#include <iterator>

namespace webengine {

namespace {

constexpr double kZoomLevels[] = {0.25, 0.33, 0.5, 0.67, 0.75, 0.8, 0.9, 1.0, 1.1,
                                  1.25, 1.5,  1.75, 2.0, 2.5,  3.0, 4.0, 5.0};
// Factors closer than this count as the same level (Ctrl+wheel leaves factors between).
constexpr double kSameLevel = 0.005;

}  // namespace

double zoomStep(double current, int step) {
    if (step == 0) return 1.0;
    if (step > 0) {
        for (double level : kZoomLevels)
            if (level > current + kSameLevel) return level;
        return kZoomLevels[std::size(kZoomLevels) - 1];
    }
    for (auto level = std::rbegin(kZoomLevels); level != std::rend(kZoomLevels); ++level)
        if (*level < current - kSameLevel) return *level;
    return kZoomLevels[0];
}

bool zoomPage(QWebEnginePage* page, int step) {
    if (!page) return false;
    const double next = zoomStep(page->zoomFactor(), step);
    if (std::abs(next - page->zoomFactor()) < kSameLevel / 10) return false;
    page->setZoomFactor(next);
    return true;
}

void findInPage(QWebEnginePage* page, const QString& text, bool backward,
                std::function<void(int active, int count)> found) {
    if (!page) {
        if (found) found(0, 0);
        return;
    }
    const QWebEnginePage::FindFlags flags = backward ? QWebEnginePage::FindBackward : QWebEnginePage::FindFlags();
    page->findText(text, flags, [found](const QWebEngineFindTextResult& result) {
        if (found) found(result.activeMatch(), result.numberOfMatches());
    });
}

}  // namespace webengine
