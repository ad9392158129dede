// The URL history with a full list (32,767 entries): the work of one title event
// (add the address, remove duplicates, rewrite "URL.slx") and the load at start-up,
// each with an editable combo box showing the list, against the literal way in the same
// run: insertion one by one at the sorted place of a plain list, the nested-loop
// duplicate removal and a plain rewrite of the file. A title event after another copy
// of the program saved (a read and a merge before the write) against one without.
//
// Targets: a title event at most 5 ms (median), the load at most 50 ms.

#include <benchmark/benchmark.h>

#include "bench_main.h"

#include <QApplication>
#include <QCollator>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QLocale>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>

#include "browse/history_file.h"
#include "browse/url_history.h"
#include "platform/settings/file_save.h"

namespace {

// The file's bytes for `entries`, built in memory.
QByteArray layoutBytes(const QStringList& entries) {
    QByteArray bytes;
    HistoryFile::write(entries, [&bytes](const char* data, qint64 size) {
        bytes.append(data, size);
        return true;
    });
    return bytes;
}

constexpr int kFull = UrlHistory::kMaxEntries;

// Addresses as a browser reports them: a few thousand sites, several pages each, mixed
// letter case, some with queries.
QStringList makeAddresses(int n, quint32 seed) {
    QRandomGenerator rng(seed);
    QStringList out;
    out.reserve(n);
    for (int i = 0; i < n; ++i) {
        const int site = static_cast<int>(rng.bounded(4000u));
        QString url = QStringLiteral("https://%1site%2.%3/")
                          .arg(rng.bounded(3u) == 0 ? QStringLiteral("www.") : QString())
                          .arg(site)
                          .arg(rng.bounded(2u) ? QStringLiteral("com") : QStringLiteral("org"));
        url += QStringLiteral("Section%1/page-%2.html").arg(rng.bounded(50u)).arg(i);
        if (rng.bounded(4u) == 0) url += QStringLiteral("?id=%1&ref=home").arg(rng.generate());
        out << url;
    }
    return out;
}

// What the address box handlers do around every change of the list: signals held back,
// no current entry afterwards, the text as it was.
void keepText(QComboBox* box, const std::function<void()>& change) {
    const QSignalBlocker blocker(box);
    const QString text = box->currentText();
    change();
    if (box->currentIndex() != -1) box->setCurrentIndex(-1);
    if (box->currentText() != text) box->setEditText(text);
}

std::unique_ptr<QComboBox> makeBox(UrlHistory* model) {
    auto box = std::make_unique<QComboBox>();
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setDuplicatesEnabled(true);
    box->setModel(model);
    box->setCurrentIndex(-1);
    box->setEditText(QStringLiteral("https://www.tarnwick.org/"));
    return box;
}

// --- the literal way ---------------------------------------------------------------

struct LiteralList {
    QStringList items;
    QCollator collator;

    LiteralList() : collator(QLocale()) { collator.setCaseSensitivity(Qt::CaseInsensitive); }

    void add(const QString& s) {
        const auto it = std::upper_bound(items.begin(), items.end(), s,
                                         [this](const QString& a, const QString& b) {
                                             return collator.compare(a, b) < 0;
                                         });
        items.insert(it - items.begin(), s);
    }

    void removeDuplicates() {
        for (qsizetype i = 0; i < items.size(); ++i) {
            qsizetype j = i + 1;
            while (j < items.size()) {
                if (items.at(j) == items.at(i)) items.removeAt(j);
                else ++j;
            }
        }
    }

    bool save(const QString& path) const {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
        for (const QString& s : items) f.write("\"" + s.toLocal8Bit() + "\"\r\n");
        return true;
    }

    void load(const QString& path) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) return;
        bool first = true;
        while (!f.atEnd()) {
            QByteArray line = f.readLine();
            while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
            const qsizetype a = line.indexOf('"');
            const qsizetype b = line.lastIndexOf('"');
            const QString entry = (a >= 0 && b > a) ? QString::fromLocal8Bit(line.mid(a + 1, b - a - 1))
                                                    : QString::fromLocal8Bit(line);
            if (first && entry.isEmpty()) return;
            first = false;
            add(entry);
        }
    }
};

// --- a title event -----------------------------------------------------------------

