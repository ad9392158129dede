// Our settings file's reader and writer against kernel32's GetPrivateProfileStringW and
// WritePrivateProfileStringW under Wine, on every case of the format's tables; and the
// hand-off, the settings file's place and its lock through the Windows shell and kernel32.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

#include "platform/settings/profile.h"
#include "profile_cases.h"
#include "wait.h"
#include "wine_host.h"

using namespace profile_cases;

namespace {

QByteArray bytes(std::string_view s) { return QByteArray(s.data(), qsizetype(s.size())); }

QString name(const char* utf8) { return QString::fromUtf8(utf8); }

bool save(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray load(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QString windowsPath(const QString& path) { return "Z:" + QDir::toNativeSeparators(path).replace('/', '\\'); }

bool anyLine(const QByteArray& file, bool (*test)(const QByteArray& line)) {
    for (QByteArray line : file.split('\n'))
        for (const QByteArray& part : line.split('\r'))
            if (test(part.trimmed())) return true;
    return false;
}

// The cases where Wine is known to part from Windows: a header without ']' or with a
// second ']', a UTF-8 mark, a value written with leading blanks, the ';' key, a form feed
// (a blank to Wine), empty names; and where this machine's code pages part: non-ASCII
// text or NUL in a file that is not UTF-16.
bool wineDiffers(std::string_view file, const char* section, const char* key, const char* value = "") {
    const QByteArray f = bytes(file);
    const bool headerOdd = anyLine(f, [](const QByteArray& l) {
        return l.startsWith('[') && (!l.contains(']') || l.count(']') > 1);
    });
    const bool eightBit = !f.startsWith("\xFF\xFE") &&
        std::any_of(f.begin(), f.end(), [](char c) { return c == 0 || (unsigned char)c >= 0x80; });
    return headerOdd || eightBit || f.contains('\f') || f.startsWith("\xEF\xBB\xBF") || QByteArray(key).trimmed().startsWith(';') ||
           QByteArray(section).trimmed().isEmpty() || QByteArray(key).trimmed().isEmpty() ||
           (*value == ' ' || *value == '\t');
}

}  // namespace

TEST(Win32Profile, ReaderAndWriterGiveWhatKernel32Gives) {
    WineHost host;
    ASSERT_TRUE(host.ok());
    QTemporaryDir dir;
    int file = 0, sameReads = 0, sameBytes = 0, sameEntries = 0;
    for (const Read& r : kReads) {
        const QString path = dir.filePath(QStringLiteral("r%1.ini").arg(++file));
        ASSERT_TRUE(save(path, bytes(r.file)));
        const QString ours = Profile::getString(bytes(r.file), name(r.section), name(r.key));
        const QStringList theirs = host.ask(QStringLiteral("pget %1 %2 %3").arg(hex16(windowsPath(path)),
                                            hex16(name(r.section)), hex16(name(r.key)))).split(' ');
        if (ours == unhex16(theirs.value(1))) ++sameReads;
        else EXPECT_TRUE(wineDiffers(r.file, r.section, r.key)) << path.toStdString() << " ours " << ours.toStdString()
                                                                << " kernel32 " << unhex16(theirs.value(1)).toStdString();
    }
    for (const Write& w : kWrites) {
        const QString path = dir.filePath(QStringLiteral("w%1.ini").arg(++file));
        const QString oursPath = path + ".ours";
        const QByteArray ours = Profile::putString(bytes(w.file), name(w.section), name(w.key), name(w.value));
        ASSERT_TRUE(save(path, bytes(w.file)) && save(oursPath, ours));
        host.ask(QStringLiteral("pput %1 %2 %3 %4").arg(hex16(windowsPath(path)), hex16(name(w.section)),
                                                       hex16(name(w.key)), hex16(name(w.value))));
        // Wine rewrites the whole file: where its bytes differ, its reader must still
        // find the same sections and entries in both files.
        if (load(path) == ours) ++sameBytes;
        else if (host.ask("pdump " + hex16(windowsPath(path))) == host.ask("pdump " + hex16(windowsPath(oursPath))))
            ++sameEntries;
        else EXPECT_TRUE(wineDiffers(w.file, w.section, w.key, w.value)) << path.toStdString();
    }
    const int cases = int(std::size(kReads) + std::size(kWrites));
    std::printf("%d cases: %d reads and %d writes as kernel32's (%d byte for byte), %d where Wine parts\n", cases,
                sameReads, sameBytes + sameEntries, sameBytes, cases - sameReads - sameBytes - sameEntries);
    EXPECT_GT(sameReads, int(std::size(kReads)) * 3 / 4);
    EXPECT_GT(sameBytes + sameEntries, int(std::size(kWrites)) * 3 / 4);
}

// ShellExecuteW hands the address, one argument that no shell has seen, to the system's
// opener (Wine's winebrowser, then the first of its browsers on PATH: here a recorder;
// winebrowser escapes characters no address holds, such as '`'); the settings
// file lies beside the program while its folder can be written, else in the roaming
// folder; saves of a shared file take turns by the lock beside it.
TEST(Win32Shell, HandOffSettingsFileAndItsLock) {
    QTemporaryDir dir;
    const QString record = dir.filePath("opened");
    const QString opener = dir.filePath("xdg-open");
    ASSERT_TRUE(save(opener, QStringLiteral("#!/bin/sh\nexec '%1' '%2' \"$@\"\n")
                                 .arg(QStringLiteral(TARNWICK_BINARY_DIR "/fake_browser_opener"), record).toUtf8()));
    QFile::setPermissions(opener, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    WineHost host({"PATH=" + dir.path() + ":" + qEnvironmentVariable("PATH")});
    ASSERT_TRUE(host.ok());
    const QString address = QStringLiteral("http://example.test/a?x=1&y=$HOME;z=(id)");
    EXPECT_EQ(host.number("open " + hex16(address)), 1);
    EXPECT_TRUE(waitUntil([&] { return load(record).endsWith('\n'); }));
    EXPECT_EQ(load(record), address.toUtf8() + QByteArray(1, '\0') + '\n');

    const QString folder = host.text("folder");
    EXPECT_EQ(folder, windowsPath(QStringLiteral(TARNWICK_BINARY_DIR "/win32")));
    EXPECT_EQ(host.text("settings " + hex16(folder) + " w"), folder + "\\Tarnwick.ini");
    // /proc cannot be written, not even by root: its settings go to the user's copy
    // once there is one.
    const QString shared = "Z:\\proc\\Tarnwick.ini";
    const QString own = host.text("roaming") + "\\Tarnwick\\Tarnwick.ini";
    EXPECT_EQ(host.text("settings " + hex16("Z:\\proc") + " r"), shared);
    EXPECT_EQ(host.text("settings " + hex16("Z:\\proc") + " w"), own);
    EXPECT_EQ(host.text("settings " + hex16("Z:\\proc") + " r"), shared);
    EXPECT_EQ(host.number("pput " + hex16(own) + " " + hex16("Tarnwick") + " " + hex16("DefaultURL") + " " +
                          hex16("http://example.test/")), 1);
    EXPECT_EQ(host.text("settings " + hex16("Z:\\proc") + " r"), own);

    // A replaced file is told from the one before.
    const QString file = dir.filePath("URL.slx");
    ASSERT_TRUE(save(file, "http://a/\n"));
    const QStringList before = host.ask("ident " + hex16(windowsPath(file))).split(' ');
    ASSERT_TRUE(save(file + ".new", "http://b/\n") && std::rename(qPrintable(file + ".new"), qPrintable(file)) == 0);
    const QStringList after = host.ask("ident " + hex16(windowsPath(file))).split(' ');
    ASSERT_EQ(before.size(), 6);
    ASSERT_EQ(after.size(), 6);
    EXPECT_EQ(before[0], "1");
    EXPECT_NE(before[2], after[2]) << "a replaced file looks like the one before";

    // Two programs saving one file take turns: the second waits for the first's lock and
    // goes on without it when it is not let go, and gets it once it is; a folder or a
    // link is never taken for a lock file. (The second program ends the prefix's Wine
    // server, and so the first, when it ends: this comes last.)
    const QString lockFile = windowsPath(dir.filePath("URL.slx.lock"));
    ASSERT_TRUE(QFile::link(dir.path(), dir.filePath("link.lock")));
    EXPECT_EQ(host.ask("lock a " + hex16(lockFile) + " 0"), "1");
    {
        WineHost other;
        ASSERT_TRUE(other.ok());
        EXPECT_EQ(other.ask("lock a " + hex16(lockFile) + " 300"), "0 still held by another program");
        EXPECT_EQ(host.ask("unlock a"), "ok");
        EXPECT_EQ(other.ask("lock a " + hex16(lockFile) + " 0"), "1");
        EXPECT_EQ(other.ask("lock b " + hex16(windowsPath(dir.path())) + " 0"), "0 is not a regular file");
        EXPECT_EQ(other.ask("lock c " + hex16(windowsPath(dir.filePath("link.lock"))) + " 0"), "0 is not a regular file");
    }
}
