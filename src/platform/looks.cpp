#include "platform/looks.h"

#include "platform/module1.h"

static void initTarnwickResources() { Q_INIT_RESOURCE(assets); }

namespace {

// The start page's place in the settings file.
const QString kStartPageSection = kProgramName;
const QString kStartPageKey = QStringLiteral("DefaultURL");

}  // namespace

QIcon applicationIcon() {
    initTarnwickResources();
    return QIcon(QStringLiteral(":/tarnwick/tarnwick.png"));
}

QFont textWindowFont() {
    QFont font(QStringLiteral("Courier New"));
    font.setPointSizeF(8.25);
    font.setStyleHint(QFont::TypeWriter);
    return font;
}

QString captionWithProgramName(const QString& subject) { return subject + QStringLiteral(" - ") + kProgramName; }

QString storedStartPage(const QString& settingsFile) {
    return ReadIniString(kStartPageSection, kStartPageKey, settingsFile);
}

bool storeStartPage(const QString& settingsFile, const QString& address) {
    return WriteIniString(kStartPageSection, kStartPageKey, address, settingsFile);
}
