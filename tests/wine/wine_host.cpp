#include "wine_host.h"

#include <QProcessEnvironment>

QString hex16(const QString& text) {
    if (text.isEmpty()) return QStringLiteral("-");
    QString out;
    for (QChar c : text) out += QStringLiteral("%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    return out;
}

QString unhex16(const QString& text) {
    QString out;
    if (text == QLatin1String("-")) return out;
    for (qsizetype i = 0; i + 4 <= text.size(); i += 4) out += QChar(char16_t(text.mid(i, 4).toUInt(nullptr, 16)));
    return out;
}

namespace {

// The wine server of the prefix in use: `-k` ends it with every process of the prefix,
// `-w` waits until it has gone.
void wineserver(const char* option) { QProcess::execute(QStringLiteral("wineserver"), {QString::fromLatin1(option)}); }

}  // namespace

WineHost::WineHost(const QStringList& environment) {
    // The prefix the test run made (ctest sets it); never the user's own.
    if (qEnvironmentVariableIsEmpty("WINEPREFIX")) qputenv("WINEPREFIX", TARNWICK_BINARY_DIR "/wine-prefix");
    if (!x_.ok()) return;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), x_.display());
    env.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
    env.insert(QStringLiteral("WINEDLLOVERRIDES"), QStringLiteral("mscoree,mshtml="));
    for (const QString& variable : environment) env.insert(variable.section('=', 0, 0), variable.section('=', 1));
    process_.setProcessEnvironment(env);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral("wine"), {QStringLiteral(TARNWICK_WIN32_HOST)});
    ok_ = process_.waitForStarted() && ask(QStringLiteral("probe")).toInt() >= 0 && process_.state() == QProcess::Running;
}

WineHost::~WineHost() {
    process_.closeWriteChannel();
    if (!process_.waitForFinished(60000)) process_.kill();
    wineserver("-k");
    wineserver("-w");
}

QString WineHost::ask(const QString& command) {
    if (process_.state() != QProcess::Running) return QString();
    process_.write(command.toLatin1() + '\n');
    // Wine's first window on a display takes seconds on a busy machine: the wait is only
    // a guard against a host that hangs.
    while (!process_.canReadLine())
        if (!process_.waitForReadyRead(120000)) return QString();
    return QString::fromLatin1(process_.readLine()).trimmed();
}

std::uint32_t RemoteDesktop::Style(WindowId window) {
    if (window != 0 && window == destroyOnVisit) {
        host_.ask(QStringLiteral("destroy %1").arg(window));
        destroyOnVisit = 0;
    }
    return std::uint32_t(host_.number(QStringLiteral("style %1").arg(window)));
}

int RemoteDesktop::Title(WindowId window, std::u16string& title, int maxCount) {
    const QStringList answer = host_.ask(QStringLiteral("title %1 %2").arg(window).arg(maxCount)).split(' ');
    const QString text = unhex16(answer.value(1));
    title.assign(reinterpret_cast<const char16_t*>(text.utf16()), std::size_t(text.size()));
    return answer.value(0).toInt();
}

WindowId RemoteDesktop::FindByTitle(const std::u16string& title) {
    const QString text = QString::fromUtf16(title.data(), qsizetype(title.size()));
    return WindowId(host_.number(QStringLiteral("find ") + hex16(text)));
}

bool RemoteDesktop::ChangedSince(std::uint64_t since, std::vector<WindowId>& changed) {
    const QStringList answer = host_.ask(QStringLiteral("changed %1").arg(since)).split(' ', Qt::SkipEmptyParts);
    for (qsizetype i = 1; i < answer.size(); ++i) changed.push_back(WindowId(answer[i].toUInt()));
    return answer.value(0) == QLatin1String("ok");
}

std::vector<WindowId> RemoteDesktop::relayTouched() {
    std::vector<WindowId> windows;
    for (const QString& w : host_.ask(QStringLiteral("touched")).split(' ', Qt::SkipEmptyParts)) {
        windows.push_back(WindowId(w.toUInt()));
        reportTouched(windows.back());
    }
    return windows;
}
