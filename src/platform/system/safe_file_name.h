#pragma once

// The name a file from outside is proposed under: a server's download name, a page's
// `download` attribute, a page's title for Save As. Whatever the name holds, the result
// is one plain file name for the folder the program chooses: never a path, never hidden,
// never a device, with nothing in it that a file system refuses or that changes how the
// name reads.

#include <QString>

class QUrl;

namespace safe_name {

// What file systems take in one name, in bytes of UTF-8.
constexpr int kMaxBytes = 255;

// The name for `name` as a server or page gave it. Only its last part counts, after
// either kind of slash; control and bidirectional-override characters and those a file
// system refuses (< > : " | ? *) become "_" or go; dots and blanks are trimmed from both
// ends; a device name of Windows (CON, NUL, COM1, ...) gets a leading "_"; and the whole
// is cut to `maxBytes` keeping its extension. An empty result takes the last part of
// `address`'s path the same way, then "download".
QString fileName(const QString& name, const QUrl& address, int maxBytes = kMaxBytes);

}  // namespace safe_name
