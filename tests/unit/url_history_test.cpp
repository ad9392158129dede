// The URL history list (order, duplicates, limit, model signals) and its file "URL.slx"
// (layout, reading rules, bad files, atomic replacement, current directory).

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <csignal>
#include <functional>
#include <iostream>
#include <vector>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "platform/settings/profile.h"
#include "browse/history_file.h"
#include "browse/url_history.h"

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

QByteArray layoutOf(const QStringList& entries) {
    QByteArray bytes;
    HistoryFile::write(entries, [&bytes](const char* p, qint64 n) { bytes.append(p, n); return true; });
    return bytes;
}

bool writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Removing duplicates exactly as described: for each position i, remove every later
// entry equal to it, re-checking the entry that moves into the removed place.
QStringList nestedLoopDedup(QStringList list) {
    for (qsizetype i = 0; i < list.size(); ++i) {
        qsizetype j = i + 1;
        while (j < list.size()) {
            if (list.at(j) == list.at(i)) list.removeAt(j);
            else ++j;
        }
    }
    return list;
}

// Runs each test under a locale with real (ICU) collation rules, whatever the machine's.
class UrlHistoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = QLocale();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    void TearDown() override { QLocale::setDefault(saved_); }

private:
    QLocale saved_;
};

UrlHistory* filled(UrlHistory& h, const QStringList& entries) {
    for (const QString& e : entries) h.add(e);
    return &h;
}

}  // namespace

// --- Order -----------------------------------------------------------------------------

