// Saves the program's two files, URL.slx and Tarnwick.ini in a folder, with the program's
// own save functions, for the crash-safety test, which kills it at random moments.
//
//   save_loop <folder> A|B   saves content A (or B) of both files once; exit 0 when saved
//   save_loop <folder> loop  saves B, A, B, A, ... until killed
//
// Each file has two complete contents of several hundred KiB, so that a kill often lands
// while a file is being written: the history with 5,000 or 7,000 entries, the settings
// file with a large other section and the start page set to one of two addresses.
// In loop mode one byte goes to stdout at each step: 'r' once the contents are built,
// then 'H' before and 'h' after a history save, 'P' before and 'p' after a settings save.
// A save that fails ends the program with exit code 2. When the reader of stdout is
// gone, the next byte ends the program (SIGPIPE).

#include <QDir>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "browse/url_history.h"
#include "platform/profile.h"

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
    if (argc != 3) {
        std::fprintf(stderr, "usage: save_loop <folder> A|B|loop\n");
        return 1;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const QString history = dir.filePath(QStringLiteral("URL.slx"));
    const QString settings = dir.filePath(QStringLiteral("Tarnwick.ini"));
    UrlHistory lists[2];
    lists[0].addAll(addresses(5000));
    lists[1].addAll(addresses(7000));
    const QString pages[2] = {QStringLiteral("http://a.example/"), QStringLiteral("http://start-page-b.example/")};
    const auto saveSettings = [&](int which) {
        return Profile::writeFile(settings, QStringLiteral("Tarnwick"), QStringLiteral("DefaultURL"), pages[which]);
    };

    const QByteArray mode = argv[2];
    if (mode == "A" || mode == "B") {
        const int which = mode == "B";
        const bool ok = lists[which].save(history) &&
                        Profile::writeFile(settings, QStringLiteral("Other"), QStringLiteral("Notes"),
                                           QString(300 * 1024, u'n')) &&
                        saveSettings(which);
        return ok ? 0 : 2;
    }
    if (mode != "loop") return 1;
    mark('r');
    for (int i = 1;; ++i) {
        mark('H');
        if (!lists[i % 2].save(history)) return 2;
        mark('h');
        mark('P');
        if (!saveSettings(i % 2)) return 2;
        mark('p');
    }
}
