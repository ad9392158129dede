#include "platform/ui/looks.h"

static void initTarnwickResources() { Q_INIT_RESOURCE(assets); }

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