// The page visited again: the list goes to 32,767 entries and back.
void BM_TitleEvent_Revisit(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("URL.slx"));
    const QStringList addresses = makeAddresses(kFull - 1, 1);
    UrlHistory history;
    history.addAll(addresses);
    history.removeDuplicates();
    auto box = makeBox(&history);
    int n = 0;
    for (auto _ : state) {
        const QString& address = addresses.at((n++ * 7919) % addresses.size());
        keepText(box.get(), [&] { history.add(address); });
        keepText(box.get(), [&] { history.removeDuplicates(); });
        benchmark::DoNotOptimize(history.save(path));
    }
    if (history.count() != kFull - 1 || box->currentText() != QStringLiteral("https://www.tarnwick.org/"))
        state.SkipWithError("list or text changed");
    state.counters["entries"] = history.count();
}
BENCHMARK(BM_TitleEvent_Revisit)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The list part alone (with the combo box), without the save.
void BM_TitleEvent_ListOnly(benchmark::State& state) {
    const QStringList addresses = makeAddresses(kFull - 1, 1);
    UrlHistory history;
    history.addAll(addresses);
    history.removeDuplicates();
    std::unique_ptr<QComboBox> box;
    if (state.range(0)) box = makeBox(&history);
    int n = 0;
    for (auto _ : state) {
        const QString& address = addresses.at((n++ * 7919) % addresses.size());
        if (box) {
            keepText(box.get(), [&] { history.add(address); });
            keepText(box.get(), [&] { history.removeDuplicates(); });
        } else {
            history.add(address);
            history.removeDuplicates();
        }
        benchmark::DoNotOptimize(history.count());
    }
}
BENCHMARK(BM_TitleEvent_ListOnly)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// A new page each time: the list grows to 32,767 entries.
void BM_TitleEvent_NewAddress(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("URL.slx"));
    const QStringList addresses = makeAddresses(kFull, 2);
    const int start = kFull - static_cast<int>(state.max_iterations);
    UrlHistory history;
    history.addAll(addresses.mid(0, start));
    history.removeDuplicates();
    auto box = makeBox(&history);
    int n = start;
    for (auto _ : state) {
        const QString& address = addresses.at(n++);
        keepText(box.get(), [&] { history.add(address); });
        keepText(box.get(), [&] { history.removeDuplicates(); });
        benchmark::DoNotOptimize(history.save(path));
    }
    state.counters["entries"] = history.count();
}
BENCHMARK(BM_TitleEvent_NewAddress)->Unit(benchmark::kMillisecond)->Iterations(300);

// A new page each time, after another copy of the program saved a page of its own (not
// timed): each save first reads the file and merges what the other copy added.
void BM_TitleEvent_AfterAnotherCopy(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("URL.slx"));
    const QStringList addresses = makeAddresses(kFull, 2);
    const int start = kFull - 2 * static_cast<int>(state.max_iterations);
    UrlHistory history, other;
    history.addAll(addresses.mid(0, start));
    history.removeDuplicates();
    history.save(path);
    other.restore(path);
    auto box = makeBox(&history);
    int n = start;
    for (auto _ : state) {
        state.PauseTiming();
        other.add(addresses.at(n++));
        other.save(path);
        state.ResumeTiming();
        const QString& address = addresses.at(n++);
        keepText(box.get(), [&] { history.add(address); });
        keepText(box.get(), [&] { history.removeDuplicates(); });
        keepText(box.get(), [&] { benchmark::DoNotOptimize(history.save(path)); });
    }
    if (history.count() != n || box->currentText() != QStringLiteral("https://www.tarnwick.org/"))
        state.SkipWithError("an entry of the other copy is missing, or the text changed");
    state.counters["entries"] = history.count();
}
BENCHMARK(BM_TitleEvent_AfterAnotherCopy)->Unit(benchmark::kMillisecond)->Iterations(300);

void BM_TitleEvent_Literal(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("URL.slx"));
    const QStringList addresses = makeAddresses(kFull - 1, 1);
    LiteralList list;
    for (const QString& a : addresses) list.add(a);
    list.removeDuplicates();
    int n = 0;
    for (auto _ : state) {
        list.add(addresses.at((n++ * 7919) % addresses.size()));
        list.removeDuplicates();
        benchmark::DoNotOptimize(list.save(path));
    }
    state.counters["entries"] = static_cast<double>(list.items.size());
}
BENCHMARK(BM_TitleEvent_Literal)->Unit(benchmark::kMillisecond)->Iterations(3);

