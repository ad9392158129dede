#include "test_env.h"

#include <QDir>
#include <QFile>

namespace testenv {

QProcessEnvironment privateHome(const QString& home, QProcessEnvironment env) {
    for (const char* name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "XDG_SESSION_DESKTOP", "BROWSER",
                             "KDE_FULL_SESSION", "KDE_SESSION_VERSION", "GNOME_DESKTOP_SESSION_ID",
                             "QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE", "QT_SCALE_FACTOR"})
        env.remove(QString::fromLatin1(name));
    const QDir dir(home);
    const std::pair<const char*, const char*> folders[] = {{"XDG_CONFIG_HOME", ".config"},
                                                           {"XDG_DATA_HOME", ".local/share"},
                                                           {"XDG_CACHE_HOME", ".cache"},
                                                           {"XDG_RUNTIME_DIR", ".runtime"}};
    for (const auto& [name, folder] : folders) {
        dir.mkpath(QString::fromLatin1(folder));
        env.insert(QString::fromLatin1(name), dir.filePath(QString::fromLatin1(folder)));
    }
    QFile::setPermissions(dir.filePath(QStringLiteral(".runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // An empty folder list, so that only the handler registrations made in `home` count.
    env.insert(QStringLiteral("XDG_CONFIG_DIRS"), dir.filePath(QStringLiteral("no-config")));
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    env.insert(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"), QString::fromLatin1(kEngineFlags));
    return env;
}

void exportPrivateHome(const QString& home) {
    const QProcessEnvironment env = privateHome(home, QProcessEnvironment());
    for (const QString& name : env.keys())
        if (!name.startsWith(QLatin1String("QTWEBENGINE_")))
            qputenv(name.toLatin1().constData(), env.value(name).toLocal8Bit());
    exportEngineDefaults();
}

void exportEngineDefaults() {
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS")) qputenv("QTWEBENGINE_CHROMIUM_FLAGS", kEngineFlags);
}

}  // namespace testenv
