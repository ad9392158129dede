// Our settings file's reader and writer against kernel32's GetPrivateProfileStringW and
// WritePrivateProfileStringW under Wine, on every case of the format's tables; and the
// hand-off, the settings file's place and its lock through the Windows shell and kernel32.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

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

// Why Wine may part from Windows on a case, or nothing: the differences the format lists
// (a header without ']' or with a second ']', a UTF-8 mark, the ';' key, a value written
// with leading blanks), three more seen here (a form feed is a blank to Wine, Wine ends a
// name or a value at a NUL, and it folds the capitals of A to Z only: "GRÖSSE" is not
// "grösse" to it), and names the program never uses (empty or all blanks).
const char* whyWineParts(std::string_view file, const char* section, const char* key, const char* value = "") {
    const QByteArray f = bytes(file);
    const auto blank = [](const char* name) { return QByteArray(name).trimmed().isEmpty(); };
    if (anyLine(f, [](const QByteArray& l) { return l.startsWith('[') && (!l.contains(']') || l.count(']') > 1); }))
        return "a header without ']' or with a second one";
    if (f.startsWith("\xEF\xBB\xBF")) return "a UTF-8 mark";
    if (QByteArray(key).trimmed().startsWith(';')) return "the ';' key";
    if (*value == ' ' || *value == '\t') return "a value written with leading blanks";
    if (f.contains('\f')) return "a form feed";
    if (!f.startsWith("\xFF\xFE") && f.contains('\0')) return "a NUL in a name or a value";
    if (blank(section) || blank(key)) return "an empty name";
    const auto otherCapitals = [&](const char* name) {
        const QByteArray n(name);
        return std::any_of(n.begin(), n.end(), [](char c) { return (unsigned char)c >= 0x80; }) && !f.contains(n);
    };
    if (otherCapitals(section) || otherCapitals(key)) return "a name in other capitals outside A to Z";
    return nullptr;
}

// The file as Windows would hold the same text: a file in this system's code page
// (UTF-8) goes to Wine in Wine's own, Windows-1252, where its text has a place there.
QByteArray inWinesCodePage(const QByteArray& file) {
    if (file.startsWith("\xFF\xFE") || file.startsWith("\xEF\xBB\xBF") || file.contains('\0')) return file;
    const QString text = QString::fromUtf8(file);
    if (text.toUtf8() != file) return file;
    for (QChar c : text)
        if (c.unicode() > 0xFF || (c.unicode() >= 0x80 && c.unicode() < 0xA0)) return file;
    return text.toLatin1();  // the same as Windows-1252 from 0xA0 up
}

}  // namespace

TEST(Win32Profile, ReaderAndWriterGiveWhatKernel32Gives) {
    WineHost host;
    ASSERT_TRUE(host.ok());
    QTemporaryDir dir;
    int file = 0, sameReads = 0, sameBytes = 0, sameEntries = 0;
    std::map<std::string, int> parted;
    for (const Read& r : kReads) {
        const QString path = dir.filePath(QStringLiteral("r%1.ini").arg(++file));
        ASSERT_TRUE(save(path, inWinesCodePage(bytes(r.file))));
        const QString ours = Profile::getString(bytes(r.file), name(r.section), name(r.key));
        const QStringList theirs = host.ask(QStringLiteral("pget %1 %2 %3").arg(hex16(windowsPath(path)),
                                            hex16(name(r.section)), hex16(name(r.key)))).split(' ');
        if (ours == unhex16(theirs.value(1))) {
            ++sameReads;
        } else if (const char* why = whyWineParts(r.file, r.section, r.key)) {
            ++parted[why];
        } else {
            ADD_FAILURE() << "read " << file << " [" << r.section << "] " << r.key << ": ours \"" << ours.toStdString()
                          << "\", kernel32 \"" << unhex16(theirs.value(1)).toStdString() << '"';
        }
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
        if (load(path) == ours) {
            ++sameBytes;
        } else if (host.ask("pdump " + hex16(windowsPath(path))) == host.ask("pdump " + hex16(windowsPath(oursPath)))) {
            ++sameEntries;
        } else if (const char* why = whyWineParts(w.file, w.section, w.key, w.value)) {
            ++parted[why];
        } else {
            ADD_FAILURE() << "write " << file << " [" << w.section << "] " << w.key << "=" << w.value << ": ours\n"
                          << ours.toStdString() << "\nkernel32\n" << load(path).toStdString();
        }
    }
    std::printf("%d cases: %d reads and %d writes as kernel32's (%d byte for byte)\n",
                int(std::size(kReads) + std::size(kWrites)), sameReads, sameBytes + sameEntries, sameBytes);
    for (const auto& [why, count] : parted) std::printf("  Wine parts from Windows on %d: %s\n", count, why.c_str());
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