// The save alone: QSaveFile (temporary file, sync to disk, rename) against writing the
// temporary file and renaming it without the sync, and the plain rewrite.
void BM_Save_Atomic(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("URL.slx"));
    UrlHistory history;
    history.addAll(makeAddresses(kFull, 3));
    for (auto _ : state) benchmark::DoNotOptimize(history.save(path));
    state.counters["bytes"] = static_cast<double>(QFile(path).size());
}
BENCHMARK(BM_Save_Atomic)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_Save_RenameWithoutSync(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("URL.slx"));
    const QString temp = path + QStringLiteral(".new");
    UrlHistory history;
    history.addAll(makeAddresses(kFull, 3));
    for (auto _ : state) {
        QFile f(temp);
        const QByteArray bytes = layoutBytes(history.entries());
        bool ok = f.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered) &&
                  f.write(bytes) == bytes.size();
        f.close();
        ok = ok && std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(path).constData()) == 0;
        benchmark::DoNotOptimize(ok);
    }
}
BENCHMARK(BM_Save_RenameWithoutSync)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_Save_Serialize(benchmark::State& state) {
    UrlHistory history;
    history.addAll(makeAddresses(kFull, 3));
    for (auto _ : state) benchmark::DoNotOptimize(layoutBytes(history.entries()));
}
BENCHMARK(BM_Save_Serialize)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// What a save of a shared file that nobody else wrote does more than a save of the list
// alone: the lock on "URL.slx.lock" (open, flock, check, close), the file's target and
// identity before and after the write, and the extra regular-file check. Against
// BM_Save_Atomic, the save it is part of.
void BM_Save_SharedFileChecks(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("URL.slx"));
    UrlHistory history;
    history.addAll(makeAddresses(kFull, 3));
    history.save(path);
    static const QLoggingCategory quiet("tarnwick.bench.history", QtWarningMsg);
    for (auto _ : state) {
        benchmark::DoNotOptimize(FileSave::replaceable(path));
        const FileSave::Lock lock(path, quiet);
        benchmark::DoNotOptimize(FileSave::target(path));
        benchmark::DoNotOptimize(FileSave::identify(path));
        benchmark::DoNotOptimize(FileSave::identify(path));
        if (!lock.held()) {
            state.SkipWithError("no lock");
            break;
        }
    }
}
BENCHMARK(BM_Save_SharedFileChecks)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

// --- the load at start-up ----------------------------------------------------------

QString writeFullFile(const QTemporaryDir& dir, bool shuffled) {
    const QString path = dir.filePath(QStringLiteral("URL.slx"));
    UrlHistory history;
    history.addAll(makeAddresses(kFull, 4));
    QStringList entries = history.entries();
    if (shuffled) {
        QRandomGenerator rng(5);
        for (qsizetype i = entries.size() - 1; i > 0; --i)
            entries.swapItemsAt(i, static_cast<qsizetype>(rng.bounded(static_cast<quint32>(i + 1))));
    }
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(layoutBytes(entries));
    return path;
}

// arg: 0 = the file as the program writes it (in list order), 1 = shuffled lines.
void BM_Load(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = writeFullFile(dir, state.range(0) != 0);
    for (auto _ : state) {
        UrlHistory history;
        auto box = makeBox(&history);
        keepText(box.get(), [&] { history.addAll(UrlHistory::load(path)); });
        benchmark::DoNotOptimize(history.count());
        state.PauseTiming();
        const bool ok = history.count() == kFull && box->currentIndex() == -1 &&
                        box->currentText() == QStringLiteral("https://www.tarnwick.org/");
        box.reset();
        state.ResumeTiming();
        if (!ok) state.SkipWithError("not loaded, or the box's text changed");
    }
}
BENCHMARK(BM_Load)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The parts of the load: reading the file, and sorting the entries into the list.
void BM_Load_ReadFile(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = writeFullFile(dir, false);
    for (auto _ : state) benchmark::DoNotOptimize(UrlHistory::load(path));
}
BENCHMARK(BM_Load_ReadFile)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_Load_AddAll(benchmark::State& state) {
    QTemporaryDir dir;
    const QStringList entries = UrlHistory::load(writeFullFile(dir, state.range(0) != 0));
    for (auto _ : state) {
        UrlHistory history;
        history.addAll(entries);
        benchmark::DoNotOptimize(history.count());
    }
}
BENCHMARK(BM_Load_AddAll)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_Load_Literal(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = writeFullFile(dir, state.range(0) != 0);
    for (auto _ : state) {
        LiteralList list;
        list.load(path);
        benchmark::DoNotOptimize(list.items.size());
    }
}
BENCHMARK(BM_Load_Literal)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Collation as on a desktop with a real locale (ICU rules), whatever this machine's.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    benchmark::Initialize(&argc, argv);
    return runBenchmarks(argc, argv);
}
