// The settings file's reader and writer: the Windows profile (INI) rules, byte for byte,
// and the file handling around them (bad files, failed writes, permissions).

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <functional>
#include <random>
#include <string_view>
#include <tuple>

#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/settings/module1.h"
#include "platform/settings/profile.h"
#include "profile_cases.h"

using namespace profile_cases;
#include "wait.h"

using namespace std::string_view_literals;

namespace {

QByteArray B(std::string_view s) { return QByteArray(s.data(), qsizetype(s.size())); }

// A UTF-16LE file: the mark FF FE, then the text.
QByteArray U16(const QString& s) {
    QStringEncoder encoder(QStringEncoder::Utf16LE);
    return B("\xFF\xFE"sv) + QByteArray(encoder(s));
}

QString get(std::string_view file, const char* section, const char* key) {
    return Profile::getString(B(file), QString::fromUtf8(section), QString::fromUtf8(key));
}

QByteArray put(std::string_view file, const char* section, const char* key, const char* value) {
    return Profile::putString(B(file), QString::fromUtf8(section), QString::fromUtf8(key),
                              QString::fromUtf8(value));
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray("<unreadable>");
    return f.readAll();
}

bool writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Runs `body` in a child process, after `prepare` (false: 90, it could not be done).
// Returns the child's exit code.
int runInChild(const std::function<bool()>& prepare, const std::function<int()>& body) {
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) _exit(prepare() ? body() : 90);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// In a child that cannot bypass file permissions (root drops to nobody).
int runUnprivileged(const std::function<int()>& body) {
    return runInChild([] { return geteuid() != 0 || (setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0); },
                      body);
}

// The names in a folder besides . and ..
QStringList entriesOf(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                               QDir::NoDotAndDotDot);
}

}  // namespace

// Readable failure messages (file-local: other test files may print these types too).
[[maybe_unused]] static void PrintTo(const QByteArray& bytes, std::ostream* os) {
    *os << '"' << bytes.toPercentEncoding(" =[];#\"'").constData() << '"';
}
[[maybe_unused]] static void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toUtf8().toPercentEncoding(" =[];#\"'").constData() << '"';
}

// ---------------------------------------------------------------------------------------
// Reading: one table of files, the names asked for and the value that comes back

TEST(ProfileRead, FileRulesTable) {
    for (const Read& r : kReads)
        EXPECT_EQ(get(r.file, r.section, r.key), QString::fromUtf8(r.want))
            << "file " << B(r.file).toPercentEncoding(" =[];#\"'").constData() << " ["
            << r.section << "] " << r.key;
    // A leading U+FEFF is a character like any other in names and values.
    const QString bom(QChar(0xFEFF));
    const QByteArray feff = "[\xEF\xBB\xBFT]\r\nk=1\r\n[T]\r\nk=2\r\n\xEF\xBB\xBFj=3\r\nv=\xEF\xBB\xBFhttp://a/\r\n";
    EXPECT_EQ(Profile::getString(feff, "T", "k"), "2");
    EXPECT_EQ(Profile::getString(feff, bom + "T", "k"), "1");
    EXPECT_EQ(Profile::getString(feff, "T", bom + "j"), "3");
    EXPECT_EQ(Profile::getString(feff, "T", "j"), "");
    EXPECT_EQ(Profile::getString(feff, "T", "v"), bom + "http://a/");
    // Names asked for end at their first NUL, as a C string would.
    EXPECT_EQ(Profile::getString(B("[S]\r\nk=v\r\n"sv), QString::fromUtf8("S\0zz", 4), QString::fromUtf8("k\0q", 3)),
              "v");
}

