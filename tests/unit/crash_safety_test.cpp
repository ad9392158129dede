// The two files the program keeps, URL.slx and Tarnwick.ini, against a kill -9 at any
// moment of a save and against a full disk.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
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

#include "browse/url_history.h"
#include "platform/profile.h"

extern char** environ;

namespace {

const char* const kFiles[] = {"URL.slx", "Tarnwick.ini"};

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Starts tests/tools/save_loop on `folder`; its stdout goes to a pipe whose read end
// lands in *out when `out` is given.
pid_t startTool(const QString& folder, const char* mode, int* out = nullptr) {
    QByteArray tool = TARNWICK_BINARY_DIR "/save_loop", dir = QFile::encodeName(folder), m = mode;
    char* argv[] = {tool.data(), dir.data(), m.data(), nullptr};
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

// The writer tool saves both files in a loop with the program's own save functions and is
// killed with SIGKILL at random moments; after every kill each file holds exactly one of
// its two complete contents. Kills: TARNWICK_CRASH_KILLS (300 by default); the random
// moments repeat with TARNWICK_TEST_SEED. Temporary files a kill leaves are aged past the
// five minutes after each kill: the next finished save of that file must remove them.
TEST(CrashSafety, KillDuringSavesLeavesTheOldOrTheNewFile) {
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
    QByteArray contents[2][2];  // [file][A or B]
    for (int f = 0; f < 2; ++f) {
        contents[f][0] = readAll(work.filePath(kFiles[f]));
        contents[f][1] = readAll(b.filePath(kFiles[f]));
        ASSERT_GT(contents[f][0].size(), 256 * 1024) << kFiles[f];
        ASSERT_NE(contents[f][0], contents[f][1]) << kFiles[f];
    }

    // One unkilled half second tells how long the saves take here; kills then land
    // anywhere in the first two rounds of saves.
    int maxDelayUs = 0;
    {
        int out = -1;
        const pid_t pid = startTool(work.path(), "loop", &out);
        ASSERT_GT(pid, 0);
        char ready = 0;
        ASSERT_EQ(read(out, &ready, 1), 1);
        usleep(500 * 1000);
        kill(pid, SIGKILL);
        waitStatus(pid);
        const qsizetype rounds = drain(out).count('p');
        std::cout << "save rounds (both files) in 0.5 s: " << rounds << std::endl;
        maxDelayUs = int(std::clamp<qint64>(2 * 500000 / std::max<qsizetype>(rounds, 1), 2000, 500000));
    }

    QElapsedTimer clock;
    clock.start();
    int done = 0, midSave[2] = {0, 0}, leftoversMade = 0, mostLeftovers = 0, failures = 0;
    for (int k = 0; k < kills && failures < 5; ++k, ++done) {
        QStringList before[2];
        for (int f = 0; f < 2; ++f) before[f] = leftovers(work, kFiles[f]);
        int out = -1;
        const pid_t pid = startTool(work.path(), "loop", &out);
        ASSERT_GT(pid, 0);
        char ready = 0;
        ASSERT_EQ(read(out, &ready, 1), 1) << "the tool did not start";
        usleep(random.bounded(maxDelayUs));
        kill(pid, SIGKILL);
        const int status = waitStatus(pid);
        const QByteArray marks = drain(out);
        if (!WIFSIGNALED(status)) {
            ++failures;
            ADD_FAILURE() << "kill " << k << ": the tool ended by itself (a save failed), status " << status;
        }
        const char last = marks.isEmpty() ? 'r' : marks.back();
        for (int f = 0; f < 2; ++f) {
            midSave[f] += last == "HP"[f];
            const QByteArray now = readAll(work.filePath(kFiles[f]));
            if (now != contents[f][0] && now != contents[f][1]) {
                ++failures;
                ADD_FAILURE() << "kill " << k << " (after '" << last << "'): " << kFiles[f] << " holds "
                              << now.size() << " bytes, neither of its two contents";
            }
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
    std::cout << "kills " << done << ", during a history save " << midSave[0] << ", during a settings save "
              << midSave[1] << ", temporary files left by kills " << leftoversMade << " (at most "
              << mostLeftovers << " of one file at once), failures " << failures << ", "
              << clock.elapsed() / 1000.0 << " s" << std::endl;
    EXPECT_GT(midSave[0] + midSave[1], 0) << "no kill landed during a save";
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
        EXPECT_EQ(names, QStringList({"Tarnwick.ini", "URL.slx", "fill"}));
        EXPECT_EQ(freeBytes(), free) << "a failed save still holds space";
    }
    fill.close();
}
