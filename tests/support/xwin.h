#pragma once

// One running xwin (tests/tools/xwin): foreign X11 windows made as its arguments say, or
// wlwin's native Wayland ones. Both print each window's id once all of them show, then a
// line for what happens to them ("closed ID", "ignored ID").

#include <QProcess>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

class Xwin {
public:
    static QString xwin() { return QStringLiteral(TARNWICK_BINARY_DIR "/xwin"); }
    static QString wlwin() { return QStringLiteral(TARNWICK_BINARY_DIR "/wlwin"); }

    // Starts `tool` on `display` (empty: the one in DISPLAY) and waits until it has
    // printed `count` ids, or `timeoutMs` pass.
    Xwin(const QStringList& args, int count = 1, const QString& display = QString(), const QString& tool = xwin(),
         int timeoutMs = 20000);
    ~Xwin() { stop(); }
    Xwin(const Xwin&) = delete;
    Xwin& operator=(const Xwin&) = delete;

    // Ends it (SIGTERM: it destroys its windows), or kills it.
    void stop();
    void kill();
    bool finished(int ms) { return process_.state() == QProcess::NotRunning || process_.waitForFinished(ms); }
    // Waits for a line it prints about its windows.
    bool waitForLine(const QString& line, int occurrences = 1);

    std::vector<std::uint32_t> ids;
    QStringList lines;

private:
    void readLines();
    QProcess process_;
};
