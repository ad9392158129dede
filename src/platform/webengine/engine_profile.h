#pragma once

// The one web-engine profile shared by the hosted browser and the windows it opens.

#include <QLoggingCategory>

class QWebEngineProfile;
class QWebEnginePage;

// Failures of the engine adapter that are deliberately swallowed (off by default).
Q_DECLARE_LOGGING_CATEGORY(lcEngine)

namespace webengine {

// The profile every page of the program uses (a page opened for a new window must share
// its opener's profile). Cookies, local storage, IndexedDB and visited links are kept in
// $XDG_DATA_HOME/tarnwick, the HTTP cache in $XDG_CACHE_HOME/tarnwick. The engine cannot
// share these folders between two processes, so the first running instance holds a lock
// on them; an instance started while another one runs (or one whose folders cannot be
// created) gets an off-the-record profile instead, kept in memory and gone at its end.
// The profile belongs to the application object and therefore outlives every page.
QWebEngineProfile* sharedProfile();

// Whether sharedProfile() keeps its data on disk.
bool profileIsPersistent();

// Denies every permission a page asks for (notifications, location, camera, microphone,
// screen sharing, pointer lock ...) without asking the user: the page sees "denied".
void denyPermissions(QWebEnginePage* page);

// Refuses every login the page is asked for (HTTP or proxy): the page shows the site's
// own refusal.
void refuseLogins(QWebEnginePage* page);

// Ends the profile cleanly at the program's end, after every page is gone: cancels the
// downloads still running (removing their partial files) and releases the profile, so
// that the engine's shutdown writes out what it still holds in memory.
void closeProfile();

}  // namespace webengine