TEST(ProfileRead, AtMost254CharactersComeBack) {
    const std::string v254(254, 'a');
    const std::string v255 = std::string(254, 'a') + "b";
    EXPECT_EQ(get("[S]\r\nk=" + v254 + "\r\n", "S", "k"), QString::fromStdString(v254));
    EXPECT_EQ(get("[S]\r\nk=" + v255 + "\r\n", "S", "k"), QString::fromStdString(v254));
    // The quotes go first: 254 characters between quotes come back whole.
    EXPECT_EQ(get("[S]\r\nk=\"" + v254 + "\"\r\n", "S", "k"), QString::fromStdString(v254));
    EXPECT_EQ(get("[S]\r\nk=\"" + v255 + "\"\r\n", "S", "k"), QString::fromStdString(v254));
    // Other buffer sizes.
    EXPECT_EQ(Profile::getString("[S]\r\nk=abcdefgh\r\n", "S", "k", 5), "abcd");
    for (int size : {1, 0, -3}) EXPECT_EQ(Profile::getString("[S]\r\nk=abcdefgh\r\n", "S", "k", size), "");

    // The limit counts bytes of the local 8-bit encoding and never splits a character.
    const QString value = QString(253, u'a') + QString(10, QChar(0x00E9));  // é
    const QString got = Profile::getString("[S]\r\nk=" + value.toLocal8Bit(), "S", "k");
    ASSERT_TRUE(value.startsWith(got));
    EXPECT_LE(got.toLocal8Bit().size(), 254);
    EXPECT_GT((got + value.at(got.size())).toLocal8Bit().size(), 254);
    EXPECT_FALSE(got.contains(QChar::ReplacementCharacter));
    // The same from a UTF-16LE file, with a character outside the BMP at the cut.
    const QString wide = QString(252, u'x') + QString::fromUcs4(U"\U0001F600\U0001F600");
    const QString got16 = Profile::getString(U16("[S]\r\nk=" + wide + "\r\n"), "S", "k");
    ASSERT_TRUE(wide.startsWith(got16));
    EXPECT_LE(got16.toLocal8Bit().size(), 254);
    EXPECT_FALSE(got16.contains(QChar::ReplacementCharacter));
    EXPECT_FALSE(got16.isEmpty() || got16.back().isHighSurrogate());
}

TEST(ProfileRead, Utf16LeWithItsMarkAndLocalEightBitOtherwise) {
    EXPECT_EQ(Profile::getString(U16("; c\r [ größe ]\r\n\tKEY = \"Grüße €\" \n"), "GRÖßE", "key"),
              QString::fromUtf8("Grüße €"));
    EXPECT_EQ(Profile::getString(U16("k=v\r\n[S]\r\n;k=v\r\n"), "S", "k"), "");
    EXPECT_EQ(Profile::getString(U16(QString::fromUtf8("[S]\r\nk=ab\0cd\r\n", 14)), "S", "k"), "ab");
    // Without the mark the same bytes are no profile text.
    QStringEncoder encoder(QStringEncoder::Utf16LE);
    EXPECT_EQ(Profile::getString(encoder(QStringLiteral("[S]\r\nk=v\r\n")), "S", "k"), "");
    // An odd last byte is ignored.
    EXPECT_EQ(Profile::getString(U16("[S]\r\nk=v") + 'x', "S", "k"), "v");
}

// ---------------------------------------------------------------------------------------
// Reading: files no one wrote by hand

TEST(ProfileRead, HugeLinesAndManyLinesStayLinear) {
    const QByteArray big(10 * 1024 * 1024, 'a');
    // A 10 MB line without '=' before the key, and a 10 MB value.
    EXPECT_EQ(Profile::getString("[S]\r\n" + big + "\r\nk=v\r\n", "S", "k"), "v");
    EXPECT_EQ(Profile::getString("[S]\r\nk=" + big + "\r\n", "S", "k"), QString(254, u'a'));
    EXPECT_EQ(Profile::getString("[S]\r\nk=\"" + big + "\"", "S", "k"), QString(254, u'a'));
    // 10 MB of blanks, of '[', of '=', of line breaks, then the entry.
    for (char c : {' ', '[', '=', '\n', '\r', ';'}) {
        const QByteArray filler(10 * 1024 * 1024, c);
        SCOPED_TRACE(int(c));
        EXPECT_EQ(Profile::getString("[S]\r\n" + filler + "\nk=v\r\n", "S", "k"),
                  c == '[' ? "" : "v");
    }
    // A 10 MB header name.
    EXPECT_EQ(Profile::getString("[" + big + "]\r\nk=v\r\n[S]\r\nk=w", "S", "k"), "w");
    // Many sections before the one wanted.
    QByteArray many;
    for (int i = 0; i < 200000; ++i) many += "[S" + QByteArray::number(i) + "]\nk=" + QByteArray::number(i) + "\n";
    EXPECT_EQ(Profile::getString(many, "S199999", "k"), "199999");
    EXPECT_EQ(Profile::getString(U16(QString::fromLatin1(many)), "S123456", "K"), "123456");
}

