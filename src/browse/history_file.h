#pragma once

// The layout of the history file "URL.slx": one line per entry, in list order,
// '"' entry '"' CR LF, in the local 8-bit encoding.
//
// Reading accepts that and anything a hand edit or a foreign tool may leave behind:
//  - Lines end at CR LF, LF or CR. Text after the last line break is a last line; a
//    line break at the end of the file adds nothing.
//  - A line holding two or more double quotes: the entry is the text between the first
//    and the last of them, so an entry with quotes inside reads back whole. Commas,
//    spaces and quotes between them belong to the entry; text outside them is ignored.
//  - A line with fewer than two quotes (edited by hand): the entry is the line without
//    surrounding blanks (space, tab, VT, FF) and without a lone quote at its start or
//    end. A line that leaves nothing (blank lines) holds no entry and is skipped.
//  - NUL bytes are part of the text and are kept.
//  - A line longer than 2 MiB plus its two quotes cannot hold an address the browser
//    reported (2 MiB is the longest address Chromium accepts); it is skipped without
//    being held in memory, and reading goes on with the next line.
//  - Reading stops after kMaxEntries entries, and after 32 MiB of lines that hold no
//    entry (blank or overlong lines).
//  - An entry whose line, written back, would exceed the limit (bytes that are not valid
//    become U+FFFD, up to 3 bytes each) is skipped too: what is restored is saved and
//    restored again. Writing leaves out such an entry.
//  - A leading U+FEFF is part of an entry like any other character. Bytes that are not
//    valid in the local 8-bit encoding become U+FFFD.
//  - The first entry read decides: when it is empty, nothing is restored. Later empty
//    entries ("" lines) are restored as empty entries.

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>

#include <functional>

#include "platform/settings/file_save.h"

namespace HistoryFile {

// Positions are 16-bit signed on the original platform: the list never holds more.
inline constexpr int kMaxEntries = 32767;

// Splits a byte stream fed in pieces of any size into entries. The pieces may cut a
// line, even a CR LF pair, anywhere; the result is the same as for the bytes in one piece.
class Reader {
public:
    // `restoring`: the first entry decides, as at a start (an empty one gives nothing).
    // Otherwise every entry is read, an empty first one included, as for a merge with a
    // file another program wrote, which must keep whatever the file holds.
    explicit Reader(bool restoring = true) : restoring_(restoring) {}

    // Returns false once no more entries are wanted: the rest of the input can be left
    // unread.
    bool feed(QByteArrayView data);

    // The end of the input: the text after the last line break is a last line. Returns
    // the entries read.
    QStringList finish();

private:
    void append(QByteArrayView part);
    void endLine();
    void idle(qsizetype bytes);
    void take(QByteArrayView line);

    QStringList entries_;
    QByteArray pending_;    // the start of a line that continues in the next piece
    bool overlong_ = false; // the current line is too long and is being skipped
    bool afterCr_ = false;  // the previous piece ended with CR: a leading LF belongs to it
    bool restoring_;
    bool sawEntry_ = false;
    bool done_ = false;
    qsizetype idleBytes_ = 0;  // bytes read that held no entry
};

// The entries of a file's bytes held whole.
QStringList read(QByteArrayView bytes);

// The entries of the file `path`, read in pieces (`restoring`: as Reader's), with what
// was read in `identity`. Only a regular file is read: anything else, a missing file or
// one that cannot be read reads as empty.
QStringList readFile(const QString& path, bool restoring, FileSave::Identity* identity);

// Writes the layout of `entries` through `put` in pieces of a few hundred KiB (no copy
// of the whole file is built). Returns false as soon as `put` does.
bool write(const QStringList& entries, const std::function<bool(const char*, qint64)>& put);

}  // namespace HistoryFile