// Alphabetical, case-insensitive and locale-aware; equal keys keep the order they were
// added in; each add reports its row.
TEST_F(UrlHistoryTest, AddKeepsTheListInOrderAndReportsEachRow) {
    UrlHistory h;
    QAbstractItemModelTester tester(&h, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy inserted(&h, &QAbstractItemModel::rowsInserted);
    filled(h, {"http://zeta.org/", "HTTP://beta.org/", "http://Alpha.org/", "http://étoile.fr/",
               "http://eagle.com/", "http://gamma.org/"});
    EXPECT_EQ(h.entries(),
              QStringList({"http://Alpha.org/", "HTTP://beta.org/", "http://eagle.com/",
                           "http://étoile.fr/", "http://gamma.org/", "http://zeta.org/"}));
    EXPECT_EQ(h.data(h.index(3)).toString(), QStringLiteral("http://étoile.fr/"));
    EXPECT_EQ(h.data(h.index(3), Qt::EditRole).toString(), QStringLiteral("http://étoile.fr/"));
    EXPECT_FALSE(h.data(h.index(6)).isValid());
    ASSERT_EQ(h.add("http://DELTA.org/"), 2);
    ASSERT_EQ(inserted.size(), 7);
    EXPECT_EQ(inserted.last().at(1).toInt(), 2);
    EXPECT_EQ(inserted.last().at(2).toInt(), 2);

    UrlHistory eq;
    for (const auto& [url, row] : std::vector<std::pair<const char*, int>>{
             {"http://b/", 0}, {"http://A/", 0}, {"HTTP://B/", 2}, {"http://a/", 1}, {"http://B/", 4}, {"http://b/", 5}})
        EXPECT_EQ(eq.add(url), row) << url;
    EXPECT_EQ(eq.entries(), QStringList({"http://A/", "http://a/", "http://b/", "HTTP://B/",
                                         "http://B/", "http://b/"}));
}

TEST_F(UrlHistoryTest, AddAllEqualsAddingOneByOne) {
    auto* rng = QRandomGenerator::global();
    const QStringList pool = {"http://a/", "http://A/", "http://b/", "HTTP://B/", "",
                              "http://é/", "http://e/", "http://E/", "http://z/", "zz", "Z"};
    // Shuffled entries of letters in both cases, punctuation, an accented letter and
    // ignorable characters; in Czech "ch" is one letter, sorted after "h".
    const QString letters = QStringLiteral("aAbcChHi-_./: é") + QChar(1) + QChar(0);
    const auto entry = [&](int round) {
        if (round < 50) return pool.at(rng->bounded(pool.size()));
        QString s;
        for (int i = 0, n = rng->bounded(6); i < n; ++i) s += letters.at(rng->bounded(letters.size()));
        return s;
    };
    for (int round = 0; round < 150; ++round) {
        if (round == 100) QLocale::setDefault(QLocale(QLocale::Czech));
        QStringList first, second;
        for (int i = 0, n = rng->bounded(12); i < n; ++i) first << entry(round);
        for (int i = 0, n = rng->bounded(round < 50 ? 30 : 400); i < n; ++i) second << entry(round);
        UrlHistory one, many;
        filled(one, first);
        filled(one, second);
        filled(many, first);
        many.addAll(second);
        ASSERT_EQ(one.entries(), many.entries()) << "round " << round;
    }
    // "" against strings of ignorable characters: both ways of adding put them in the same
    // order (which decides whether "" is saved first, and a first "" restores nothing).
    const QString nul(QChar(0));
    for (const QStringList& list : {QStringList{"b", "\x01", ""}, QStringList{"b", nul, ""},
                                    QStringList{"b", "", "\x01", nul}}) {
        UrlHistory one, many;
        filled(one, list);
        many.addAll(list);
        EXPECT_EQ(one.entries(), many.entries());
    }
}

// --- Duplicates ------------------------------------------------------------------------

TEST_F(UrlHistoryTest, DuplicateRemovalMatchesTheNestedLoop) {
    auto* rng = QRandomGenerator::global();
    QStringList pool;
    for (int i = 0; i < 12; ++i) pool << QStringLiteral("http://site%1.org/").arg(i);
    pool << "http://SITE1.org/" << "http://site1.org" << "" << "http://site1.org/ ";
    for (int round = 0; round < 200; ++round) {
        UrlHistory h;
        QAbstractItemModelTester tester(&h, QAbstractItemModelTester::FailureReportingMode::Fatal);
        // Start from a file's worth of entries with duplicates, or from nothing.
        if (rng->bounded(2)) {
            QStringList loaded;
            for (int i = 0, n = rng->bounded(20); i < n; ++i) loaded << pool.at(rng->bounded(pool.size()));
            h.addAll(loaded);
        }
        for (int step = 0; step < 30; ++step) {
            // Mostly the title-event pattern (one add, then removal), sometimes several
            // adds before a removal.
            for (int i = 0, n = rng->bounded(4) == 0 ? 3 : 1; i < n; ++i)
                h.add(pool.at(rng->bounded(pool.size())));
            const QStringList expected = nestedLoopDedup(h.entries());
            h.removeDuplicates();
            ASSERT_EQ(h.entries(), expected) << "round " << round << " step " << step;
        }
    }
}

TEST_F(UrlHistoryTest, RevisitRemovesTheLaterCopyAndClearEmptiesTheList) {
    UrlHistory h;
    filled(h, {"http://x.org/", "http://X.org/", "http://x.org"});
    h.removeDuplicates();
    const QStringList before = h.entries();
    ASSERT_EQ(before.size(), 3);  // case and slash variants are kept
    QSignalSpy removed(&h, &QAbstractItemModel::rowsRemoved);
    const int pos = h.add("http://x.org/");
    h.removeDuplicates();
    EXPECT_EQ(h.entries(), before);
    ASSERT_EQ(removed.size(), 1);
    EXPECT_EQ(removed.first().at(1).toInt(), pos);

    h.clear();
    EXPECT_EQ(h.count(), 0);
    filled(h, {"a", "a"});
    h.removeDuplicates();
    EXPECT_EQ(h.entries(), QStringList({"a"}));
}

// --- Limit -----------------------------------------------------------------------------

TEST_F(UrlHistoryTest, ListHoldsAtMost32767Entries) {
    QStringList many;
    for (int i = 0; i < UrlHistory::kMaxEntries + 100; ++i)
        many << QStringLiteral("http://host%1.example/").arg(i, 6, 10, QLatin1Char('0'));
    UrlHistory h;
    h.addAll(many.mid(0, 10));
    h.addAll(many.mid(10));
    ASSERT_EQ(h.count(), UrlHistory::kMaxEntries);
    EXPECT_EQ(h.entries().last(), many.at(UrlHistory::kMaxEntries - 1));  // the first ones were taken
    EXPECT_EQ(h.add("http://new/"), -1);
    EXPECT_EQ(h.count(), UrlHistory::kMaxEntries);
    EXPECT_FALSE(h.entries().contains("http://new/"));
}

// --- File layout and round trips -------------------------------------------------------

TEST_F(UrlHistoryTest, FileLayoutAndRoundTripsKeepEveryEntryWhole) {
    EXPECT_EQ(layoutOf({}), QByteArray());
    EXPECT_EQ(layoutOf({"http://a.org/", "", "say \"hi\"", " a, b "}),
              QByteArray("\"http://a.org/\"\r\n\"\"\r\n\"say \"hi\"\"\r\n\" a, b \"\r\n"));
    EXPECT_EQ(layoutOf({QStringLiteral("http://é.fr/")}),
              "\"" + QStringLiteral("http://é.fr/").toLocal8Bit() + "\"\r\n");

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString nul = QStringLiteral("http://a/") + QChar(u'\0') + QStringLiteral("b");
    UrlHistory h;
    filled(h, {"http://b/", "http://a.org/?q=1,2,3", "http://a.org/x\"y\"", "\"", "\"\"", "  spaced  ",
               QStringLiteral("http://ü.example/straße"), nul, "a\tb", ",", "http://z/\"",
               "http://a.org/?q=1,2,3"});
    ASSERT_TRUE(h.save(dir.filePath("URL.slx")));
    EXPECT_EQ(readAll(dir.filePath("URL.slx")), layoutOf(h.entries()));
    EXPECT_EQ(UrlHistory::load(dir.filePath("URL.slx")), h.entries());

    // An empty entry sorts first, and an empty first entry restores nothing.
    h.add("");
    ASSERT_TRUE(h.entries().first().isEmpty());
    ASSERT_TRUE(h.save(dir.filePath("URL.slx")));
    EXPECT_EQ(UrlHistory::load(dir.filePath("URL.slx")), QStringList());
}

// --- Reading rules and bad files -------------------------------------------------------

TEST_F(UrlHistoryTest, ReadingRulesTable) {
    const QString nul(QChar(u'\0'));
    const std::pair<QByteArray, QStringList> cases[] = {
        // The first entry decides: an empty one restores nothing; blank lines are none.
        {"\"\"\r\n\"http://a/\"\r\n", {}},
        {"", {}},
        {"\"http://a/\"", {"http://a/"}},
        {"\r\n  \r\n\"http://a/\"\r\n", {"http://a/"}},
        {"\"x\"\r\n\"\"\r\n\"y\"\r\n", {"x", "", "y"}},
        // Lines end at CR LF, LF or CR; blank lines are skipped.
        {"\"a\"\r\n\"b\"\r\n\"c\"\r\n", {"a", "b", "c"}},
        {"\"a\"\n\"b\"\n\"c\"\n", {"a", "b", "c"}},
        {"\"a\"\r\"b\"\n\"c\"", {"a", "b", "c"}},
        {"\"a\"\r\n\r\n\"b\"\n\n\"c\"\r\r\n\r\n", {"a", "b", "c"}},
        // Hand-edited lines: without quotes, the trimmed line; a lone quote at either end
        // goes, one inside stays; otherwise the text between the first and last quote.
        {"http://a.org/\r\n  http://b.org/, x \t\r\n", {"http://a.org/", "http://b.org/, x"}},
        {"\"http://a/\r\nhttp://b/\"\r\nhttp://c/?q=\"x\r\n", {"http://a/", "http://b/", "http://c/?q=\"x"}},
        {"\"a\"b\"\r\n  \"c, d\"  \r\nx\"e\"y\r\n\"f\",\"g\"\r\n", {"a\"b", "c, d", "e", "f\",\"g"}},
        // NUL bytes are text.
        {QByteArray("\"a\0b\"\r\n\0\r\n", 10), {"a" + nul + "b", nul}},
    };
    for (const auto& [bytes, want] : cases) EXPECT_EQ(HistoryFile::read(bytes), want) << bytes.toPercentEncoding().constData();
    // Bytes that are not text in the local encoding do not stop the reading.
    const QStringList bad = HistoryFile::read("\"a\xff\xfe\"\r\n\"b\"\r\n");
    ASSERT_EQ(bad.size(), 2);
    EXPECT_EQ(bad.at(1), "b");
}

TEST_F(UrlHistoryTest, OverlongLinesAreSkipped) {
    const qsizetype limit = 2 * 1024 * 1024;
    const QByteArray longest = "\"" + QByteArray(limit, 'x') + "\"";
    const QByteArray tooLong = "\"" + QByteArray(limit + 1, 'x') + "\"";
    const QStringList got = HistoryFile::read("\"a\"\r\n" + longest + "\r\n" + tooLong + "\r\n\"b\"\r\n" + tooLong);
    ASSERT_EQ(got.size(), 3);
    EXPECT_EQ(got.at(0), "a");
    EXPECT_EQ(got.at(1).size(), limit);
    EXPECT_EQ(got.at(2), "b");
    // An overlong first line is no entry: the next line is the first entry.
    EXPECT_EQ(HistoryFile::read(tooLong + "\n\"c\"\n"), QStringList({"c"}));
}

TEST_F(UrlHistoryTest, LoadStreamsHugeFilesAndReadsNoFileAsEmpty) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("URL.slx");

    // A line split across the reader's pieces (1 MiB is a piece boundary), then a 10 MB
    // line: the entries around it survive.
    {
        QByteArray head = "\"a\"\r\n";
        head += QByteArray(1024 * 1024 - 6, ' ') + "\"b\"\r\n";  // "b" starts in the first piece
        ASSERT_EQ(head.at(1024 * 1024 - 1), '"');
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(head), head.size());
        ASSERT_TRUE(f.resize(head.size() + 10 * 1000 * 1000));  // a hole reads as NUL bytes
        ASSERT_TRUE(f.seek(f.size()));
        ASSERT_EQ(f.write("\r\n\"c\"\r\n"), 7);
        f.close();
        EXPECT_EQ(UrlHistory::load(path), QStringList({"a", "b", "c"}));
    }

    // A 1 GB file without a line break: read in pieces, never whole.
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_TRUE(f.resize(qint64(1) << 30));
        f.close();
        rusage before{};
        getrusage(RUSAGE_SELF, &before);
        EXPECT_EQ(UrlHistory::load(path), QStringList());
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "peak memory grew (KiB)";
    }

    // A 1 GB file of entries: reading stops after the limit.
    {
        QByteArray lines;
        for (int i = 0; i < UrlHistory::kMaxEntries + 10; ++i)
            lines += "\"http://h" + QByteArray::number(i) + "/\"\r\n";
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(lines), lines.size());
        ASSERT_TRUE(f.resize(qint64(1) << 30));
        f.close();
        const QStringList got = UrlHistory::load(path);
        ASSERT_EQ(got.size(), UrlHistory::kMaxEntries);
        EXPECT_EQ(got.last(), QStringLiteral("http://h%1/").arg(UrlHistory::kMaxEntries - 1));
    }

    // 64 MiB of line breaks or of zeros hold no entry: reading gives up before the end
    // (an entry there is not restored) instead of keeping the window away for seconds.
    for (const char fill : {'\n', '\0'}) {
        SCOPED_TRACE(int(fill));
        ASSERT_TRUE(writeAll(path, "\"a\"\n" + QByteArray(64 << 20, fill) + "\n\"z\"\n"));
        EXPECT_EQ(UrlHistory::load(path), QStringList({"a"}));
    }

    // Missing, empty, a folder, a pipe nobody writes (no waiting), an endless device.
    ASSERT_TRUE(QFile::remove(path));
    EXPECT_EQ(UrlHistory::load(path), QStringList());
    ASSERT_TRUE(writeAll(path, QByteArray()));
    EXPECT_EQ(UrlHistory::load(path), QStringList());
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QDir(dir.path()).mkdir("URL.slx"));
    EXPECT_EQ(UrlHistory::load(path), QStringList());
    ASSERT_TRUE(QDir(dir.path()).rmdir("URL.slx"));
    ASSERT_EQ(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    EXPECT_EQ(UrlHistory::load(path), QStringList());
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_EQ(symlink("/dev/zero", QFile::encodeName(path).constData()), 0);
    EXPECT_EQ(UrlHistory::load(path), QStringList());
}

