// The two files the program keeps, URL.slx and Tarnwick.ini, against a kill -9 at any
// moment of a save and against a full disk.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <iostream>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include "save_loop.h"
#include "browse/history_file.h"
#include "browse/url_history.h"
#include "platform/settings/profile.h"

extern char** environ;

namespace {

const char* const kFiles[] = {"URL.slx", "Tarnwick.ini"};

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray layoutOf(const QStringList& entries) {
    QByteArray bytes;
    HistoryFile::write(entries, [&bytes](const char* p, qint64 n) { bytes.append(p, n); return true; });
    return bytes;
}

// Starts tests/tools/save_loop on `folder`; its stdout goes to a pipe whose read end
// lands in *out when `out` is given.
pid_t startTool(const QString& folder, const char* mode, int* out = nullptr, const QString& tag = QString()) {
    QByteArray tool = TARNWICK_BINARY_DIR "/save_loop", dir = QFile::encodeName(folder), m = mode,
               t = tag.toLatin1();
    char* argv[] = {tool.data(), dir.data(), m.data(), tag.isEmpty() ? nullptr : t.data(), nullptr};
    int fds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out && pipe2(fds, O_CLOEXEC) == 0) posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (out) {
        close(fds[1]);
        *out = fds[0];
    }
    return pid;
}

int waitStatus(pid_t pid) {
    int status = -1;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    return status;
}

// Everything the tool wrote to the pipe until it ended; closes the pipe.
QByteArray drain(int fd) {
    QByteArray all;
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) != 0;) {
        if (n > 0) all.append(buf, n);
        else if (errno != EINTR) break;
    }
    close(fd);
    return all;
}

// Temporary files of saves of `name` in `dir` ("<name>.XXXXXX").
QStringList leftovers(const QDir& dir, const QString& name) {
    return dir.entryList({name + QStringLiteral(".??????")}, QDir::Files | QDir::Hidden);
}

}  // namespace

