// Saves the program's two files, URL.slx and Tarnwick.ini in a folder, with the program's
// own save functions, for the crash-safety test, which runs two of these at once and kills
// them at random moments.
//
//   save_loop <folder> A|B         saves content A (or B) of both files once; exit 0 when saved
//   save_loop <folder> loop <tag>  restores the history as a start does, then adds
//                                  saveLoopEntry(<tag>, n) for n = 1, 2, ... and saves the
//                                  history after each add; saves the settings file with
//                                  B, A, B, ... between them; until killed
//
// The history's content A has 5,000 entries (357 KB), so that a kill often lands while it
// is being written; the settings file has two complete contents (a large other section
// and the start page set to one of two addresses). In loop mode one byte goes to stdout
// at each step: 'r' once the history is restored, then 'H' before and 'h' after a history
// save (the n-th 'H' is the save after entry n was added), 'P' before and 'p' after a
// settings save. A save that fails ends the program with exit code 2. When the reader of
// stdout is gone, the next byte ends the program (SIGPIPE).

#include <QDir>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "browse/url_history.h"
#include "platform/settings/profile.h"
#include "save_loop.h"

namespace {

QStringList addresses(int n) {
    QStringList list;
    for (int i = 0; i < n; ++i)
        list << QStringLiteral("http://host-%1.example/news/archive/2024/page-%2.html?ref=start").arg(i).arg(i * 7);
    return list;
}

void mark(char c) {
    if (write(STDOUT_FILENO, &c, 1) != 1) _exit(3);
}

}  // namespace

int main(int argc, char** argv) {
    const QByteArray mode = argc > 2 ? argv[2] : "";
    if (!(argc == 3 && (mode == "A" || mode == "B")) && !(argc == 4 && mode == "loop")) {
        std::fprintf(stderr, "usage: save_loop <folder> A|B|loop <tag>\n");
        return 1;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const QString history = dir.filePath(QStringLiteral("URL.slx"));
    const QString settings = dir.filePath(QStringLiteral("Tarnwick.ini"));
    const QString pages[2] = {QStringLiteral("http://a.example/"), QStringLiteral("http://start-page-b.example/")};
    const auto saveSettings = [&](int which) {
        return Profile::writeFile(settings, QStringLiteral("Tarnwick"), QStringLiteral("DefaultURL"), pages[which]);
    };

    UrlHistory list;
    if (mode != "loop") {
        const int which = mode == "B";
        list.addAll(addresses(5000));
        const bool ok = list.save(history) &&
                        Profile::writeFile(settings, QStringLiteral("Other"), QStringLiteral("Notes"),
                                           QString(300 * 1024, u'n')) &&
                        saveSettings(which);
        return ok ? 0 : 2;
    }
    const QString tag = QString::fromLocal8Bit(argv[3]);
    list.restore(history);
    mark('r');
    for (int i = 1;; ++i) {
        list.add(saveLoopEntry(tag, i));
        mark('H');
        if (!list.save(history)) return 2;
        mark('h');
        mark('P');
        if (!saveSettings(i % 2)) return 2;
        mark('p');
    }
}