// --- Saving ----------------------------------------------------------------------------

namespace {
QStringList dirEntries(const QString& path) {
    return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}
}  // namespace

// Two copies of the program on one file. A save writes the list whole while the file is
// as this list last read or wrote it; once another copy wrote it, what that copy added is
// kept and what it cleared stays gone. The merge keeps the list's rules, and a lock held
// elsewhere does not stop a save.
TEST_F(UrlHistoryTest, SaveWritesTheListAndKeepsWhatAnotherCopySaved) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("URL.slx");
    const auto file = [&] { return UrlHistory::load(path); };
    ASSERT_TRUE(writeAll(path, "\"http://old/\"\r\n\"http://older/\"\r\n\"http://oldest/\"\r\n"));
    UrlHistory a, b;
    a.restore(path);
    a.clear();
    a.add("http://new/");
    ASSERT_TRUE(a.save(path));
    EXPECT_EQ(readAll(path), QByteArray("\"http://new/\"\r\n"));
    EXPECT_EQ(dirEntries(dir.path()), QStringList({"URL.slx", "URL.slx.lock"}));

    // b never read the file: its save keeps what is there. a's next save keeps b's entry,
    // and a's list takes it in; so does b's after a revisit.
    b.add("http://b1/");
    ASSERT_TRUE(b.save(path));
    EXPECT_EQ(file(), QStringList({"http://b1/", "http://new/"}));
    a.add("http://a2/");
    ASSERT_TRUE(a.save(path));
    const QStringList three = {"http://a2/", "http://b1/", "http://new/"};
    EXPECT_EQ(file(), three);
    EXPECT_EQ(a.entries(), three);
    b.add("http://b1/");
    b.removeDuplicates();
    ASSERT_TRUE(b.save(path));
    EXPECT_EQ(file(), three);
    EXPECT_EQ(b.entries(), three);

    // b clears: the file goes. Only what a visits afterwards (a page it knew included)
    // joins b's page of the clear and b's later visits.
    b.clear();
    b.add("http://b-current/");
    ASSERT_TRUE(b.removeFile(path));
    EXPECT_FALSE(QFileInfo::exists(path));
    a.add("http://new/");
    a.removeDuplicates();
    a.add("http://a3/");
    ASSERT_TRUE(a.save(path));
    EXPECT_EQ(file(), QStringList({"http://a3/", "http://new/"}));
    EXPECT_EQ(a.entries(), file());
    b.add("http://b4/");
    ASSERT_TRUE(b.save(path));
    EXPECT_EQ(file(), QStringList({"http://a3/", "http://b-current/", "http://b4/", "http://new/"}));

    // An empty first entry (which a start does not restore) is still merged whole.
    a.add("");
    ASSERT_TRUE(a.save(path));
    b.add("http://b5/");
    ASSERT_TRUE(b.save(path));
    EXPECT_EQ(b.entries(), QStringList({"", "http://a3/", "http://b-current/", "http://b4/", "http://b5/", "http://new/"}));

    // A lock held elsewhere for longer than a save waits: the save goes on without it.
    const int held = ::open(QFile::encodeName(path + ".lock").constData(), O_RDWR);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    a.add("http://while-locked/");
    EXPECT_TRUE(a.save(path));
    ::close(held);
    EXPECT_TRUE(readAll(path).contains("\"http://while-locked/\"\r\n"));

    // A full file: b's new entry is dropped, as an add to a full list is.
    QStringList full;
    for (int i = 0; i < UrlHistory::kMaxEntries; ++i) full << QStringLiteral("http://h%1/").arg(i, 5, 10, QLatin1Char('0'));
    ASSERT_TRUE(writeAll(path, layoutOf(full)));
    b.add("http://zz/");
    ASSERT_TRUE(b.save(path));
    EXPECT_EQ(b.entries(), full);
    EXPECT_EQ(file(), full);
    // A list that deletes the file and keeps its entries writes them all again.
    ASSERT_TRUE(b.removeFile(path));
    ASSERT_TRUE(b.save(path));
    EXPECT_EQ(file(), full);
}

