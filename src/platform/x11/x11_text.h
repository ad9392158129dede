#pragma once

// Window titles as X11 stores them: the bytes of a text property and its type.

#include <QByteArray>
#include <QString>

namespace x11text {

enum class Encoding { Latin1, Utf8, CompoundText };

// Decodes property bytes. Invalid UTF-8 and character sets we do not know become
// replacement characters; nothing is ever dropped silently or crashes.
QString decode(Encoding encoding, const QByteArray& bytes);

// COMPOUND_TEXT (ISO 2022 subset used by X11): ASCII and Latin-1 halves, UTF-8 segments
// (ESC % G ... ESC % @); other character sets give one replacement character per
// character.
QString decodeCompoundText(const QByteArray& bytes);

}  // namespace x11text
