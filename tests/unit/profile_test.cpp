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

#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/module1.h"
#include "platform/profile.h"
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

// Runs `body` in a child process that cannot bypass file permissions (root drops to
// nobody). Returns the child's exit code; 90 means privileges could not be dropped.
int runUnprivileged(const std::function<int()>& body) {
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(90);
        _exit(body());
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
// Reading: lines, blanks, headers, entries, comments

TEST(ProfileRead, LinesEndAtCrLfLfOrCr) {
    EXPECT_EQ(get("[S]\r\na=1\r\nb=2\r\n", "S", "b"), "2");
    EXPECT_EQ(get("[S]\na=1\nb=2\n", "S", "b"), "2");
    EXPECT_EQ(get("[S]\ra=1\rb=2\r", "S", "a"), "1");
    EXPECT_EQ(get("[S]\ra=1\rb=2", "S", "b"), "2");
    // Mixed endings, and LF CR is two line breaks.
    EXPECT_EQ(get("[S]\n\ra=1\r\n\rb=2\n", "S", "a"), "1");
    EXPECT_EQ(get("[S]\n\ra=1\r\n\rb=2\n", "S", "b"), "2");
    // A CR inside what looks like one line splits it.
    EXPECT_EQ(get("[S]\r\na=1\rb=2\r\n", "S", "a"), "1");
}

TEST(ProfileRead, BlanksAroundLinesKeysValuesAndInsideBracketsAreTrimmed) {
    EXPECT_EQ(get("  [S]  \r\n \t key \v=\t value x \t\v\r\n", "S", "key"), "value x");
    EXPECT_EQ(get("[ section1 ]\r\nk=v\r\n", "section1", "k"), "v");
    EXPECT_EQ(get("[\t\vsection1\t ]\r\nk=v\r\n", "section1", "k"), "v");
    // Only space, tab and vertical tab are blanks: a form feed is part of the key.
    EXPECT_EQ(get("[S]\r\n\fk=v\r\n", "S", "k"), "");
    // Blanks inside names stay.
    EXPECT_EQ(get("[my section]\r\nmy key = my value\r\n", "my section", "my key"), "my value");
    EXPECT_EQ(get("[my section]\r\nmy key = my value\r\n", "mysection", "mykey"), "");
    // The names asked for are used without their surrounding blanks.
    EXPECT_EQ(get("[S]\r\nk=v\r\n", " S\t", " k "), "v");
}

TEST(ProfileRead, SectionHeaders) {
    // Anything after the first ']' is ignored.
    EXPECT_EQ(get("[S] trailing junk=1\r\nk=v\r\n", "S", "k"), "v");
    EXPECT_EQ(get("[S]x]\r\nk=v\r\n", "S", "k"), "v");
    EXPECT_EQ(get("[S]x]\r\nk=v\r\n", "S]x", "k"), "");
    // A header without ']' runs to the end of the line, trailing blanks trimmed.
    EXPECT_EQ(get("[S  \r\nk=v\r\n", "S", "k"), "v");
    EXPECT_EQ(get("[ Long name \t\r\nk=v\r\n", "Long name", "k"), "v");
    EXPECT_EQ(get("[S", "S", "k"), "");
    // A '[' that is not the first non-blank character makes no header.
    EXPECT_EQ(get("x[S]\r\nk=v\r\n", "S", "k"), "");
    // A header ends the section before it.
    EXPECT_EQ(get("[S]\r\n[T]\r\nk=v\r\n", "S", "k"), "");
    EXPECT_EQ(get("[S]\r\n[T\r\nk=v\r\n", "S", "k"), "");
}

TEST(ProfileRead, NamesMatchCaseInsensitivelyValuesKeepTheirCase) {
    EXPECT_EQ(get("[TarnWick]\r\ndefaultURL=Http://Example.COM/\r\n", "tarnwick", "DEFAULTurl"),
              "Http://Example.COM/");
    EXPECT_EQ(get("[Größe]\r\nSCHLÜSSEL=Wert\r\n", "grösse", "schlüssel"), "");
    EXPECT_EQ(get("[GRÖSSE]\r\nSCHLÜSSEL=Wert\r\n", "grösse", "schlüssel"), "Wert");
}

TEST(ProfileRead, EntriesSplitAtTheFirstEquals) {
    EXPECT_EQ(get("[S]\r\nk=a=b\r\n", "S", "k"), "a=b");
    EXPECT_EQ(get("[S]\r\nk==v\r\n", "S", "k"), "=v");
    EXPECT_EQ(get("[S]\r\nk = = v\r\n", "S", "k"), "= v");
    // A key with '=' cannot be found: the line's key ends at its first '='.
    EXPECT_EQ(get("[S]\r\na=b=c\r\n", "S", "a=b"), "");
    // A line without '=' is a key without a value.
    EXPECT_EQ(get("[S]\r\nk\r\n", "S", "k"), "");
    // A line starting with '=' has an empty key, which nobody can ask for.
    EXPECT_EQ(get("[S]\r\n=v\r\n", "S", "v"), "");
}

TEST(ProfileRead, CommentsAreNeverFoundHashIsOrdinary) {
    EXPECT_EQ(get("[S]\r\n;k=v\r\n", "S", ";k"), "");
    EXPECT_EQ(get("[S]\r\n \t;k=v\r\n", "S", ";k"), "");
    EXPECT_EQ(get("[S]\r\n;k=v\r\nk=w\r\n", "S", "k"), "w");
    EXPECT_EQ(get("[S]\r\n#k=v\r\n", "S", "#k"), "v");
    // A comment line inside a section does not end it.
    EXPECT_EQ(get("[S]\r\n; note\r\nk=v\r\n", "S", "k"), "v");
    // There are no end-of-line comments.
    EXPECT_EQ(get("[S]\r\nk=v ; not a comment\r\n", "S", "k"), "v ; not a comment");
    EXPECT_EQ(get("[S]\r\nk=v # nor this\r\n", "S", "k"), "v # nor this");
    // ';' only starts a comment at the start of a line; in a header it belongs to the name.
    EXPECT_EQ(get(";[S]\r\nk=v\r\n", "S", "k"), "");
    EXPECT_EQ(get("[;S]\r\nk=v\r\n", ";S", "k"), "v");
}

TEST(ProfileRead, TextBeforeTheFirstSectionBelongsToNoSection) {
    EXPECT_EQ(get("k=v\r\n[S]\r\nj=w\r\n", "S", "k"), "");
    EXPECT_EQ(get("k=v\r\n", "S", "k"), "");
    EXPECT_EQ(get("k=v\r\n[]\r\nk=w\r\n", "S", "k"), "");
}

TEST(ProfileRead, FirstMatchingSectionAndFirstMatchingKeyWin) {
    const auto file = "[S]\r\na=1\r\nk=first\r\nk=second\r\n[T]\r\nt=1\r\n[s]\r\nb=2\r\nk=third\r\n"sv;
    EXPECT_EQ(get(file, "S", "k"), "first");
    EXPECT_EQ(get(file, "S", "a"), "1");
    EXPECT_EQ(get(file, "S", "b"), "");  // only in the second [s]
    EXPECT_EQ(get(file, "T", "t"), "1");
    // A key without '=' comes first and hides the later one.
    EXPECT_EQ(get("[S]\r\nk\r\nk=v\r\n", "S", "k"), "");
    // An empty value comes first and hides the later one.
    EXPECT_EQ(get("[S]\r\nk=\r\nk=v\r\n", "S", "k"), "");
}

// ---------------------------------------------------------------------------------------
// Reading a value

TEST(ProfileRead, OnePairOfMatchingQuotesIsRemoved) {
    EXPECT_EQ(get("[S]\r\nk=\"a b\"\r\n", "S", "k"), "a b");
    EXPECT_EQ(get("[S]\r\nk=\" a b \"\r\n", "S", "k"), " a b ");
    EXPECT_EQ(get("[S]\r\nk='x'\r\n", "S", "k"), "x");
    EXPECT_EQ(get("[S]\r\nk =  \"v\"  \r\n", "S", "k"), "v");
    EXPECT_EQ(get("[S]\r\nk=\"\"\r\n", "S", "k"), "");
    EXPECT_EQ(get("[S]\r\nk=\"\"x\"\"\r\n", "S", "k"), "\"x\"");
    EXPECT_EQ(get("[S]\r\nk=\"a\"b\"\r\n", "S", "k"), "a\"b");
    // Mismatched or lone quotes stay.
    EXPECT_EQ(get("[S]\r\nk=\"x'\r\n", "S", "k"), "\"x'");
    EXPECT_EQ(get("[S]\r\nk=\"x\r\n", "S", "k"), "\"x");
    EXPECT_EQ(get("[S]\r\nk=x\"\r\n", "S", "k"), "x\"");
    EXPECT_EQ(get("[S]\r\nk=\"\r\n", "S", "k"), "\"");
    EXPECT_EQ(get("[S]\r\nk='\r\n", "S", "k"), "'");
    // Quotes that are not at both ends after trimming stay.
    EXPECT_EQ(get("[S]\r\nk=\"x\" y\r\n", "S", "k"), "\"x\" y");
}

TEST(ProfileRead, MissingFileSectionKeyAndEmptyValueAllReadEmpty) {
    EXPECT_EQ(get("", "S", "k"), "");
    EXPECT_EQ(get("[T]\r\nk=v\r\n", "S", "k"), "");
    EXPECT_EQ(get("[S]\r\nj=v\r\n", "S", "k"), "");
    EXPECT_EQ(get("[S]\r\nk=\r\n", "S", "k"), "");
    EXPECT_EQ(get("[S]\r\nk= \t \r\n", "S", "k"), "");
    EXPECT_EQ(get("[S]\r\nk=v\r\n", "", "k"), "");
    EXPECT_EQ(get("[S]\r\nk=v\r\n", "S", ""), "");
    EXPECT_EQ(get("[S]\r\nk=v\r\n", "  ", "k"), "");
}

TEST(ProfileRead, AtMost254CharactersComeBack) {
    const std::string v254(254, 'a');
    const std::string v255 = std::string(254, 'a') + "b";
    const std::string v1000 = std::string(254, 'c') + std::string(746, 'd');
    EXPECT_EQ(get("[S]\r\nk=" + v254 + "\r\n", "S", "k"), QString::fromStdString(v254));
    EXPECT_EQ(get("[S]\r\nk=" + v255 + "\r\n", "S", "k"), QString::fromStdString(v254));
    EXPECT_EQ(get("[S]\r\nk=" + v1000, "S", "k"), QString(254, u'c'));
    // The quotes go first: 254 characters between quotes come back whole.
    EXPECT_EQ(get("[S]\r\nk=\"" + v254 + "\"\r\n", "S", "k"), QString::fromStdString(v254));
    EXPECT_EQ(get("[S]\r\nk=\"" + v255 + "\"\r\n", "S", "k"), QString::fromStdString(v254));
    // Other buffer sizes.
    EXPECT_EQ(Profile::getString("[S]\r\nk=abcdefgh\r\n", "S", "k", 5), "abcd");
    EXPECT_EQ(Profile::getString("[S]\r\nk=abcdefgh\r\n", "S", "k", 1), "");
    EXPECT_EQ(Profile::getString("[S]\r\nk=abcdefgh\r\n", "S", "k", 0), "");
    EXPECT_EQ(Profile::getString("[S]\r\nk=abcdefgh\r\n", "S", "k", -3), "");
}

TEST(ProfileRead, TheLimitCountsEncodedBytesAndNeverSplitsACharacter) {
    // The limit is the A function's buffer: bytes of the local 8-bit encoding.
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

// ---------------------------------------------------------------------------------------
// Reading: encodings and NUL bytes

TEST(ProfileRead, Utf16LeFileWithItsMark) {
    EXPECT_EQ(Profile::getString(U16("[Tarnwick]\r\nDefaultURL=http://a/\r\n"), "Tarnwick",
                                 "DefaultURL"),
              "http://a/");
    EXPECT_EQ(Profile::getString(U16("; c\r [ größe ]\r\n\tKEY = \"Grüße €\" \n"), "GRÖßE", "key"),
              QString::fromUtf8("Grüße €"));
    EXPECT_EQ(Profile::getString(U16("k=v\r\n[S]\r\n;k=v\r\n"), "S", "k"), "");
    // Without the mark the same bytes are no profile text.
    QStringEncoder encoder(QStringEncoder::Utf16LE);
    const QByteArray unmarked = encoder(QStringLiteral("[S]\r\nk=v\r\n"));
    EXPECT_EQ(Profile::getString(unmarked, "S", "k"), "");
    // An odd last byte is ignored.
    EXPECT_EQ(Profile::getString(U16("[S]\r\nk=v\r\n") + 'x', "S", "k"), "v");
    EXPECT_EQ(Profile::getString(U16("[S]\r\nk=v") + 'x', "S", "k"), "v");
}

TEST(ProfileRead, LocalEightBitFileAndAnUnderstoodNoUtf8Mark) {
    EXPECT_EQ(Profile::getString(QStringLiteral("[Grüße]\r\nSchlüssel=Wert ü\r\n").toLocal8Bit(),
                                 QStringLiteral("grüße"), QStringLiteral("schlüssel")),
              QStringLiteral("Wert ü"));
    // The UTF-8 mark sticks to line 1: a header there is lost.
    EXPECT_EQ(get("\xEF\xBB\xBF[S]\r\nk=v\r\n", "S", "k"), "");
    EXPECT_EQ(get("\xEF\xBB\xBF\r\n[S]\r\nk=v\r\n", "S", "k"), "v");
    EXPECT_EQ(get("\xEF\xBB\xBF; comment\r\n[S]\r\nk=v\r\n", "S", "k"), "v");
}

TEST(ProfileRead, NulBytes) {
    // A value is a C string: it ends at its first NUL.
    EXPECT_EQ(get("[S]\r\nk=ab\0cd\r\n"sv, "S", "k"), "ab");
    EXPECT_EQ(get("[S]\r\nk=\0cd\r\n"sv, "S", "k"), "");
    EXPECT_EQ(get("[S]\r\nk=\"ab\0cd\"\r\n"sv, "S", "k"), "ab");
    // A NUL does not end a line or the file.
    EXPECT_EQ(get("[S]\r\nx=\0\0\0\r\nk=v\r\n"sv, "S", "k"), "v");
    EXPECT_EQ(get("\0\0[S]\r\nk=v\r\n[\0T]\r\nk=w\r\n"sv, "S", "k"), "");
    EXPECT_EQ(get("\0\0\r\n[S]\r\nk=v\r\n"sv, "S", "k"), "v");
    // A name holding a NUL is a different name.
    EXPECT_EQ(get("[S]\r\nk\0=v\r\n"sv, "S", "k"), "");
    // Names asked for end at their first NUL, as a C string would.
    EXPECT_EQ(Profile::getString(B("[S]\r\nk=v\r\n"sv), QString::fromUtf8("S\0zz", 4), QString::fromUtf8("k\0q", 3)),
              "v");
    EXPECT_EQ(Profile::getString(U16(QString::fromUtf8("[S]\r\nk=ab\0cd\r\n", 14)), "S", "k"), "ab");
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
// Writing a value: byte-for-byte results

TEST(ProfileWrite, NewOrEmptyFile) {
    EXPECT_EQ(put("", "Tarnwick", "DefaultURL", "http://example.com/"),
              "[Tarnwick]\r\nDefaultURL=http://example.com/\r\n");
    // Names are written without surrounding blanks.
    EXPECT_EQ(put("", " S ", "\tk ", " v "), "[S]\r\nk= v \r\n");
    // Non-ASCII text is written in the local 8-bit encoding, without any mark.
    EXPECT_EQ(Profile::putString({}, QStringLiteral("Größe"), QStringLiteral("ü"),
                                 QStringLiteral("€")),
              QStringLiteral("[Größe]\r\nü=€\r\n").toLocal8Bit());
}

TEST(ProfileWrite, ExistingKeyIsReplacedInPlaceKeepingItsSpelling) {
    EXPECT_EQ(put("[tarnWICK]\r\ndefaultUrl=old\r\nother=1\r\n", "Tarnwick", "DefaultURL", "new"),
              "[tarnWICK]\r\ndefaultUrl=new\r\nother=1\r\n");
    // Blanks around the old line, key and value go; the key's spelling and the line's
    // own line break stay.
    EXPECT_EQ(put("[S]\n  \tKey \t= old value  \nj=2\n", "S", "key", "v"), "[S]\nKey=v\nj=2\n");
    EXPECT_EQ(put("[S]\rk=1\rj=2", "S", "K", "9"), "[S]\rk=9\rj=2");
    EXPECT_EQ(put("[S]\r\nk=1", "S", "k", "22"), "[S]\r\nk=22");
    // A key line without '=' is the key's line.
    EXPECT_EQ(put("[S]\r\nk\r\n", "S", "k", "v"), "[S]\r\nk=v\r\n");
    // Only the first key of the first matching section is touched.
    EXPECT_EQ(put("[S]\r\nk=1\r\nk=2\r\n[s]\r\nk=3\r\n", "S", "k", "x"),
              "[S]\r\nk=x\r\nk=2\r\n[s]\r\nk=3\r\n");
    // Quotes around the old value go with it.
    EXPECT_EQ(put("[S]\r\nk=\"old\"\r\n", "S", "k", "new"), "[S]\r\nk=new\r\n");
}

TEST(ProfileWrite, NewKeyGoesAfterTheLastEntryOfItsSection) {
    EXPECT_EQ(put("[A]\r\na=1\r\n\r\n[B]\r\nb=1\r\n", "A", "n", "v"),
              "[A]\r\na=1\r\nn=v\r\n\r\n[B]\r\nb=1\r\n");
    EXPECT_EQ(put("[A]\r\n\r\n\r\n[B]\r\n", "a", "n", "v"), "[A]\r\nn=v\r\n\r\n\r\n[B]\r\n");
    EXPECT_EQ(put("[A]\r\na=1\r\n", "A", "n", "v"), "[A]\r\na=1\r\nn=v\r\n");
    // The last line without a line break gets one first.
    EXPECT_EQ(put("[A]", "A", "n", "v"), "[A]\r\nn=v\r\n");
    EXPECT_EQ(put("[A]\r\na=1", "A", "n", "v"), "[A]\r\na=1\r\nn=v\r\n");
    // Comments and odd lines of the section count as its lines.
    EXPECT_EQ(put("[A]\r\na=1\r\n; about B\r\n\r\n[B]\r\n", "A", "n", "v"),
              "[A]\r\na=1\r\n; about B\r\nn=v\r\n\r\n[B]\r\n");
    EXPECT_EQ(put("[A]\r\na=1\r\nodd line\r\n  \r\n", "A", "n", "v"),
              "[A]\r\na=1\r\nodd line\r\nn=v\r\n  \r\n");
    // New lines end with CR LF whatever the file uses.
    EXPECT_EQ(put("[A]\na=1\n\n[B]\n", "A", "n", "v"), "[A]\na=1\nn=v\r\n\n[B]\n");
    // Only the first matching section grows.
    EXPECT_EQ(put("[A]\r\na=1\r\n[a]\r\nn=old\r\n", "A", "n", "v"),
              "[A]\r\na=1\r\nn=v\r\n[a]\r\nn=old\r\n");
    // A comment is never the key's line, not even for ';k'.
    EXPECT_EQ(put("[A]\r\n;k=1\r\n", "A", "k", "2"), "[A]\r\n;k=1\r\nk=2\r\n");
}

TEST(ProfileWrite, NewSectionIsAppendedAtTheEnd) {
    EXPECT_EQ(put("[A]\r\na=1\r\n", "N", "k", "v"), "[A]\r\na=1\r\n[N]\r\nk=v\r\n");
    EXPECT_EQ(put("[A]\r\na=1", "N", "k", "v"), "[A]\r\na=1\r\n[N]\r\nk=v\r\n");
    EXPECT_EQ(put("[A]\na=1\n", "N", "k", "v"), "[A]\na=1\n[N]\r\nk=v\r\n");
    EXPECT_EQ(put("[A]\ra=1\r", "N", "k", "v"), "[A]\ra=1\r[N]\r\nk=v\r\n");
    EXPECT_EQ(put("[A]\r\na=1\r\n\r\n\r\n", "N", "k", "v"), "[A]\r\na=1\r\n\r\n\r\n[N]\r\nk=v\r\n");
    EXPECT_EQ(put("\r\n", "N", "k", "v"), "\r\n[N]\r\nk=v\r\n");
    EXPECT_EQ(put(" ", "N", "k", "v"), " \r\n[N]\r\nk=v\r\n");
    // Entries before the first section are no section's.
    EXPECT_EQ(put("k=1\r\n", "S", "k", "2"), "k=1\r\n[S]\r\nk=2\r\n");
    // A header lost behind a UTF-8 mark is not found: the section is added again.
    EXPECT_EQ(put("\xEF\xBB\xBF[S]\r\nk=1\r\n", "S", "k", "2"),
              "\xEF\xBB\xBF[S]\r\nk=1\r\n[S]\r\nk=2\r\n");
}

TEST(ProfileWrite, ValueIsWrittenExactly) {
    EXPECT_EQ(put("", "S", "k", "  a b  "), "[S]\r\nk=  a b  \r\n");
    EXPECT_EQ(put("", "S", "k", "\"q\""), "[S]\r\nk=\"q\"\r\n");
    EXPECT_EQ(put("", "S", "k", "a=b;c#d"), "[S]\r\nk=a=b;c#d\r\n");
    EXPECT_EQ(put("[S]\r\nk=x\r\n", "S", "k", "\tt\t"), "[S]\r\nk=\tt\t\r\n");
    // Up to its first NUL, as a C string.
    EXPECT_EQ(Profile::putString({}, "S", "k", QString::fromUtf8("ab\0cd", 5)), "[S]\r\nk=ab\r\n");
}

TEST(ProfileWrite, EmptyValueKeepsTheKey) {
    EXPECT_EQ(put("", "S", "k", ""), "[S]\r\nk=\r\n");
    EXPECT_EQ(put("[S]\r\nk=old\r\nj=1\r\n", "S", "k", ""), "[S]\r\nk=\r\nj=1\r\n");
    EXPECT_EQ(get("[S]\r\nk=\r\nj=1\r\n", "S", "k"), "");
}

TEST(ProfileWrite, EveryOtherByteStays) {
    const auto file =
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
        "z=3"sv;
    EXPECT_EQ(put(file, "Tarnwick", "DefaultURL", "http://new/"),
              B("; settings\r\n"
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
                "DefaultURL=http://new/\r\n"
                "Extra=\0binary\x01\xFF\r\n"
                "\t\v\r\n"
                "[Tail]\r\n"
                "z=3"sv));
    EXPECT_EQ(put(file, "Tarnwick", "Added", "1"),
              B("; settings\r\n"
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
                "Added=1\r\n"
                "\t\v\r\n"
                "[Tail]\r\n"
                "z=3"sv));
    EXPECT_EQ(put(file, "New", "k", "v"), B(file) + "\r\n[New]\r\nk=v\r\n");
    // The unterminated header is a section of its own, ending at the next header.
    EXPECT_EQ(put(file, "unterminated header", "n", "v"),
              B(file).replace("y=\"quoted\"\r\n", "y=\"quoted\"\r\nn=v\r\n"));
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

TEST(ProfileWrite, EmptyNamesWriteNothing) {
    EXPECT_EQ(put("[S]\r\nk=v\r\n", "", "k", "x"), "[S]\r\nk=v\r\n");
    EXPECT_EQ(put("[S]\r\nk=v\r\n", "S", " ", "x"), "[S]\r\nk=v\r\n");
    EXPECT_EQ(put("", "S", "", "x"), "");
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

TEST_F(ProfileFile, MissingFileReadsEmptyAndIsCreatedByAWrite) {
    EXPECT_EQ(Profile::readFile(path(), "Tarnwick", "DefaultURL"), "");
    EXPECT_FALSE(QFileInfo::exists(path()));  // reading creates nothing
    ASSERT_TRUE(Profile::writeFile(path(), "Tarnwick", "DefaultURL", "http://a/"));
    EXPECT_EQ(readAll(path()), "[Tarnwick]\r\nDefaultURL=http://a/\r\n");
    EXPECT_EQ(Profile::readFile(path(), "tarnwick", "defaulturl"), "http://a/");
    ASSERT_TRUE(Profile::writeFile(path(), "Tarnwick", "DefaultURL", "http://b/"));
    ASSERT_TRUE(Profile::writeFile(path(), "Other", "x", "1"));
    EXPECT_EQ(readAll(path()), "[Tarnwick]\r\nDefaultURL=http://b/\r\n[Other]\r\nx=1\r\n");
    EXPECT_EQ(entriesOf(dir_.path()), QStringList{"Tarnwick.ini"});  // no leftovers
}

TEST_F(ProfileFile, ExistingContentIsKeptByteForByte) {
    const QByteArray old = B("; mine\n\n[Tarnwick]\r\n DefaultURL = x \r\n\0junk\xFF\r\n[B]\rb=1"sv);
    ASSERT_TRUE(writeAll(path(), old));
    ASSERT_TRUE(Profile::writeFile(path(), "Tarnwick", "DefaultURL", "http://n/"));
    EXPECT_EQ(readAll(path()), B("; mine\n\n[Tarnwick]\r\nDefaultURL=http://n/\r\n\0junk\xFF\r\n[B]\rb=1"sv));
}

TEST_F(ProfileFile, WriteIntoAMissingFolderFailsAndCreatesNothing) {
    const QString missing = dir_.filePath("no/such/folder/Tarnwick.ini");
    EXPECT_FALSE(Profile::writeFile(missing, "Tarnwick", "DefaultURL", "http://a/"));
    EXPECT_FALSE(QFileInfo::exists(dir_.filePath("no")));
    EXPECT_TRUE(entriesOf(dir_.path()).isEmpty());
    EXPECT_EQ(Profile::readFile(missing, "Tarnwick", "DefaultURL"), "");
}

TEST_F(ProfileFile, FolderPipeAndEmptyPathAreNoFiles) {
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

TEST_F(ProfileFile, EmptyAndBinaryFiles) {
    ASSERT_TRUE(writeAll(path(), QByteArray()));
    EXPECT_EQ(Profile::readFile(path(), "Tarnwick", "DefaultURL"), "");
    ASSERT_TRUE(Profile::writeFile(path(), "Tarnwick", "DefaultURL", "http://a/"));
    EXPECT_EQ(readAll(path()), "[Tarnwick]\r\nDefaultURL=http://a/\r\n");

    QByteArray binary(4096, Qt::Uninitialized);
    for (int i = 0; i < binary.size(); ++i) binary[i] = char((i * 131 + 7) % 256);
    ASSERT_TRUE(writeAll(path(), binary));
    EXPECT_EQ(Profile::readFile(path(), "Tarnwick", "DefaultURL"), "");
    ASSERT_TRUE(Profile::writeFile(path(), "Tarnwick", "DefaultURL", "http://a/"));
    const QByteArray after = readAll(path());
    EXPECT_TRUE(after.startsWith(binary));
    EXPECT_EQ(Profile::readFile(path(), "Tarnwick", "DefaultURL"), "http://a/");
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

TEST_F(ProfileFile, ReadOnlyFolderLeavesTheFileUnchanged) {
    const QByteArray old = "[Tarnwick]\r\nDefaultURL=http://old/\r\n";
    ASSERT_TRUE(writeAll(path(), old));
    ASSERT_EQ(chmod(QFile::encodeName(path()).constData(), 0666), 0);  // the file itself is writable
    ASSERT_EQ(chmod(QFile::encodeName(dir_.path()).constData(), 0555), 0);
    const QString file = path();
    const int code = runUnprivileged([&] {
        if (Profile::readFile(file, "Tarnwick", "DefaultURL") != "http://old/") return 1;
        if (Profile::writeFile(file, "Tarnwick", "DefaultURL", "http://new/")) return 2;
        WriteIniString("Tarnwick", "DefaultURL", "http://new/", file);  // no report, no harm
        return 0;
    });
    chmod(QFile::encodeName(dir_.path()).constData(), 0700);
    if (code == 90) GTEST_SKIP() << "cannot drop root's right to bypass permissions";
    EXPECT_EQ(code, 0);
    EXPECT_EQ(readAll(path()), old);
    EXPECT_EQ(entriesOf(dir_.path()), QStringList{"Tarnwick.ini"});
}

TEST_F(ProfileFile, UnreadableFileReadsEmptyAndIsNotOverwritten) {
    const QByteArray old = "[Tarnwick]\r\nDefaultURL=http://old/\r\nOther=keep\r\n";
    ASSERT_TRUE(writeAll(path(), old));
    ASSERT_EQ(chmod(QFile::encodeName(path()).constData(), 0222), 0);  // write-only
    ASSERT_EQ(chmod(QFile::encodeName(dir_.path()).constData(), 0777), 0);
    const QString file = path();
    const int code = runUnprivileged([&] {
        if (!ReadIniString("Tarnwick", "DefaultURL", file).isEmpty()) return 1;
        if (Profile::writeFile(file, "Tarnwick", "DefaultURL", "http://new/")) return 2;
        return 0;
    });
    chmod(QFile::encodeName(dir_.path()).constData(), 0700);
    if (code == 90) GTEST_SKIP() << "cannot drop root's right to bypass permissions";
    EXPECT_EQ(code, 0);
    chmod(QFile::encodeName(path()).constData(), 0600);
    EXPECT_EQ(readAll(path()), old);
    EXPECT_EQ(entriesOf(dir_.path()), QStringList{"Tarnwick.ini"});
}

TEST_F(ProfileFile, AFailedWriteLeavesTheOldFileIntact) {
    // The disk "fills up" after 64 bytes: writing the new file fails half-way.
    const QByteArray old = "[Tarnwick]\r\nDefaultURL=http://old/\r\n[Other]\r\nx=1\r\n";
    ASSERT_TRUE(writeAll(path(), old));
    const QString file = path();
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 64;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(90);
        _exit(Profile::writeFile(file, "Tarnwick", "DefaultURL", QString(200, u'n')) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 90) GTEST_SKIP() << "cannot limit the file size";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the write reported success";
    EXPECT_EQ(readAll(path()), old);
    EXPECT_EQ(entriesOf(dir_.path()), QStringList{"Tarnwick.ini"});
}

// ---------------------------------------------------------------------------------------
// Module1's routines over the file

TEST_F(ProfileFile, ReadIniStringAndWriteIniString) {
    const QString file = path();
    EXPECT_EQ(ReadIniString("Tarnwick", "DefaultURL", file), "");
    WriteIniString("Tarnwick", "DefaultURL", "http://start/", file);
    EXPECT_EQ(readAll(file), "[Tarnwick]\r\nDefaultURL=http://start/\r\n");
    EXPECT_EQ(ReadIniString("Tarnwick", "DefaultURL", file), "http://start/");

    // The empty string keeps the key, and reads like a missing one.
    WriteIniString("Tarnwick", "DefaultURL", "", file);
    EXPECT_EQ(readAll(file), "[Tarnwick]\r\nDefaultURL=\r\n");
    EXPECT_EQ(ReadIniString("Tarnwick", "DefaultURL", file), "");

    // 254 characters come back whole, a longer value as its first 254.
    const QString v254 = "http://" + QString(242, u'a') + ".com/";
    ASSERT_EQ(v254.size(), 254);
    WriteIniString("Tarnwick", "DefaultURL", v254, file);
    EXPECT_EQ(ReadIniString("Tarnwick", "DefaultURL", file), v254);
    WriteIniString("Tarnwick", "DefaultURL", v254 + "xyz", file);
    EXPECT_EQ(ReadIniString("Tarnwick", "DefaultURL", file), v254);
    EXPECT_EQ(readAll(file), ("[Tarnwick]\r\nDefaultURL=" + v254 + "xyz\r\n").toLatin1());

    // A missing folder: nothing happens, nothing is reported.
    WriteIniString("Tarnwick", "DefaultURL", "x", dir_.filePath("gone/Tarnwick.ini"));
    EXPECT_FALSE(QFileInfo::exists(dir_.filePath("gone")));
}