TEST(ProfileRead, BinaryGarbageNeverCrashes) {
    std::mt19937 random(testSeed());
    auto next = [&] { return char(random() >> 24); };
    for (int round = 0; round < 50; ++round) {
        QByteArray junk(1 + round * 997, Qt::Uninitialized);
        for (char& c : junk) c = next();
        if (round % 5 == 0) junk.prepend("\xFF\xFE");
        // Whatever the junk holds, it can be read and written without harm.
        (void)Profile::getString(junk, "S", "k");
        const QByteArray written = Profile::putString(junk, "Tarnwick", "DefaultURL", "http://x/");
        EXPECT_TRUE(written.startsWith(junk.left(2)));
        EXPECT_EQ(Profile::getString(written, "Tarnwick", "DefaultURL"), "http://x/")
            << "round " << round;
    }
}


// ---------------------------------------------------------------------------------------
// Writing a value: one table of files before and after

TEST(ProfileWrite, FileRulesTable) {
    for (const Write& w : kWrites)
        EXPECT_EQ(put(w.file, w.section, w.key, w.value), B(w.want))
            << "file " << B(w.file).toPercentEncoding(" =[];#\"'").constData() << " ["
            << w.section << "] " << w.key;
    // Non-ASCII text is written in the local 8-bit encoding, without any mark; a value
    // ends at its first NUL.
    EXPECT_EQ(Profile::putString({}, QStringLiteral("Größe"), QStringLiteral("ü"), QStringLiteral("€")),
              QStringLiteral("[Größe]\r\nü=€\r\n").toLocal8Bit());
    EXPECT_EQ(Profile::putString({}, "S", "k", QString::fromUtf8("ab\0cd", 5)), "[S]\r\nk=ab\r\n");
}

TEST(ProfileWrite, EveryOtherByteStays) {
    const QByteArray file = B(
        "; settings\r\n"
        "stray=before any section\r\n"
        "\r\n"
        "[Other]\r\n"
        "  x = 1  \r\n"
        "#hash=2\n"
        "no equals sign here\r"
        "[unterminated header\r\n"
        "y=\"quoted\"\r\n"
        "\r\n"
        "[Tarnwick]\t; header comment\r\n"
        "; the start page\r\n"
        "  DefaultURL  =  http://old/  \r\n"
        "Extra=\0binary\x01\xFF\r\n"
        "\t\v\r\n"
        "[Tail]\r\n"
        "z=3"sv);
    const auto with = [&](const char* from, const char* to) { return QByteArray(file).replace(from, to); };
    EXPECT_EQ(Profile::putString(file, "Tarnwick", "DefaultURL", "http://new/"),
              with("  DefaultURL  =  http://old/  \r\n", "DefaultURL=http://new/\r\n"));
    EXPECT_EQ(Profile::putString(file, "Tarnwick", "Added", "1"), with("\xFF\r\n", "\xFF\r\nAdded=1\r\n"));
    EXPECT_EQ(Profile::putString(file, "New", "k", "v"), file + "\r\n[New]\r\nk=v\r\n");
    // The unterminated header is a section of its own, ending at the next header.
    EXPECT_EQ(Profile::putString(file, "unterminated header", "n", "v"),
              with("y=\"quoted\"\r\n", "y=\"quoted\"\r\nn=v\r\n"));
}

