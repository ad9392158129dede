// Saving the history and the settings file: keeping what another copy saved, failed
// saves, the current directory, replacing only regular files and never in place, and the
// leftovers of killed saves.

#include "history_test_support.h"

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
TEST_F(FileSaveTest, SaveWritesTheListAndKeepsWhatAnotherCopySaved) {
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

TEST_F(FileSaveTest, FailedSaveLeavesTheOldFile) {
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

TEST_F(FileSaveTest, RelativeNameFollowsTheCurrentDirectory) {
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
TEST_F(FileSaveTest, SavesReplaceOnlyRegularFilesAndNeverInPlace) {
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
TEST_F(FileSaveTest, LeftoversOfKilledSavesAreRemovedByTheNextSave) {
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
