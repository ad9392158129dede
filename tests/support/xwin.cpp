#include "xwin.h"

#include <QProcessEnvironment>

#include "wait.h"

Xwin::Xwin(const QStringList& args, int count, const QString& display, const QString& tool, int timeoutMs) {
    if (!display.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display);
        process_.setProcessEnvironment(env);
    }
    process_.start(tool, args);
    if (!process_.waitForStarted(5000)) return;
    waitUntil(
        [&] {
            readLines();
            return int(ids.size()) >= count || process_.state() == QProcess::NotRunning;
        },
        timeoutMs);
}

void Xwin::stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(3000)) kill();
}

void Xwin::kill() {
    process_.kill();
    process_.waitForFinished(3000);
}

bool Xwin::waitForLine(const QString& line, int occurrences) {
    return waitUntil([&] {
        readLines();
        return lines.count(line) >= occurrences;
    });
}

void Xwin::readLines() {
    while (process_.canReadLine()) {
        const QString line = QString::fromUtf8(process_.readLine()).trimmed();
        bool isId = false;
        const uint id = line.toUInt(&isId);
        if (isId) ids.push_back(id);
        else lines << line;
    }
    process_.waitForReadyRead(1);
}