// Two copies of the writer tool save both files in a loop with the program's own save
// functions, each adding entries of its own to the history it shares with the other, and
// are killed with SIGKILL at random moments. After every kill the history is the layout
// of a sorted, duplicate-free list (never torn) that holds every entry it held before and
// every entry whose save finished, and nothing else but entries whose save began; the
// settings file holds exactly one of its two complete contents. Kills:
// TARNWICK_CRASH_KILLS (300 by default); the random moments repeat with
// TARNWICK_TEST_SEED. Temporary files a kill leaves are aged past the five minutes after
// each kill: the next finished save of that file must remove them.
TEST(CrashSafety, KillsDuringTwoWritersSavesLoseNothingAndTearNothing) {
    const int kills = qEnvironmentVariableIsSet("TARNWICK_CRASH_KILLS")
                          ? qEnvironmentVariableIntValue("TARNWICK_CRASH_KILLS") : 300;
    const quint32 seed = qEnvironmentVariableIsSet("TARNWICK_TEST_SEED")
                             ? quint32(qEnvironmentVariableIntValue("TARNWICK_TEST_SEED"))
                             : QRandomGenerator::global()->generate() % 1000000;
    std::cout << "seed " << seed << " (repeat with TARNWICK_TEST_SEED=" << seed << ")" << std::endl;
    QRandomGenerator random(seed);

    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    QDir root(tmp.path());
    ASSERT_TRUE(root.mkdir("b") && root.mkdir("work"));
    const QDir work(root.filePath("work")), b(root.filePath("b"));
    ASSERT_EQ(waitStatus(startTool(work.path(), "A")), 0);
    ASSERT_EQ(waitStatus(startTool(b.path(), "B")), 0);
    const QByteArray settings[2] = {readAll(work.filePath(kFiles[1])), readAll(b.filePath(kFiles[1]))};
    ASSERT_GT(settings[0].size(), 256 * 1024);
    ASSERT_NE(settings[0], settings[1]);
    const QString history = work.filePath(kFiles[0]);
    const QStringList base = HistoryFile::read(readAll(history));
    ASSERT_EQ(base.size(), 5000);
    QSet<QString> kept(base.cbegin(), base.cend());  // what the history must go on holding

    struct Writer {
        pid_t pid = -1;
        int out = -1;
        QString tag;
        QByteArray marks;
    };
    // Both writers running (their histories restored) at once.
    const auto startBoth = [&](Writer (&w)[2], const QString& round) {
        for (int i = 0; i < 2; ++i) {
            w[i].tag = round + QLatin1Char("ab"[i]);
            w[i].pid = startTool(work.path(), "loop", &w[i].out, w[i].tag);
            ASSERT_GT(w[i].pid, 0);
        }
        for (Writer& one : w) {
            char ready = 0;
            ASSERT_EQ(read(one.out, &ready, 1), 1) << "a writer did not start";
        }
    };
    const auto stop = [&](Writer& w) {
        kill(w.pid, SIGKILL);
        const int status = waitStatus(w.pid);
        w.marks = drain(w.out);
        return status;
    };

    // One unkilled half second tells how long the saves take here; kills then land
    // anywhere in each writer's first two rounds of saves.
    int maxDelayUs = 0;
    {
        Writer w[2];
        startBoth(w, QStringLiteral("t"));
        if (HasFatalFailure()) return;
        usleep(500 * 1000);
        qsizetype rounds = 0;
        for (Writer& one : w) {
            stop(one);
            rounds = std::max(rounds, one.marks.count('p'));
        }
        std::cout << "save rounds (both files) of each writer in 0.5 s: " << rounds << std::endl;
        maxDelayUs = int(std::clamp<qint64>(2 * 500000 / std::max<qsizetype>(rounds, 1), 2000, 500000));
        kept = {};
        for (const QString& entry : HistoryFile::read(readAll(history))) kept.insert(entry);
    }

    QElapsedTimer clock;
    clock.start();
    int done = 0, midSave[2] = {0, 0}, finished = 0, leftoversMade = 0, mostLeftovers = 0, failures = 0;
    for (int k = 0; k < kills && failures < 5; ++k, ++done) {
        QStringList before[2];
        for (int f = 0; f < 2; ++f) before[f] = leftovers(work, kFiles[f]);
        Writer w[2];
        startBoth(w, QStringLiteral("k%1").arg(k));
        if (HasFatalFailure()) return;
        const int first = int(random.bounded(2));
        usleep(random.bounded(maxDelayUs));
        const int status = stop(w[first]);
        usleep(random.bounded(maxDelayUs / 2));
        const int statuses[2] = {first == 0 ? status : stop(w[0]), first == 1 ? status : stop(w[1])};
        QSet<QString> begun = kept;
        QByteArray marks;
        for (int i = 0; i < 2; ++i) {
            if (!WIFSIGNALED(statuses[i])) {
                ++failures;
                ADD_FAILURE() << "kill " << k << ": a writer ended by itself (a save failed), status " << statuses[i];
            }
            const char last = w[i].marks.isEmpty() ? 'r' : w[i].marks.back();
            midSave[0] += last == 'H';
            midSave[1] += last == 'P';
            for (int n = 1; n <= w[i].marks.count('H'); ++n) begun.insert(saveLoopEntry(w[i].tag, n));
            for (int n = 1; n <= w[i].marks.count('h'); ++n) kept.insert(saveLoopEntry(w[i].tag, n));
            finished += int(w[i].marks.count('h'));
            marks += w[i].marks;
        }

        const QByteArray bytes = readAll(history);
        const QStringList entries = HistoryFile::read(bytes);
        UrlHistory list;
        list.addAll(entries);
        list.removeDuplicates();
        const QSet<QString> now(entries.cbegin(), entries.cend());
        QStringList lost, foreign;
        for (const QString& entry : std::as_const(kept))
            if (!now.contains(entry)) lost << entry;
        for (const QString& entry : entries)
            if (!begun.contains(entry)) foreign << entry;
        if (layoutOf(entries) != bytes || list.entries() != entries || !lost.isEmpty() || !foreign.isEmpty()) {
            ++failures;
            ADD_FAILURE() << "kill " << k << ": URL.slx (" << bytes.size() << " bytes, " << entries.size()
                          << " entries) is torn or out of order, or lost " << lost.size() << " entries (first: "
                          << qPrintable(lost.value(0)) << "), or holds " << foreign.size() << " it never got";
        }
        kept = now;
        if (readAll(work.filePath(kFiles[1])) != settings[0] && readAll(work.filePath(kFiles[1])) != settings[1]) {
            ++failures;
            ADD_FAILURE() << "kill " << k << ": Tarnwick.ini holds neither of its two contents";
        }
        if (entries.size() > 20000) {  // back to the start, well below the list's limit
            ASSERT_EQ(waitStatus(startTool(work.path(), "A")), 0);
            kept = QSet<QString>(base.cbegin(), base.cend());
        }

        for (int f = 0; f < 2; ++f) {
            const QStringList left = leftovers(work, kFiles[f]);
            for (const QString& name : left) {
                if (!before[f].contains(name)) {
                    ++leftoversMade;
                } else if (marks.contains("hp"[f])) {
                    ++failures;
                    ADD_FAILURE() << "kill " << k << ": a finished save left the old leftover " << name.toStdString();
                }
                const timeval old[2] = {{time(nullptr) - 600, 0}, {time(nullptr) - 600, 0}};
                utimes(QFile::encodeName(work.filePath(name)).constData(), old);
            }
            mostLeftovers = std::max(mostLeftovers, int(left.size()));
        }
    }
    std::cout << "kills " << done << " (two writers each), during a history save " << midSave[0]
              << ", during a settings save " << midSave[1] << ", finished history saves " << finished
              << ", temporary files left by kills " << leftoversMade << " (at most " << mostLeftovers
              << " of one file at once), failures " << failures << ", " << clock.elapsed() / 1000.0 << " s"
              << std::endl;
    EXPECT_GT(midSave[0], 0) << "no kill landed during a history save";
    EXPECT_GT(finished, 0) << "no history save finished";
}