TEST_F(UrlHistoryTest, FailedSaveLeavesTheOldFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("URL.slx");
    const QByteArray old = "\"http://old/\"\r\n";
    ASSERT_TRUE(writeAll(path, old));
    UrlHistory h;
    QStringList many;
    for (int i = 0; i < 2000; ++i) many << QStringLiteral("http://host%1.example/").arg(i);
    h.addAll(many);

    // The disk fills up half-way (a file size limit stands in for a full disk).
    {
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit small = saved;
        small.rlim_cur = 4096;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool ok = h.save(path);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_FALSE(ok);
    }
    EXPECT_EQ(readAll(path), old);
    const QStringList withLock = {"URL.slx", "URL.slx.lock"};
    EXPECT_EQ(dirEntries(dir.path()), withLock);

    // The folder cannot be written to (root writes anyway: then the save succeeds whole).
    ASSERT_TRUE(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    const bool ok = h.save(path);
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (geteuid() != 0) {
        EXPECT_FALSE(ok);
        EXPECT_EQ(readAll(path), old);
    } else {
        EXPECT_TRUE(ok);
        EXPECT_EQ(readAll(path), layoutOf(h.entries()));
    }
    EXPECT_EQ(dirEntries(dir.path()), withLock);

    // A folder named like the file, and a missing folder.
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QDir(dir.path()).mkdir("URL.slx"));
    EXPECT_FALSE(h.save(path));
    EXPECT_TRUE(QFileInfo(path).isDir());
    EXPECT_EQ(dirEntries(dir.path()), withLock);
    EXPECT_FALSE(h.save(dir.filePath("missing/URL.slx")));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("missing")));
}

