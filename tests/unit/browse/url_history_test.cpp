// The URL history list: order, duplicates, the limit and the model's signals.

#include "history_test_support.h"

namespace {

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