TEST(ProfileWrite, WhatIsWrittenReadsBack) {
    const QStringList values = {QStringLiteral("http://example.com/"), QStringLiteral("a=b"),
                                QStringLiteral("Grüße € 😀"), QStringLiteral("#;["),
                                QString(254, u'x')};
    const std::pair<QByteArray, bool> starts[] = {  // a file, and whether it has Other/k=v
        {QByteArray(), false},
        {QByteArray("[tarnwick]\r\nDEFAULTURL=old\r\n"), false},
        {QByteArray("[Other]\r\nk=v"), true},
        {U16("[Other]\r\nk=v\r\n"), true}};
    for (const auto& [start, hasOther] : starts) {
        for (const QString& value : values) {
            const QByteArray once = Profile::putString(start, "Tarnwick", "DefaultURL", value);
            EXPECT_EQ(Profile::getString(once, "Tarnwick", "DefaultURL"), value);
            // A second write replaces the first in place: the file does not grow twice.
            const QByteArray twice = Profile::putString(once, "Tarnwick", "DefaultURL", value);
            EXPECT_EQ(twice, once);
            EXPECT_EQ(Profile::getString(twice, "Other", "k"), hasOther ? "v" : "");
        }
    }
}

TEST(ProfileWrite, Utf16LeFileStaysUtf16Le) {
    EXPECT_EQ(Profile::putString(U16("[S]\r\nk=1\r\nj=2\r\n"), "s", "K", "Grüße"),
              U16(QStringLiteral("[S]\r\nk=Grüße\r\nj=2\r\n")));
    EXPECT_EQ(Profile::putString(U16("[S]\r\nk=1"), "S", "n", "v"),
              U16("[S]\r\nk=1\r\nn=v\r\n"));
    EXPECT_EQ(Profile::putString(U16("[S]\nk=1"), "T", "n", "v"),
              U16("[S]\nk=1\r\n[T]\r\nn=v\r\n"));
    EXPECT_EQ(Profile::putString(U16(""), "T", "n", "v"), U16("[T]\r\nn=v\r\n"));
    // Characters outside the BMP and an odd last byte survive.
    EXPECT_EQ(Profile::putString(U16(QStringLiteral("[😀]\r\nk=1\r\n")) + 'z', "😀", "k", "2"),
              U16(QStringLiteral("[😀]\r\nk=2\r\n")) + 'z');
}

// ---------------------------------------------------------------------------------------
// Files

class ProfileFile : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString path(const QString& name = QStringLiteral("Tarnwick.ini")) const {
        return dir_.filePath(name);
    }
    QTemporaryDir dir_;
};

