// libFuzzer target for the settings file's reader and writer (platform/settings/profile.h).
//
// The input is a small header (section, key and value to write, a buffer size) and then
// the file's bytes. Checked for each input:
//  - every section/key pair named in the file reads as a plain line-by-line reading of
//    the format's rules gives it (with the default buffer and the drawn one);
//  - writing one key: the key then reads back as written (trimmed, one pair of quotes
//    off, cut to the buffer), every other pair reads as before, and the same write a
//    second time changes no byte. These hold for names and values a person can enter
//    (one line; no ']' in a section name, no '=' in a key, a key not starting with '['
//    or ';'); other names only must not crash or hang.
// A difference aborts, so libFuzzer keeps the input.

#include "platform/settings/profile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringDecoder>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

[[noreturn]] void fail(const char* what, const QString& section, const QString& key) {
    std::fprintf(stderr, "profile_fuzz: %s [%s] %s\n", what, qPrintable(section), qPrintable(key));
    std::abort();
}

bool isBlank(QChar c) { return c == u' ' || c == u'\t' || c == u'\v'; }

QString trimmed(QStringView s) {
    while (!s.isEmpty() && isBlank(s.front())) s = s.sliced(1);
    while (!s.isEmpty() && isBlank(s.back())) s.chop(1);
    return s.toString();
}

// Local 8-bit text; a leading U+FEFF stays, an incomplete last character is dropped.
QString decode(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::System, QStringDecoder::Flag::ConvertInitialBom);
    return decoder(bytes);
}

// One line of the file, its parts decoded on their own (as a reader of the file's own
// code units does).
struct RefLine {
    enum Kind { Blank, Comment, Header, Entry } kind = Blank;
    QString name;
    QByteArray value;  // the value, trimmed, quotes still on, in the local 8-bit encoding
};

// The lines of a file read straight from the rules, in the file's code units: bytes, or
// UTF-16 units after an FF FE mark (an odd last byte belongs to no unit).
std::vector<RefLine> refLines(const QByteArray& file) {
    const bool wide = file.size() >= 2 && uchar(file[0]) == 0xFF && uchar(file[1]) == 0xFE;
    QString units;  // for a wide file
    if (wide)
        for (qsizetype i = 2; i + 1 < file.size(); i += 2)
            units.append(QChar(char16_t(uchar(file[i]) | (uchar(file[i + 1]) << 8))));
    const qsizetype n = wide ? units.size() : file.size();
    auto unit = [&](qsizetype i) { return wide ? units[i] : QChar(char16_t(uchar(file[i]))); };
    auto bytes = [&](qsizetype b, qsizetype e) {
        return wide ? units.mid(b, e - b).toLocal8Bit() : file.mid(b, e - b);
    };
    // Blanks are trimmed in units, then the part is decoded: blanks are ASCII in both.
    auto part = [&](qsizetype b, qsizetype e) {
        while (b < e && isBlank(unit(b))) ++b;
        while (e > b && isBlank(unit(e - 1))) --e;
        return std::pair(b, e);
    };
    auto name = [&](std::pair<qsizetype, qsizetype> p) {
        return wide ? units.mid(p.first, p.second - p.first) : decode(bytes(p.first, p.second));
    };

    std::vector<RefLine> lines;
    qsizetype pos = 0;
    while (pos < n) {
        qsizetype end = pos;
        while (end < n && unit(end) != u'\r' && unit(end) != u'\n') ++end;
        qsizetype b = pos, e = end;
        while (b < e && isBlank(unit(b))) ++b;
        while (e > b && isBlank(unit(e - 1))) --e;
        RefLine line;
        if (b == e) {
            line.kind = RefLine::Blank;
        } else if (unit(b) == u'[') {
            line.kind = RefLine::Header;
            qsizetype close = b + 1;
            while (close < e && unit(close) != u']') ++close;
            line.name = name(part(b + 1, close));
        } else if (unit(b) == u';') {
            line.kind = RefLine::Comment;
        } else {
            line.kind = RefLine::Entry;
            qsizetype eq = b;
            while (eq < e && unit(eq) != u'=') ++eq;
            line.name = name(part(b, eq));
            if (eq < e) {
                const auto v = part(eq + 1, e);
                line.value = bytes(v.first, v.second);
            }
        }
        lines.push_back(line);
        pos = end;
        if (pos < n) pos += (unit(pos) == u'\r' && pos + 1 < n && unit(pos + 1) == u'\n') ? 2 : 1;
    }
    return lines;
}