// On a full disk (a 64 KiB tmpfs; needs the right to mount) neither file's save harms
// the file: the save reports failure, the old file stays byte for byte, no temporary
// file stays behind, and the next start still restores the whole history.
TEST(CrashSafety, FullDiskLeavesBothFilesAsTheyWere) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QByteArray mountPoint = QFile::encodeName(tmp.path());
    if (mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=64k,mode=0700") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno)
                     << "): the full-disk case needs root or CAP_SYS_ADMIN";
    struct Unmount {
        const char* path;
        ~Unmount() { umount2(path, MNT_DETACH); }
    } unmount{mountPoint.constData()};

    const QDir dir(tmp.path());
    const QString history = dir.filePath("URL.slx"), settings = dir.filePath("Tarnwick.ini");
    UrlHistory small, big;
    small.addAll({"http://one.example/", "http://two.example/"});
    for (int i = 0; i < 2000; ++i) big.add(QStringLiteral("http://host-%1.example/").arg(i));
    ASSERT_TRUE(small.save(history));
    ASSERT_TRUE(Profile::writeFile(settings, "Tarnwick", "DefaultURL", "http://old.example/"));
    const QByteArray oldHistory = readAll(history), oldSettings = readAll(settings);

    QFile fill(dir.filePath("fill"));
    ASSERT_TRUE(fill.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray block(4096, 'f');
    while (fill.write(block) == block.size()) {}
    const auto freeBytes = [&] {
        struct statvfs s{};
        return statvfs(mountPoint.constData(), &s) == 0 ? qint64(s.f_bavail) * qint64(s.f_bsize) : -1;
    };
    // Full to the last byte, then with 16 KiB free (a save fails half-way).
    for (const qint64 free : {qint64(0), qint64(16 * 1024)}) {
        SCOPED_TRACE(free);
        ASSERT_TRUE(fill.resize(fill.size() - free));
        ASSERT_EQ(freeBytes(), free);
        EXPECT_FALSE(big.save(history));
        EXPECT_FALSE(Profile::writeFile(settings, "Tarnwick", "DefaultURL", QString(40 * 1024, u'x')));
        if (free == 0) {
            // A start: the history is read, the first page adds its address, the save fails.
            UrlHistory started;
            started.addAll(UrlHistory::load(history));
            started.add("http://new.example/");
            EXPECT_FALSE(started.save(history));
            EXPECT_FALSE(Profile::writeFile(settings, "Tarnwick", "DefaultURL", "http://new.example/"));
        }
        EXPECT_TRUE(readAll(history) == oldHistory) << "URL.slx changed";
        EXPECT_TRUE(readAll(settings) == oldSettings) << "Tarnwick.ini changed";
        EXPECT_EQ(UrlHistory::load(history), small.entries());
        QStringList names = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        names.sort();
        EXPECT_EQ(names, QStringList({"Tarnwick.ini", "URL.slx", "URL.slx.lock", "fill"}));
        EXPECT_EQ(freeBytes(), free) << "a failed save still holds space";
    }
    fill.close();
}
