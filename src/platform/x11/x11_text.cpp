#include "platform/x11/x11_text.h"

namespace x11text {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// What one half (GL or GR) of the code table currently holds.
enum class Set { Ascii, Latin1Upper, Unknown, UnknownDouble };

}  // namespace

QString decodeCompoundText(const QByteArray& bytes) {
    const qsizetype n = bytes.size();
    const auto at = [&](qsizetype i) -> unsigned char { return i < n ? static_cast<unsigned char>(bytes[i]) : 0; };

    QString out;
    out.reserve(n);
    Set gl = Set::Ascii;
    Set gr = Set::Latin1Upper;
    qsizetype i = 0;
    while (i < n) {
        const unsigned char b = at(i);
        if (b == 0x1B) {
            // ESC % G: UTF-8 up to ESC % @ (or the end).
            if (at(i + 1) == '%' && at(i + 2) == 'G') {
                const qsizetype start = i + 3;
                qsizetype end = bytes.indexOf("\x1b%@", start);
                if (end < 0) end = n;
                out += QString::fromUtf8(bytes.constData() + start, end - start);
                i = end < n ? end + 3 : n;
                continue;
            }
            // ESC % / F M L name STX data: an extended segment with a length.
            if (at(i + 1) == '%' && at(i + 2) == '/') {
                const qsizetype length = (qsizetype(at(i + 4) & 0x7F) << 7) | (at(i + 5) & 0x7F);
                i += 6 + length;
                out += QChar(kReplacement);
                continue;
            }
            // ESC I... F: designation of a character set (intermediates 0x20-0x2F, final
            // 0x30-0x7E).
            qsizetype j = i + 1;
            QByteArray intermediates;
            while (j < n && at(j) >= 0x20 && at(j) <= 0x2F) intermediates.append(char(at(j++)));
            if (j >= n) break;
            const unsigned char final = at(j);
            i = j + 1;
            if (final < 0x30 || final > 0x7E) continue;
            if (intermediates == "(") {
                gl = (final == 'B' || final == 'J') ? Set::Ascii : Set::Unknown;
            } else if (intermediates == ")") {
                gr = Set::Unknown;
            } else if (intermediates == "-") {
                gr = final == 'A' ? Set::Latin1Upper : Set::Unknown;
            } else if (intermediates.startsWith('$')) {
                if (intermediates.endsWith(')')) gr = Set::UnknownDouble;
                else gl = Set::UnknownDouble;
            }
            continue;
        }
        if (b == 0x9B) {
            // CSI: direction and other control sequences carry no characters.
            qsizetype j = i + 1;
            while (j < n && at(j) >= 0x20 && at(j) <= 0x3F) ++j;
            i = j < n ? j + 1 : n;
            continue;
        }
        if (b < 0x20 || b == 0x7F) {
            out += QChar(b);
            ++i;
            continue;
        }
        if (b >= 0x80 && b < 0xA0) {
            out += QChar(kReplacement);
            ++i;
            continue;
        }
        const Set set = b < 0x80 ? gl : gr;
        switch (set) {
        case Set::Ascii:
            out += QChar(b & 0x7F);
            ++i;
            break;
        case Set::Latin1Upper:
            out += QChar(b | 0x80);
            ++i;
            break;
        case Set::Unknown:
            out += QChar(kReplacement);
            ++i;
            break;
        case Set::UnknownDouble:
            out += QChar(kReplacement);
            i += 2;
            break;
        }
    }
    return out;
}

QString decode(Encoding encoding, const QByteArray& bytes) {
    switch (encoding) {
    case Encoding::Latin1:
        return QString::fromLatin1(bytes);
    case Encoding::Utf8:
        return QString::fromUtf8(bytes);
    case Encoding::CompoundText:
        return decodeCompoundText(bytes);
    }
    return QString();
}

}  // namespace x11text
