#include "platform/settings/profile.h"

#include "platform/settings/file_save.h"
#include "platform/system/log.h"

#include <QByteArrayView>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringView>
#include <QtEndian>

#include <string>

namespace Profile {
namespace {

// The file is scanned in its own code units: bytes for a local 8-bit file, UTF-16 code
// units for a UTF-16LE file. Everything the format gives meaning to is ASCII, so both
// are parsed by the same code; only names and values are ever decoded.

inline unsigned unitValue(char c) { return static_cast<unsigned char>(c); }
inline unsigned unitValue(char16_t c) { return c; }

// Names and values keep a leading U+FEFF: the decoder is told not to take it for a
// byte-order mark (the file's own marks are handled before any decoding).
QString decodeLocal(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::System, QStringDecoder::Flag::ConvertInitialBom);
    return decoder(bytes);
}

inline bool isBlank(unsigned u) { return u == ' ' || u == '\t' || u == '\v'; }

struct Span {
    qsizetype begin = 0;
    qsizetype end = 0;
    qsizetype size() const { return end - begin; }
};

enum class Kind { Blank, Comment, Header, Entry };

struct Line {
    qsizetype begin = 0;  // first unit of the line
    qsizetype end = 0;    // the line's end, before its line break
    qsizetype next = 0;   // after the line break (== end on a last line without one)
    Kind kind = Kind::Blank;
    Span name;   // header: the section name; entry: the key (both trimmed)
    Span value;  // entry: the value (trimmed; empty without '=')
};

template <typename Ch>
class Scanner {
public:
    Scanner(const Ch* p, qsizetype n) : p_(p), n_(n) {}

    bool next(Line& line) {
        if (pos_ >= n_) return false;
        line = Line{};
        line.begin = pos_;
        qsizetype i = pos_;
        while (i < n_ && unitValue(p_[i]) != '\r' && unitValue(p_[i]) != '\n') ++i;
        line.end = i;
        if (i < n_) {
            if (unitValue(p_[i]) == '\r' && i + 1 < n_ && unitValue(p_[i + 1]) == '\n')
                i += 2;
            else
                i += 1;
        }
        line.next = pos_ = i;
        classify(line);
        return true;
    }

private:
    Span trimmed(qsizetype b, qsizetype e) const {
        while (b < e && isBlank(unitValue(p_[b]))) ++b;
        while (e > b && isBlank(unitValue(p_[e - 1]))) --e;
        return {b, e};
    }

    qsizetype find(unsigned what, qsizetype b, qsizetype e) const {
        for (qsizetype i = b; i < e; ++i)
            if (unitValue(p_[i]) == what) return i;
        return e;
    }

    void classify(Line& line) const {
        const Span text = trimmed(line.begin, line.end);
        if (text.size() == 0) {
            line.kind = Kind::Blank;
        } else if (unitValue(p_[text.begin]) == '[') {
            line.kind = Kind::Header;
            line.name = trimmed(text.begin + 1, find(']', text.begin + 1, text.end));
        } else if (unitValue(p_[text.begin]) == ';') {
            line.kind = Kind::Comment;
        } else {
            line.kind = Kind::Entry;
            const qsizetype eq = find('=', text.begin, text.end);
            line.name = trimmed(text.begin, eq);
            line.value = eq < text.end ? trimmed(eq + 1, text.end) : Span{text.end, text.end};
        }
    }