TEST_F(UrlHistoryTest, RelativeNameFollowsTheCurrentDirectory) {
    QTemporaryDir a, b;
    ASSERT_TRUE(a.isValid() && b.isValid());
    const QString saved = QDir::currentPath();
    UrlHistory h;
    h.add("http://one/");
    ASSERT_TRUE(QDir::setCurrent(a.path()));
    EXPECT_TRUE(h.save("URL.slx"));
    h.add("http://two/");
    ASSERT_TRUE(QDir::setCurrent(b.path()));
    EXPECT_TRUE(h.save("URL.slx"));
    const QStringList inB = UrlHistory::load("URL.slx");
    ASSERT_TRUE(QDir::setCurrent(a.path()));
    const QStringList inA = UrlHistory::load("URL.slx");
    QDir::setCurrent(saved);
    EXPECT_EQ(inA, QStringList({"http://one/"}));
    EXPECT_EQ(inB, QStringList({"http://one/", "http://two/"}));
    EXPECT_EQ(readAll(a.filePath("URL.slx")), QByteArray("\"http://one/\"\r\n"));
}

// --- Both writers: the history and the settings file ------------------------------------

namespace {

struct Writer {
    const char* name;
    std::function<bool(const QString&)> save;
    bool locks;  // leaves "<target>.lock" beside the file it replaces
};

std::vector<Writer> bothWriters() {
    return {{"URL.slx",
             [](const QString& path) {
                 UrlHistory h;
                 h.add("http://new/");
                 return h.save(path);
             },
             true},
            {"Tarnwick.ini", [](const QString& path) {
                 return Profile::writeFile(path, "Tarnwick", "DefaultURL", "http://new/");
             },
             false}};
}

ino_t inode(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

}  // namespace

// A save never replaces anything but a regular file, and never writes one in place.
TEST_F(UrlHistoryTest, SavesReplaceOnlyRegularFilesAndNeverInPlace) {
    for (const Writer& w : bothWriters()) {
        SCOPED_TRACE(w.name);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString path = dir.filePath(w.name);
        const QString fifo = dir.filePath("fifo");
        const QString folder = dir.filePath("folder");
        ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
        QStringList targets = {fifo, folder, dir.filePath("gone")};
        // A device node of our own (the null device's numbers): a faulty save as root
        // would replace it, as it would replace /dev/null through "ln -s /dev/null".
        const QString device = dir.filePath("null");
        if (mknod(QFile::encodeName(device).constData(), S_IFCHR | 0600, makedev(1, 3)) == 0)
            targets << device;
        else
            std::cout << "no device node test: mknod is not allowed here\n";
        const QStringList before = dirEntries(dir.path());

        for (const QString& target : std::as_const(targets)) {
            SCOPED_TRACE(target.toStdString());
            ASSERT_TRUE(QFile::link(target, path));
            EXPECT_FALSE(w.save(path));
            EXPECT_EQ(QFileInfo(path).symLinkTarget(), target);
            ASSERT_TRUE(QFile::remove(path));
        }
        for (const QString& thing : {fifo, folder, device}) {
            if (!targets.contains(thing)) continue;
            EXPECT_FALSE(w.save(thing));
        }
        EXPECT_EQ(dirEntries(dir.path()), before);  // nothing replaced, nothing left behind
        EXPECT_TRUE(QFileInfo(folder).isDir());
        struct stat st {};
        ASSERT_EQ(lstat(QFile::encodeName(fifo).constData(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode));
        if (targets.contains(device)) {
            ASSERT_EQ(lstat(QFile::encodeName(device).constData(), &st), 0);
            EXPECT_TRUE(S_ISCHR(st.st_mode));
        }

        // A link to a regular file is followed: the target gets the new content as a new
        // file renamed over it (never written in place), and the link stays.
        const QString real = dir.filePath("real");
        ASSERT_TRUE(writeAll(real, "old\r\n"));
        ASSERT_TRUE(QFile::link(real, path));
        const ino_t oldTarget = inode(real);
        ASSERT_TRUE(w.save(path));
        EXPECT_TRUE(QFileInfo(path).isSymLink());
        EXPECT_TRUE(readAll(real).contains("http://new/"));
        EXPECT_NE(inode(real), oldTarget);
        ASSERT_TRUE(QFile::remove(path));

        // A plain file: replaced by a new one as well.
        ASSERT_TRUE(writeAll(path, "old\r\n"));
        const ino_t oldFile = inode(path);
        ASSERT_TRUE(w.save(path));
        EXPECT_TRUE(readAll(path).contains("http://new/"));
        EXPECT_NE(inode(path), oldFile);
        QStringList after = before + QStringList({w.name, "real"});
        if (w.locks) after << "real.lock" << QString(w.name) + ".lock";  // beside the target, not the link
        after.sort(Qt::CaseInsensitive);
        EXPECT_EQ(dirEntries(dir.path()), after);
    }
}

// A save killed between naming its temporary file and renaming it leaves a whole copy
// behind; the next save removes such leftovers of its own, and nothing else.
TEST_F(UrlHistoryTest, LeftoversOfKilledSavesAreRemovedByTheNextSave) {
    for (const Writer& w : bothWriters()) {
        SCOPED_TRACE(w.name);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString name = w.name;
        const QDateTime old = QDateTime::currentDateTimeUtc().addSecs(-3600);
        auto make = [&](const QString& file, bool aged) {
            ASSERT_TRUE(writeAll(dir.filePath(file), "copy\r\n"));
            if (!aged) return;
            QFile f(dir.filePath(file));
            ASSERT_TRUE(f.open(QIODevice::ReadWrite));
            ASSERT_TRUE(f.setFileTime(old, QFileDevice::FileModificationTime));
        };
        make(name + ".Ab12Cd", true);    // a leftover
        make(name + ".zz99ZZ", true);    // another
        make(name + ".Xy34Zw", false);   // perhaps another save under way: kept
        make(name + ".bak", true);    // not our pattern
        make(name + ".lock", true);   // nor a lock file
        make(name + ".Ab12Cde", true);   // not our pattern
        make("other.slx.Ab12Cd", true);  // another file's
        make("target", true);
        ASSERT_TRUE(QFile::link(dir.filePath("target"), dir.filePath(name + ".Lk12Mn")));
        ASSERT_TRUE(QDir(dir.path()).mkdir(name + ".Dr12Ab"));

        ASSERT_TRUE(w.save(dir.filePath(name)));
        QStringList expected = {name, name + ".Xy34Zw", name + ".bak", name + ".lock", name + ".Ab12Cde",
                                "other.slx.Ab12Cd", "target", name + ".Lk12Mn",
                                name + ".Dr12Ab"};
        expected.sort();
        QStringList got = dirEntries(dir.path());
        got.sort();
        EXPECT_EQ(got, expected);
    }
}

// What is restored is saved and restored again: invalid bytes read back as U+FFFD, which
// is longer when written, so the line limit counts what would be written.
TEST_F(UrlHistoryTest, WhatIsRestoredSurvivesASaveAndAStart) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("URL.slx");
    const QByteArray ff(1000000, '\xFF');
    const QByteArray fits(600000, '\xFF');
    ASSERT_TRUE(writeAll(path, "\"a\"\r\n\"" + ff + "\"\r\n\"" + fits + "\"\r\n\"b\"\r\n"));
    const QStringList first = UrlHistory::load(path);
    ASSERT_FALSE(first.isEmpty());
    EXPECT_EQ(first.first(), "a");
    EXPECT_EQ(first.last(), "b");
    UrlHistory h;
    h.addAll(first);
    ASSERT_TRUE(h.save(path));
    EXPECT_EQ(UrlHistory::load(path), h.entries());
    EXPECT_EQ(h.entries().size(), 3);

    // An entry too long to read back is left out when saving.
    ASSERT_TRUE(QFile::remove(path));
    UrlHistory tooLong;
    tooLong.add(QString(800000, QChar(0xFFFD)));
    tooLong.add("c");
    ASSERT_TRUE(tooLong.save(path));
    EXPECT_EQ(UrlHistory::load(path), QStringList({"c"}));
}

// A leading U+FEFF is a character like any other in history lines and settings names;
// only the UTF-16LE file's mark is a byte-order mark.
TEST_F(UrlHistoryTest, ALeadingFeffIsKeptInNamesValuesAndHistoryLines) {
    const QString bom(QChar(0xFEFF));
    const QByteArray bomBytes = "\xEF\xBB\xBF";
    EXPECT_EQ(HistoryFile::read("\"" + bomBytes + "\"\r\n\"a\"\r\n"), QStringList({bom, "a"}));
    EXPECT_EQ(HistoryFile::read("\"" + bomBytes + "http://a/\"\r\n"),
              QStringList({bom + "http://a/"}));
    // A section named U+FEFF "S" is found again: a second write replaces, never appends.
    const QByteArray once = Profile::putString({}, bom + "S", "k", "1");
    EXPECT_EQ(Profile::putString(once, bom + "S", "k", "1"), once);
    // The UTF-16LE mark is still taken off; a second U+FEFF after it is kept.
    QStringEncoder utf16(QStringConverter::Utf16LE);
    const QByteArray wide = "\xFF\xFE" + QByteArray(utf16(bom + "[S]\r\nk=v\r\n[S2]\r\nk=w\r\n"));
    EXPECT_EQ(Profile::getString(wide, "S2", "k"), "w");
    EXPECT_EQ(Profile::getString(wide, "S", "k"), "");
}
