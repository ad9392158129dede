#include "platform/webengine/engine_profile.h"

#include <QCoreApplication>
#include <QPointer>
#include <QWebEngineProfile>

namespace webengine {

QWebEngineProfile* sharedProfile() {
    static QPointer<QWebEngineProfile> profile;
    if (!profile) profile = new QWebEngineProfile(QCoreApplication::instance());  // no name: off the record
    return profile;
}

}  // namespace webengine
