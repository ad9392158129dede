#include "platform/webengine/engine_environment.h"

#include <QLoggingCategory>
#include <QtGlobal>

namespace webengine {

void prepareEngine() {
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY"))
        qputenv("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY", "1");
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
}

}  // namespace webengine
