#include "platform/shell.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QProcess>
#include <QStandardPaths>

namespace shell {

bool openUrl(const QString& address) {
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) return false;
    return QProcess::startDetached(opener, QStringList{address});
}

QString programFolder() { return QCoreApplication::applicationDirPath(); }

bool showOpen(QString& fileName) {
    const QString chosen = QFileDialog::getOpenFileName(nullptr, QString(), fileName);
    if (chosen.isEmpty()) return false;
    fileName = chosen;
    return true;
}

}  // namespace shell
