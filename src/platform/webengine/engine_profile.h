#pragma once

// The one web-engine profile shared by the hosted browser and the windows it opens.

class QWebEngineProfile;

namespace webengine {

// An off-the-record profile: cookies, cache and local storage live in memory only and
// vanish with the process, so the program leaves no browsing data behind and needs no
// storage folder. Every page of the program uses it, because a page opened for a new
// window must share its opener's profile. It belongs to the application object and
// therefore outlives every page.
QWebEngineProfile* sharedProfile();

}  // namespace webengine
