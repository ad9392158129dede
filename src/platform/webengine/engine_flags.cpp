#include "platform/webengine/engine_flags.h"

#include <QCoreApplication>
#include <QRegularExpression>

namespace webengine {

namespace {

constexpr char kFlagsVariable[] = "QTWEBENGINE_CHROMIUM_FLAGS";

// The flags the person gave the engine: the variable, which the engine prefers, or else
// the program's arguments after --webEngineArgs.
QStringList personsFlags() {
    if (qEnvironmentVariableIsSet(kFlagsVariable)) return splitEngineFlags(qEnvironmentVariable(kFlagsVariable));
    const QStringList arguments = QCoreApplication::arguments();
    const int at = arguments.indexOf(
        QRegularExpression(QStringLiteral("--webEngineArgs"), QRegularExpression::CaseInsensitiveOption));
    return at < 0 ? QStringList() : arguments.mid(at + 1);
}

}  // namespace

QStringList splitEngineFlags(const QString& flags) {
    QStringList result;
    QString flag;
    bool inFlag = false, quoted = false;
    for (const QChar c : flags) {
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
            inFlag = true;
        } else if (c == QLatin1Char(' ') && !quoted) {
            if (inFlag) result.append(flag);
            flag.clear();
            inFlag = false;
        } else {
            flag += c;
            inFlag = true;
        }
    }
    if (!flag.isEmpty()) result.append(flag);
    return result;
}

QString joinEngineFlags(const QStringList& flags) {
    QStringList line;
    for (const QString& flag : flags)
        line.append(flag.contains(QLatin1Char(' ')) ? QLatin1Char('"') + flag + QLatin1Char('"') : flag);
    return line.join(QLatin1Char(' '));
}

QStringList withPageHeapBound(const QStringList& flags) {
    static const QRegularExpression jsFlags(QStringLiteral("^--?js-flags="));
    QStringList result;
    QString v8 = QStringLiteral("--max-old-space-size=%1").arg(kPageHeapMiB);
    int at = -1;  // where the first --js-flags was
    for (const QString& flag : flags) {
        const QRegularExpressionMatch match = jsFlags.match(flag);
        if (!match.hasMatch()) {
            result.append(flag);
            continue;
        }
        if (at < 0) at = int(result.size());
        const QString own = flag.mid(match.capturedLength()).trimmed();
        if (!own.isEmpty()) v8 += QLatin1Char(' ') + own;
    }
    result.insert(at < 0 ? result.size() : at, QStringLiteral("--js-flags=") + v8);
    return result;
}

EngineStartFlags::EngineStartFlags() {
    static bool started = false;  // the engine reads its flags once per process
    if (started) return;
    started = true;
    if (qEnvironmentVariableIsSet(kFlagsVariable)) before_ = qgetenv(kFlagsVariable);
    qputenv(kFlagsVariable, joinEngineFlags(withPageHeapBound(personsFlags())).toLocal8Bit());
    set_ = true;
}

EngineStartFlags::~EngineStartFlags() {
    if (!set_) return;
    if (before_)
        qputenv(kFlagsVariable, *before_);
    else
        qunsetenv(kFlagsVariable);
}

}  // namespace webengine