    const Ch* p_;
    qsizetype n_;
    qsizetype pos_ = 0;
};

// Case-insensitive comparison of a name in the file with a wanted name. No character
// takes more than 4 bytes or 2 UTF-16 units, so a much longer name is rejected without
// decoding it (a 10 MB line without '=' is one long key).
bool sameName(const char* p, Span s, const QString& want) {
    if (s.size() > 8 * want.size() + 16) return false;
    return decodeLocal(QByteArrayView(p + s.begin, s.size())).compare(want, Qt::CaseInsensitive) == 0;
}

bool sameName(const char16_t* p, Span s, const QString& want) {
    if (s.size() > 8 * want.size() + 16) return false;
    const QStringView name(reinterpret_cast<const QChar*>(p + s.begin), s.size());
    return name.compare(want, Qt::CaseInsensitive) == 0;
}

struct Found {
    bool section = false;
    bool key = false;
    Line keyLine;   // the key's line, when found
    Line lastLine;  // the section's last non-blank line (its header when it has none)
};

template <typename Ch>
Found locate(const Ch* p, qsizetype n, const QString& section, const QString& key) {
    Found found;
    Scanner<Ch> scanner(p, n);
    Line line;
    bool inside = false;
    while (scanner.next(line)) {
        if (line.kind == Kind::Header) {
            if (inside) break;  // only the first matching section counts
            if (sameName(p, line.name, section)) {
                found.section = inside = true;
                found.lastLine = line;
            }
            continue;
        }
        if (!inside || line.kind == Kind::Blank) continue;
        if (line.kind == Kind::Entry && sameName(p, line.name, key)) {
            found.key = true;
            found.keyLine = line;
            break;
        }
        found.lastLine = line;
    }
    return found;
}

// Names as the C interface sees them: up to the first NUL, without surrounding blanks.
QString cleanName(const QString& name) {
    QStringView v(name);
    const qsizetype nul = v.indexOf(QChar(0));
    if (nul >= 0) v = v.first(nul);
    while (!v.isEmpty() && isBlank(v.front().unicode())) v = v.sliced(1);
    while (!v.isEmpty() && isBlank(v.back().unicode())) v.chop(1);
    return v.toString();
}

QString cutAtNul(const QString& s) {
    const qsizetype nul = s.indexOf(QChar(0));
    return nul >= 0 ? s.left(nul) : s;
}

// A value in the local 8-bit encoding as the A function's buffer receives it: up to the
// first NUL, at most `limit` bytes, without a character cut in half (the decoder keeps an
// incomplete sequence at the end to itself).
QString fromBuffer(const char* p, qsizetype n, qsizetype limit) {
    const char* nul = static_cast<const char*>(memchr(p, 0, static_cast<size_t>(n)));
    if (nul) n = nul - p;
    n = qMin(n, limit);
    return decodeLocal(QByteArrayView(p, n));
}

template <typename Ch>
QString valueOf(const Ch* p, Span v, qsizetype limit) {
    if (v.size() >= 2) {
        const unsigned first = unitValue(p[v.begin]);
        if ((first == '"' || first == '\'') && unitValue(p[v.end - 1]) == first) {
            ++v.begin;
            --v.end;
        }
    }
    if constexpr (sizeof(Ch) == 1) {
        return fromBuffer(p + v.begin, v.size(), limit);
    } else {
        // Every character takes at least one byte, so `limit` units are enough.
        const qsizetype n = qMin(v.size(), limit + 1);
        const QByteArray bytes =
            QStringView(reinterpret_cast<const QChar*>(p + v.begin), n).toLocal8Bit();
        return fromBuffer(bytes.constData(), bytes.size(), limit);
    }
}

bool isUtf16(const QByteArray& bytes) {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
           static_cast<unsigned char>(bytes[1]) == 0xFE;
}

// The UTF-16 units of a UTF-16LE file after its mark; an odd last byte is not part of
// any unit.
std::u16string utf16Units(const QByteArray& bytes) {
    const qsizetype n = (bytes.size() - 2) / 2;
    std::u16string units(static_cast<size_t>(n), u'\0');
    const char* src = bytes.constData() + 2;
    for (qsizetype i = 0; i < n; ++i)
        units[static_cast<size_t>(i)] = qFromLittleEndian<quint16>(src + 2 * i);
    return units;
}

QByteArray toUtf16Le(const QString& s) {
    QByteArray out(s.size() * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < s.size(); ++i)
        qToLittleEndian<quint16>(s[i].unicode(), out.data() + 2 * i);
    return out;
}

template <typename Ch>
QByteArray put(const QByteArray& fileBytes, const Ch* p, qsizetype n, qsizetype unitOffset,
               const QString& section, const QString& key, const QString& value) {
    // Offsets in the file's bytes of a position in its units, and new text in its
    // encoding.
    auto at = [&](qsizetype unit) { return unitOffset + unit * qsizetype(sizeof(Ch)); };
    auto encode = [](const QString& s) {
        if constexpr (sizeof(Ch) == 1) return s.toLocal8Bit();
        else return toUtf16Le(s);
    };

    const Found found = locate(p, n, section, key);
    QByteArray out = fileBytes;
    if (found.key) {
        const Line& line = found.keyLine;
        const QByteArray spelling =
            fileBytes.mid(at(line.name.begin), at(line.name.end) - at(line.name.begin));
        out.replace(at(line.begin), at(line.end) - at(line.begin),
                    spelling + encode(QStringLiteral("=") + value));
    } else if (found.section) {
        const Line& last = found.lastLine;
        QString text = key + QLatin1Char('=') + value + QStringLiteral("\r\n");
        if (last.next == last.end) text.prepend(QStringLiteral("\r\n"));
        out.insert(at(last.next), encode(text));
    } else {
        QString text = QLatin1Char('[') + section + QStringLiteral("]\r\n") + key +
                       QLatin1Char('=') + value + QStringLiteral("\r\n");
        const bool endsWithBreak =
            n == 0 || unitValue(p[n - 1]) == '\r' || unitValue(p[n - 1]) == '\n';
        if (!endsWithBreak) text.prepend(QStringLiteral("\r\n"));
        out.insert(at(n), encode(text));
    }
    return out;
}

// Reads at most `cap` bytes of a regular file. `whole` tells whether that was all of it.
bool readCapped(const QString& path, qint64 cap, QByteArray& bytes, bool& whole) {
    bytes.clear();
    whole = false;
    if (!QFileInfo(path).isFile()) return false;  // no folders, pipes or devices
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    constexpr qint64 kChunk = 64 * 1024;
    char chunk[kChunk];
    while (bytes.size() < cap) {
        const qint64 got = file.read(chunk, qMin(kChunk, cap - bytes.size()));
        if (got < 0) return false;
        if (got == 0) {
            whole = true;
            return true;
        }
        bytes.append(chunk, got);
    }
    char probe;
    const qint64 more = file.read(&probe, 1);
    if (more < 0) return false;
    whole = more == 0;
    return true;
}

}  // namespace