// Through Module1's routines, as the program uses the file.
TEST_F(ProfileFile, MissingEmptyBinaryAndExistingFiles) {
    const QString file = path();
    EXPECT_EQ(ReadIniString("Tarnwick", "DefaultURL", file), "");
    EXPECT_FALSE(QFileInfo::exists(file));  // reading creates nothing
    WriteIniString("Tarnwick", "DefaultURL", "http://start/", file);
    EXPECT_EQ(readAll(file), "[Tarnwick]\r\nDefaultURL=http://start/\r\n");
    EXPECT_EQ(ReadIniString("tarnwick", "defaulturl", file), "http://start/");
    // The empty string keeps the key, and reads like a missing one.
    WriteIniString("Tarnwick", "DefaultURL", "", file);
    EXPECT_EQ(readAll(file), "[Tarnwick]\r\nDefaultURL=\r\n");
    EXPECT_EQ(ReadIniString("Tarnwick", "DefaultURL", file), "");
    // 254 characters come back whole, a longer value as its first 254.
    const QString v254 = "http://" + QString(242, u'a') + ".com/";
    WriteIniString("Tarnwick", "DefaultURL", v254 + "xyz", file);
    EXPECT_EQ(ReadIniString("Tarnwick", "DefaultURL", file), v254);
    ASSERT_TRUE(Profile::writeFile(file, "Other", "x", "1"));
    EXPECT_EQ(readAll(file), ("[Tarnwick]\r\nDefaultURL=" + v254 + "xyz\r\n[Other]\r\nx=1\r\n").toLatin1());
    EXPECT_EQ(entriesOf(dir_.path()), QStringList{"Tarnwick.ini"});  // no leftovers

    // An empty file is a new one.
    ASSERT_TRUE(writeAll(file, QByteArray()));
    ASSERT_TRUE(Profile::writeFile(file, "Tarnwick", "DefaultURL", "http://a/"));
    EXPECT_EQ(readAll(file), "[Tarnwick]\r\nDefaultURL=http://a/\r\n");
    // Existing bytes, binary ones included, are kept.
    const QByteArray old = B("; mine\n\n[Tarnwick]\r\n DefaultURL = x \r\n\0junk\xFF\r\n[B]\rb=1"sv);
    ASSERT_TRUE(writeAll(file, old));
    ASSERT_TRUE(Profile::writeFile(file, "Tarnwick", "DefaultURL", "http://n/"));
    EXPECT_EQ(readAll(file), QByteArray(old).replace(" DefaultURL = x ", "DefaultURL=http://n/"));
    QByteArray binary(4096, Qt::Uninitialized);
    for (int i = 0; i < binary.size(); ++i) binary[i] = char((i * 131 + 7) % 256);
    ASSERT_TRUE(writeAll(file, binary));
    EXPECT_EQ(Profile::readFile(file, "Tarnwick", "DefaultURL"), "");
    ASSERT_TRUE(Profile::writeFile(file, "Tarnwick", "DefaultURL", "http://a/"));
    EXPECT_TRUE(readAll(file).startsWith(binary));
    EXPECT_EQ(Profile::readFile(file, "Tarnwick", "DefaultURL"), "http://a/");
}

TEST_F(ProfileFile, MissingFolderFolderPipeAndEmptyPathAreNoFiles) {
    // A missing folder is not created, and nothing reports it.
    const QString missing = dir_.filePath("no/such/folder/Tarnwick.ini");
    EXPECT_FALSE(Profile::writeFile(missing, "Tarnwick", "DefaultURL", "http://a/"));
    WriteIniString("Tarnwick", "DefaultURL", "x", missing);
    EXPECT_TRUE(entriesOf(dir_.path()).isEmpty());
    EXPECT_EQ(Profile::readFile(missing, "Tarnwick", "DefaultURL"), "");

    ASSERT_TRUE(QDir(dir_.path()).mkdir("Tarnwick.ini"));
    EXPECT_EQ(Profile::readFile(path(), "Tarnwick", "DefaultURL"), "");
    EXPECT_FALSE(Profile::writeFile(path(), "Tarnwick", "DefaultURL", "x"));
    EXPECT_TRUE(QFileInfo(path()).isDir());
    // Reading a pipe nobody writes to would wait for ever.
    const QString fifo = path("pipe.ini");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(Profile::readFile(fifo, "Tarnwick", "DefaultURL"), "");
    EXPECT_FALSE(Profile::writeFile(fifo, "Tarnwick", "DefaultURL", "x"));
    EXPECT_FALSE(QFileInfo(fifo).isFile());
    EXPECT_EQ(Profile::readFile(QString(), "Tarnwick", "DefaultURL"), "");
    EXPECT_FALSE(Profile::writeFile(QString(), "Tarnwick", "DefaultURL", "x"));
}

