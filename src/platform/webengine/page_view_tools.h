#pragma once

// What a person does to the page as shown rather than to its document: zoom it and find
// text in it.

#include <QString>
#include <functional>

class QWebEnginePage;

namespace webengine {

// The zoom factor one step from `current` along the usual browser zoom levels (25 % to
// 500 %): `step` > 0 the next larger level, < 0 the next smaller one, 0 back to 100 %.
double zoomStep(double current, int step);

// Zooms `page` one step (see zoomStep); false when it is at the end of the levels
// already.
bool zoomPage(QWebEnginePage* page, int step);

// Finds `text` in `page` (case-insensitive), forward or backward from the current match,
// and highlights every match; the empty text ends the search and its highlight. `found`
// receives the active match (1-based, 0 for none) and the number of matches.
void findInPage(QWebEnginePage* page, const QString& text, bool backward,
                std::function<void(int active, int count)> found);

}  // namespace webengine
