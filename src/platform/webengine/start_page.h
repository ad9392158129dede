#pragma once

// The program's own start page, served by the program itself under a URL scheme of its
// own, so that the first window needs no network: "tarnwick://start/" says what the
// program does, shows the live count of denied windows (the page asks
// "tarnwick://start/count" for it a few times a second) and has a "try it" link whose
// click opens a popup ("tarnwick://start/popup") for the program to deny.

#include <QString>
#include <cstdint>
#include <functional>

class QWebEngineProfile;

namespace webengine {

// The scheme's name, "tarnwick".
extern const char kStartPageScheme[];

// Makes the scheme known to the engine: a secure, local scheme with a host, whose pages
// may ask their own origin for resources. Must run before the application object and
// any engine object exist.
void registerStartPageScheme();

// Serves the scheme's pages to every page of `profile` (installed once; later calls
// only replace the count). `deniedCount` gives the count the page shows.
void serveStartPage(QWebEngineProfile* profile, std::function<std::int64_t()> deniedCount);

// What the desktop's default browser can open for `address`: the address itself, or for
// an address of the program's own scheme a file copy of the page it names (written now
// into `folder`, with the count `profile`'s pages show at this moment), as a file URL.
// Empty when that copy cannot be written: nothing can be handed over.
QString handOffAddress(QWebEngineProfile* profile, const QString& address, const QString& folder);

}  // namespace webengine
