// The history file "URL.slx": its layout, the reading rules, bad and huge files, and what
// a restored list keeps through a save.

#include "history_test_support.h"

// --- File layout and round trips -------------------------------------------------------

TEST_F(HistoryFileTest, FileLayoutAndRoundTripsKeepEveryEntryWhole) {
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

TEST_F(HistoryFileTest, ReadingRulesTable) {
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

TEST_F(HistoryFileTest, OverlongLinesAreSkipped) {
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

TEST_F(HistoryFileTest, LoadStreamsHugeFilesAndReadsNoFileAsEmpty) {
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

// What is restored is saved and restored again: invalid bytes read back as U+FFFD, which
// is longer when written, so the line limit counts what would be written.
TEST_F(HistoryFileTest, WhatIsRestoredSurvivesASaveAndAStart) {
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
TEST_F(HistoryFileTest, ALeadingFeffIsKeptInNamesValuesAndHistoryLines) {
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
