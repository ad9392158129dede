#include "platform/system/shell.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QProcess>
#include <QStandardPaths>

#ifdef _WIN32
#include "platform/user32/user32_shell.h"
#endif

namespace shell {

#ifdef _WIN32
bool openUrl(const QString& address) { return user32::openUrl(address.toStdWString()); }
#else
bool openUrl(const QString& address) {
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) return false;
    return QProcess::startDetached(opener, QStringList{address});
}
#endif

QString programFolder() { return QCoreApplication::applicationDirPath(); }

bool showOpen(QString& fileName) {
    const QString chosen = QFileDialog::getOpenFileName(nullptr, QString(), fileName);
    if (chosen.isEmpty()) return false;
    fileName = chosen;
    return true;
}

}  // namespace shell