QString getString(const QByteArray& fileBytes, const QString& section, const QString& key,
                  int bufferSize) {
    const QString sectionName = cleanName(section);
    const QString keyName = cleanName(key);
    if (sectionName.isEmpty() || keyName.isEmpty() || bufferSize <= 1) return {};
    const qsizetype limit = bufferSize - 1;

    if (isUtf16(fileBytes)) {
        const std::u16string units = utf16Units(fileBytes);
        const Found found = locate(units.data(), qsizetype(units.size()), sectionName, keyName);
        return found.key ? valueOf(units.data(), found.keyLine.value, limit) : QString();
    }
    const Found found = locate(fileBytes.constData(), fileBytes.size(), sectionName, keyName);
    return found.key ? valueOf(fileBytes.constData(), found.keyLine.value, limit) : QString();
}

QByteArray putString(const QByteArray& fileBytes, const QString& section, const QString& key,
                     const QString& value) {
    const QString sectionName = cleanName(section);
    const QString keyName = cleanName(key);
    if (sectionName.isEmpty() || keyName.isEmpty()) return fileBytes;
    const QString text = cutAtNul(value);

    if (isUtf16(fileBytes)) {
        const std::u16string units = utf16Units(fileBytes);
        return put(fileBytes, units.data(), qsizetype(units.size()), 2, sectionName, keyName,
                   text);
    }
    return put(fileBytes, fileBytes.constData(), fileBytes.size(), 0, sectionName, keyName,
               text);
}

QString readFile(const QString& path, const QString& section, const QString& key) {
    QByteArray bytes;
    bool whole = false;
    if (!readCapped(path, kMaxFileBytes, bytes, whole)) {
        if (QFileInfo::exists(path)) qCDebug(lcProfile) << "settings file not read:" << path;
        return {};
    }
    return getString(bytes, section, key);
}

bool writeFile(const QString& path, const QString& section, const QString& key,
               const QString& value) {
    if (cleanName(section).isEmpty() || cleanName(key).isEmpty()) return false;

    QByteArray old;
    if (!FileSave::replaceable(path)) {
        qCDebug(lcProfile) << "not saved: not a regular file nor a link to one:" << path;
        return false;
    }
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink()) {
        // Rewrite only what could be read whole: anything else would lose content.
        bool whole = false;
        if (!readCapped(path, kMaxFileBytes, old, whole) || !whole) {
            qCDebug(lcProfile) << "settings not saved, the file is not a readable regular"
                                  " file of at most" << kMaxFileBytes << "bytes:" << path;
            return false;
        }
    }
    const QByteArray updated = putString(old, section, key, value);

    return FileSave::replace(path, [&updated](const auto& put) {
        return put(updated.constData(), updated.size());
    }, lcProfile());
}

}  // namespace Profile
