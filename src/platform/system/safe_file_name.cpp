#include "platform/system/safe_file_name.h"

#include <QRegularExpression>
#include <QUrl>

namespace safe_name {

namespace {

// Characters that change the order in which a name reads (and so what it seems to end
// in) without showing themselves.
bool reordersText(char32_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool refused(char32_t c) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;  // control characters
    switch (c) {
    case '<':
    case '>':
    case ':':
    case '"':
    case '|':
    case '?':
    case '*':
        return true;
    default:
        return false;
    }
}

bool trimmed(QChar c) { return c == QLatin1Char('.') || c.isSpace(); }

QString trim(QString name) {
    qsizetype from = 0, to = name.size();
    while (from < to && trimmed(name.at(from))) ++from;
    while (to > from && trimmed(name.at(to - 1))) --to;
    return name.mid(from, to - from);
}

// The device names of Windows, which stand for a device whatever their extension.
bool isDeviceName(const QString& name) {
    static const QRegularExpression device(QStringLiteral("^(con|prn|aux|nul|clock\\$|com[0-9]|lpt[0-9])$"),
                                           QRegularExpression::CaseInsensitiveOption);
    return device.match(name.section(QLatin1Char('.'), 0, 0).trimmed()).hasMatch();
}

// `text` cut to at most `bytes` bytes of UTF-8, never inside a character.
QString cutTo(const QString& text, int bytes) {
    QString out;
    int used = 0;
    for (const char32_t c : text.toUcs4()) {
        const int size = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        if (used + size > bytes) break;
        used += size;
        out += QString::fromUcs4(&c, 1);
    }
    return out;
}

QString clean(const QString& given, int maxBytes) {
    QString name = given;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    name = name.section(QLatin1Char('/'), -1);
    QString kept;
    for (const char32_t c : name.toUcs4()) {
        if (reordersText(c)) continue;
        kept += refused(c) ? QStringLiteral("_") : QString::fromUcs4(&c, 1);
    }
    name = trim(kept);
    if (name.isEmpty()) return {};
    if (isDeviceName(name)) name.prepend(QLatin1Char('_'));
    if (name.toUtf8().size() <= maxBytes) return name;
    // Too long: the end of the name is cut, its extension (when it is a short one) kept.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    const int extensionBytes = int(extension.toUtf8().size());
    if (extension.isEmpty() || extensionBytes > 32 || extensionBytes >= maxBytes) return trim(cutTo(name, maxBytes));
    const QString base = trim(cutTo(name.left(dot), maxBytes - extensionBytes));
    return base.isEmpty() ? QString() : base + extension;
}

}  // namespace

QString fileName(const QString& name, const QUrl& address, int maxBytes) {
    QString safe = clean(name, maxBytes);
    // A data: address has no name in its path, only its content's type.
    if (safe.isEmpty() && address.scheme() != QLatin1String("data"))
        safe = clean(address.fileName(QUrl::FullyDecoded), maxBytes);
    if (safe.isEmpty()) safe = QStringLiteral("download");
    return safe;
}

}  // namespace safe_name