TEST_F(ProfileFile, FilesBeyondTheCapAreReadOnlyUpToItAndNeverRewritten) {
    const QByteArray filler(Profile::kMaxFileBytes, 'x');
    // The entry within the first kMaxFileBytes bytes is found ...
    ASSERT_TRUE(writeAll(path(), "[S]\r\nk=v\r\n" + filler));
    EXPECT_EQ(Profile::readFile(path(), "S", "k"), "v");
    // ... one beyond them is not.
    ASSERT_TRUE(writeAll(path(), filler + "\r\n[S]\r\nk=v\r\n"));
    EXPECT_EQ(Profile::readFile(path(), "S", "k"), "");
    // Rewriting would cut the file short: it is left alone.
    const qint64 size = QFileInfo(path()).size();
    EXPECT_FALSE(Profile::writeFile(path(), "S", "k", "w"));
    EXPECT_EQ(QFileInfo(path()).size(), size);
    EXPECT_EQ(entriesOf(dir_.path()), QStringList{"Tarnwick.ini"});
    // A file of exactly the cap is whole and may be rewritten.
    ASSERT_TRUE(writeAll(path(), "[S]\r\nk=v\r\n" + filler.left(Profile::kMaxFileBytes - 10)));
    EXPECT_TRUE(Profile::writeFile(path(), "S", "k", "w"));
    EXPECT_EQ(Profile::readFile(path(), "S", "k"), "w");
}

TEST_F(ProfileFile, PermissionsAreKept) {
    ASSERT_TRUE(writeAll(path(), "[S]\r\nk=v\r\n"));
    ASSERT_EQ(chmod(QFile::encodeName(path()).constData(), 0640), 0);
    ASSERT_TRUE(Profile::writeFile(path(), "S", "k", "w"));
    struct stat st {};
    ASSERT_EQ(stat(QFile::encodeName(path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(readAll(path()), "[S]\r\nk=w\r\n");
}

// A folder that cannot be written to, and a file that cannot be read (write-only): the
// read gives what it can, the write fails, and the file stays as it was.
TEST_F(ProfileFile, ReadOnlyFolderAndUnreadableFileLeaveTheFileUnchanged) {
    const QByteArray old = "[Tarnwick]\r\nDefaultURL=http://old/\r\nOther=keep\r\n";
    for (const auto& [fileMode, dirMode, reads] : {std::tuple{0666, 0555, "http://old/"},
                                                   std::tuple{0222, 0777, ""}}) {
        SCOPED_TRACE(fileMode);
        ASSERT_TRUE(writeAll(path(), old));
        ASSERT_EQ(chmod(QFile::encodeName(path()).constData(), mode_t(fileMode)), 0);
        ASSERT_EQ(chmod(QFile::encodeName(dir_.path()).constData(), mode_t(dirMode)), 0);
        const QString file = path();
        const QString want = QString::fromUtf8(reads);
        const int code = runUnprivileged([&] {
            if (ReadIniString("Tarnwick", "DefaultURL", file) != want) return 1;
            if (Profile::writeFile(file, "Tarnwick", "DefaultURL", "http://new/")) return 2;
            WriteIniString("Tarnwick", "DefaultURL", "http://new/", file);  // no report, no harm
            return 0;
        });
        chmod(QFile::encodeName(dir_.path()).constData(), 0700);
        chmod(QFile::encodeName(path()).constData(), 0600);
        if (code == 90) GTEST_SKIP() << "cannot drop root's right to bypass permissions";
        EXPECT_EQ(code, 0);
        EXPECT_EQ(readAll(path()), old);
        EXPECT_EQ(entriesOf(dir_.path()), QStringList{"Tarnwick.ini"});
    }
}

TEST_F(ProfileFile, AFailedWriteLeavesTheOldFileIntact) {
    // The disk "fills up" after 64 bytes: writing the new file fails half-way.
    const QByteArray old = "[Tarnwick]\r\nDefaultURL=http://old/\r\n[Other]\r\nx=1\r\n";
    ASSERT_TRUE(writeAll(path(), old));
    const QString file = path();
    const int code = runInChild(
        [] {
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit{};
            getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = 64;
            return setrlimit(RLIMIT_FSIZE, &limit) == 0;
        },
        [&] { return Profile::writeFile(file, "Tarnwick", "DefaultURL", QString(200, u'n')) ? 1 : 0; });
    if (code == 90) GTEST_SKIP() << "cannot limit the file size";
    EXPECT_EQ(code, 0) << "the write reported success";
    EXPECT_EQ(readAll(path()), old);
    EXPECT_EQ(entriesOf(dir_.path()), QStringList{"Tarnwick.ini"});
}