// A wanted name as the C interface passes it: up to its first NUL, without blanks.
QString cleanName(const QString& name) {
    const qsizetype nul = name.indexOf(QChar(0));
    return trimmed(nul >= 0 ? QStringView(name).first(nul) : QStringView(name));
}

// What a buffer of `bufferSize` receives for a stored value (local 8-bit bytes).
QString asRead(const QByteArray& stored, int bufferSize) {
    QByteArray bytes = stored;
    if (bytes.size() >= 2 && (bytes.front() == '"' || bytes.front() == '\'') &&
        bytes.back() == bytes.front())
        bytes = bytes.mid(1, bytes.size() - 2);
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0) bytes.truncate(nul);
    bytes.truncate(qMin<qsizetype>(bytes.size(), bufferSize - 1));
    return decode(bytes);
}

QString refGet(const std::vector<RefLine>& lines, const QString& section, const QString& key,
               int bufferSize) {
    const QString s = cleanName(section), k = cleanName(key);
    if (s.isEmpty() || k.isEmpty() || bufferSize <= 1) return {};
    bool inside = false;
    for (const RefLine& line : lines) {
        if (line.kind == RefLine::Header) {
            if (inside) return {};
            inside = line.name.compare(s, Qt::CaseInsensitive) == 0;
        } else if (inside && line.kind == RefLine::Entry &&
                   line.name.compare(k, Qt::CaseInsensitive) == 0) {
            return asRead(line.value, bufferSize);
        }
    }
    return {};
}

bool sameName(const QString& a, const QString& b) {
    return cleanName(a).compare(cleanName(b), Qt::CaseInsensitive) == 0;
}

bool oneLine(const QString& s) {
    return !s.contains(u'\r') && !s.contains(u'\n') && !s.contains(QChar(0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const QString section = QString::fromStdString(in.ConsumeRandomLengthString(24));
    const QString key = QString::fromStdString(in.ConsumeRandomLengthString(24));
    const QString value = QString::fromStdString(in.ConsumeRandomLengthString(300));
    const int bufferSize = in.ConsumeIntegralInRange(0, 300);
    const std::string rest = in.ConsumeRemainingBytesAsString();
    const QByteArray file(rest.data(), static_cast<qsizetype>(rest.size()));

    // Every pair named in the file, and the pair to write.
    const std::vector<RefLine> lines = refLines(file);
    QStringList sections = {section}, keys = {key};
    for (const RefLine& line : lines) {
        if (line.kind == RefLine::Header && sections.size() < 12) sections << line.name;
        if (line.kind == RefLine::Entry && keys.size() < 24) keys << line.name;
    }
    for (const QString& s : sections)
        for (const QString& k : keys) {
            if (Profile::getString(file, s, k) != refGet(lines, s, k, 255))
                fail("read differs", s, k);
            if (Profile::getString(file, s, k, bufferSize) != refGet(lines, s, k, bufferSize))
                fail("read with a small buffer differs", s, k);
        }

    const QByteArray written = Profile::putString(file, section, key, value);
    if (cleanName(section).isEmpty() || cleanName(key).isEmpty()) {
        if (written != file) fail("a write without a name changed the file", section, key);
        return 0;
    }
    const QString k = cleanName(key);
    const bool enterable = oneLine(section) && oneLine(key) && oneLine(value) &&
                           !section.contains(u']') && !k.contains(u'=') &&
                           !k.startsWith(u'[') && !k.startsWith(u';');
    if (!enterable) return 0;

    if (Profile::getString(written, section, key, bufferSize) != asRead(trimmed(value).toLocal8Bit(), bufferSize))
        fail("the written value does not read back", section, key);
    for (const QString& s : sections)
        for (const QString& other : keys) {
            if (sameName(s, section) && sameName(other, key)) continue;
            if (Profile::getString(written, s, other) != Profile::getString(file, s, other))
                fail("a write changed another key", s, other);
        }
    if (Profile::putString(written, section, key, value) != written)
        fail("the same write twice changed the file", section, key);
    return 0;
}
