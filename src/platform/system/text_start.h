#pragma once

#include <QString>
#include <algorithm>

// The first `most` characters of `text`, with "…" in place of the rest when it is longer
// (a surrogate pair is not cut in two): what the program shows of a text whose length
// another program or a page decides.
inline QString textStart(const QString& text, qsizetype most) {
    if (text.size() <= most) return text;
    qsizetype cut = std::max<qsizetype>(most - 1, 0);
    if (cut > 0 && text.at(cut - 1).isHighSurrogate()) --cut;
    return text.left(cut) + QChar(0x2026);
}
