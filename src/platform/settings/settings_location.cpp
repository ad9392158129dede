#include "platform/settings/settings_location.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "platform/settings/profile.h"

#ifdef _WIN32
#include "platform/user32/user32_shell.h"
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace SettingsLocation {

namespace {

QString programFile(const QString& programFolder) { return programFolder + QStringLiteral("/Tarnwick.ini"); }

}  // namespace

#ifdef _WIN32

// Windows: a program folder that cannot be written sends the settings to the roaming
// application-data folder, as user32::settingsFile chooses.

namespace {

std::wstring native(const QString& path) { return QDir::toNativeSeparators(path).toStdWString(); }

QString settingsFile(const QString& programFolder, bool forWriting) {
    return QDir::fromNativeSeparators(
        QString::fromStdWString(user32::settingsFile(native(programFolder), user32::roamingFolder(), forWriting)));
}

}  // namespace

bool redirected(const QString& programFolder) { return !user32::folderWritable(native(programFolder)); }

QString perUserFile() {
    return QDir::fromNativeSeparators(QString::fromStdWString(user32::roamingFolder())) +
           QStringLiteral("/Tarnwick/Tarnwick.ini");
}

QString forReading(const QString& programFolder) { return settingsFile(programFolder, false); }

QString forWriting(const QString& programFolder) { return settingsFile(programFolder, true); }

#else

bool redirected(const QString& programFolder) {
    const QByteArray folder = QFile::encodeName(programFolder);
    struct stat st {};
    if (::stat(folder.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;  // nothing to redirect
    const QString canonical = QFileInfo(programFolder).canonicalFilePath();
    if (canonical == QLatin1String("/usr") || canonical.startsWith(QLatin1String("/usr/"))) return true;
    if (::access(folder.constData(), W_OK | X_OK) != 0) return true;  // includes read-only mounts
    // access() lets root write anywhere; a folder without any write bit counts as
    // read-only for root too.
    return ::geteuid() == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

QString perUserFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/tarnwick/Tarnwick.ini");
}

QString forReading(const QString& programFolder) {
    if (!redirected(programFolder)) return programFile(programFolder);
    const QString own = perUserFile();
    return QFileInfo::exists(own) ? own : programFile(programFolder);
}

QString forWriting(const QString& programFolder) {
    if (!redirected(programFolder)) return programFile(programFolder);
    const QString own = perUserFile();
    if (QFileInfo::exists(own)) return own;
    QDir().mkpath(QFileInfo(own).path());
    // QFile::copy writes a temporary file and renames it, so a copy is whole or absent;
    // it never replaces an existing file. Only a plain file of settings size is copied.
    const QFileInfo shared(programFile(programFolder));
    if (shared.isFile() && shared.size() <= Profile::kMaxFileBytes && QFile::copy(shared.filePath(), own))
        QFile::setPermissions(own, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                       QFileDevice::ReadOther);
    return own;
}

#endif

}  // namespace SettingsLocation
