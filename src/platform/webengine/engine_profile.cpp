#include "platform/webengine/engine_profile.h"

#include <QCoreApplication>
#include <QPointer>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

#include "platform/webengine/browser_window.h"

namespace webengine {

namespace {

// A page may ask for new windows faster than any could be shown: a script calling
// window.open in a loop makes the engine build a half-made window for every call, and
// a thousand of those stall the page's renderer even when the browser refuses them.
// So the bound on open windows is also kept where the calls are made: while as many
// windows as may be open at once that a document opened are still open, its further
// window.open calls answer null, as a blocked popup does.
QString windowOpenBound() {
    return QStringLiteral(R"((function () {
  var open = window.open;
  if (typeof open !== 'function') return;
  var limit = %1, mine = [];
  window.open = function () {
    var still = [];
    for (var i = 0; i < mine.length; ++i) {
      try { if (!mine[i].closed) still.push(mine[i]); } catch (e) {}
    }
    mine = still;
    if (mine.length >= limit) return null;
    var opened = open.apply(this, arguments);
    if (opened) mine.push(opened);
    return opened;
  };
})();)")
        .arg(BrowserWindow::kMaxOpen);
}

}  // namespace

QWebEngineProfile* sharedProfile() {
    static QPointer<QWebEngineProfile> profile;
    if (!profile) {
        profile = new QWebEngineProfile(QCoreApplication::instance());  // no name: off the record
        QWebEngineScript bound;
        bound.setName(QStringLiteral("tarnwick-window-open-bound"));
        bound.setSourceCode(windowOpenBound());
        bound.setInjectionPoint(QWebEngineScript::DocumentCreation);
        bound.setWorldId(QWebEngineScript::MainWorld);
        bound.setRunsOnSubFrames(true);
        profile->scripts()->insert(bound);
    }
    return profile;
}

}  // namespace webengine
