// libFuzzer target for the history file "URL.slx" and the list it fills.
//
// The input is the file's bytes. Checked for each input:
//  - reading the bytes whole, feeding the reader in small pieces (cut in places taken
//    from the input) and loading a real file on disk give the same entries;
//  - the list filled from the file as the program does at start (restore), then visited
//    again (add + removeDuplicates, as a completed navigation does), stays in collation
//    order and free of duplicates; so does it after its save merged in a visit another
//    copy saved meanwhile (kept unless the list is full), and that save loads back
//    unchanged (a list whose first entry is empty restores nothing, by the file's
//    first-entry rule).
// A difference aborts, so libFuzzer keeps the input.

#include "browse/history_file.h"
#include "browse/url_history.h"

#include <QByteArray>
#include <QCollator>
#include <QFile>
#include <QLocale>
#include <QSet>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "history_fuzz: %s\n", what);
    std::abort();
}

// Feeds the reader pieces of 1 to `maxPiece` bytes, their sizes drawn from a generator
// seeded by the input, so a finding reproduces.
QStringList readInPieces(QByteArrayView bytes, quint32 seed, qsizetype maxPiece) {
    HistoryFile::Reader reader;
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        seed = seed * 1103515245u + 12345u;
        const qsizetype piece = qMin<qsizetype>(1 + (seed >> 16) % maxPiece, bytes.size() - pos);
        if (!reader.feed(bytes.sliced(pos, piece))) break;
        pos += piece;
    }
    return reader.finish();
}

void checkList(const UrlHistory& history, const QCollator& collator) {
    const QStringList& entries = history.entries();
    for (qsizetype i = 1; i < entries.size(); ++i)
        if (collator.compare(entries.at(i - 1), entries.at(i)) > 0) fail("list out of order");
    if (QSet<QString>(entries.cbegin(), entries.cend()).size() != entries.size())
        fail("duplicates left in the list");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The order of the unit tests: real (ICU) collation rules, whatever the machine's.
    static const bool localeSet = [] {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        return true;
    }();
    (void)localeSet;
    static QTemporaryDir dir;
    if (!dir.isValid()) fail("no temporary folder");
    const QString path = dir.filePath(QStringLiteral("URL.slx"));

    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QStringList whole = HistoryFile::read(bytes);

    quint32 seed = static_cast<quint32>(size);
    for (std::size_t i = 0; i < size && i < 8; ++i) seed = seed * 31u + data[i];
    if (readInPieces(bytes, seed, 1) != whole) fail("byte-by-byte reading differs");
    if (readInPieces(bytes, seed, 17) != whole) fail("reading in pieces differs");

    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(bytes.data(), bytes.size()) != bytes.size())
            fail("input not written");
    }
    if (UrlHistory::load(path) != whole) fail("loading the file differs");

    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    UrlHistory history;
    history.restore(path);
    // Visits: entries already listed (a few, spread over the list), and one new text.
    const qsizetype step = qMax<qsizetype>(1, whole.size() / 6);
    for (qsizetype i = 0; i < whole.size(); i += step) {
        history.add(whole.at(i));
        history.removeDuplicates();
        checkList(history, collator);
    }
    history.add(QStringLiteral("http://visited.example/") + QString::number(size));
    history.removeDuplicates();
    checkList(history, collator);

    UrlHistory other;  // another copy of the program, saving a visit of its own first
    other.restore(path);
    const QString theirs = QStringLiteral("http://other.example/") + QString::number(size);
    other.add(theirs);
    other.removeDuplicates();
    if (!other.save(path)) fail("the other copy's save failed");
    if (!history.save(path)) fail("save failed");
    checkList(history, collator);
    if (history.count() < UrlHistory::kMaxEntries && !history.entries().contains(theirs))
        fail("the other copy's visit was lost");
    const QStringList again = UrlHistory::load(path);
    const QStringList& saved = history.entries();
    const bool restoresNothing = !saved.isEmpty() && saved.first().isEmpty();
    if (again != (restoresNothing ? QStringList() : saved)) fail("saved list loads back changed");
    return 0;
}
