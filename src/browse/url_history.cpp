#include "browse/url_history.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QSet>
#include <QStringEncoder>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

// Reading "URL.slx"
//
// The program writes one line per entry: '"' entry '"' CR LF, with quotes inside an
// entry written unchanged. Reading accepts that and anything a hand edit or a foreign
// tool may leave behind:
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
//  - The file is read in pieces, never whole. Reading stops after 32,767 entries.
//  - The first entry read decides: when it is empty, nothing is restored. Later empty
//    entries ("" lines) are restored as empty entries.
//  - A missing file, a file that cannot be opened or read, and anything that is not a
//    regular file (a folder, a pipe, a device) read as an empty file. Bytes that are not
//    valid in the local 8-bit encoding become U+FFFD.
//
// Writing replaces the file atomically: the list is written to a temporary file beside
// "URL.slx", flushed to disk and renamed over it (QSaveFile), so a crash, a kill or a
// full disk leaves either the old or the new file, never a truncated one.

namespace {

// Chromium's longest address, plus the two quotes around it.
constexpr qsizetype kMaxLineBytes = 2 * 1024 * 1024 + 2;
constexpr qsizetype kReadChunk = 256 * 1024;
constexpr qsizetype kWriteChunk = 256 * 1024;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// The entry a line holds, or false when it holds none.
bool lineEntry(QByteArrayView line, QString* entry) {
    const qsizetype first = line.indexOf('"');
    const qsizetype last = first < 0 ? -1 : line.lastIndexOf('"');
    if (first >= 0 && last > first) {
        *entry = QString::fromLocal8Bit(line.sliced(first + 1, last - first - 1));
        return true;
    }
    qsizetype begin = 0;
    qsizetype end = line.size();
    while (begin < end && isBlank(line[begin])) ++begin;
    while (end > begin && isBlank(line[end - 1])) --end;
    if (begin < end && line[begin] == '"') ++begin;
    else if (begin < end && line[end - 1] == '"') --end;
    if (begin == end) return false;
    *entry = QString::fromLocal8Bit(line.sliced(begin, end - begin));
    return true;
}

// Splits a byte stream fed in pieces into entries, following the rules above.
class EntryReader {
public:
    // Returns false once no more entries are wanted.
    bool feed(QByteArrayView data) {
        qsizetype pos = 0;
        const qsizetype size = data.size();
        if (afterCr_ && size > 0) {
            afterCr_ = false;
            if (data[0] == '\n') pos = 1;
        }
        while (pos < size && !done_) {
            const char* start = data.data() + pos;
            const size_t rest = static_cast<size_t>(size - pos);
            const char* lf = static_cast<const char*>(std::memchr(start, '\n', rest));
            const size_t scan = lf ? static_cast<size_t>(lf - start) : rest;
            const char* cr = static_cast<const char*>(std::memchr(start, '\r', scan));
            const char* brk = cr ? cr : lf;
            if (!brk) {
                append(QByteArrayView(start, static_cast<qsizetype>(rest)));
                return !done_;
            }
            const qsizetype len = brk - start;
            if (pending_.isEmpty() && !overlong_) {
                if (len <= kMaxLineBytes) take(QByteArrayView(start, len));
            } else {
                append(QByteArrayView(start, len));
                endLine();
            }
            pos += len + 1;
            if (*brk == '\r') {
                if (pos < size) {
                    if (data[pos] == '\n') ++pos;
                } else {
                    afterCr_ = true;
                }
            }
        }
        return !done_;
    }

    // The end of the input: the text after the last line break is a last line.
    QStringList finish() {
        if (!done_ && (!pending_.isEmpty() || overlong_)) endLine();
        return std::move(entries_);
    }

private:
    void append(QByteArrayView part) {
        if (overlong_) return;
        if (pending_.size() + part.size() > kMaxLineBytes) {
            overlong_ = true;
            pending_ = QByteArray();
            return;
        }
        pending_.append(part);
    }

    void endLine() {
        if (!overlong_) take(pending_);
        overlong_ = false;
        pending_.clear();
    }

    void take(QByteArrayView line) {
        QString entry;
        if (!lineEntry(line, &entry)) return;
        if (!sawEntry_ && entry.isEmpty()) {
            done_ = true;  // an empty first entry restores nothing
            return;
        }
        sawEntry_ = true;
        entries_.append(std::move(entry));
        if (entries_.size() >= UrlHistory::kMaxEntries) done_ = true;
    }

    QStringList entries_;
    QByteArray pending_;    // the start of a line that continues in the next piece
    bool overlong_ = false; // the current line is too long and is being skipped
    bool afterCr_ = false;  // the previous piece ended with CR: a leading LF belongs to it
    bool sawEntry_ = false;
    bool done_ = false;
};

// Encodes the file layout into a reused buffer of a few hundred KiB and hands it on
// piece by piece: no copy of the whole file is ever built. Returns false as soon as
// `flush` does.
template <typename Flush>
bool writeLayout(const QStringList& entries, Flush flush) {
    QStringEncoder encoder(QStringConverter::System);
    QByteArray buffer(kWriteChunk, Qt::Uninitialized);
    char* base = buffer.data();
    char* out = base;
    for (const QString& entry : entries) {
        const qsizetype need = encoder.requiredSpace(entry.size()) + 4;
        if ((out - base) + need > buffer.size()) {
            if (out != base && !flush(base, out - base)) return false;
            if (need > buffer.size()) buffer.resize(need);
            base = buffer.data();
            out = base;
        }
        *out++ = '"';
        out = encoder.appendToBuffer(out, entry);
        *out++ = '"';
        *out++ = '\r';
        *out++ = '\n';
    }
    return out == base || flush(base, out - base);
}

}  // namespace

UrlHistory::UrlHistory(QObject* parent) : QAbstractListModel(parent), collator_(QLocale()) {
    collator_.setCaseSensitivity(Qt::CaseInsensitive);
}

int UrlHistory::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

QVariant UrlHistory::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.parent().isValid() || index.row() < 0 ||
        index.row() >= count() || index.column() != 0)
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole) return entries_.at(index.row());
    return {};
}

int UrlHistory::upperBound(const QString& entry) const {
    const auto it = std::upper_bound(
        entries_.cbegin(), entries_.cend(), entry,
        [this](const QString& a, const QString& b) { return collator_.compare(a, b) < 0; });
    return static_cast<int>(it - entries_.cbegin());
}

int UrlHistory::add(const QString& entry) {
    if (count() >= kMaxEntries) return -1;
    const int pos = upperBound(entry);
    beginInsertRows(QModelIndex(), pos, pos);
    entries_.insert(pos, entry);
    endInsertRows();

    // An entry equal to the new one compares equal to it, so it sits in the run of
    // equal entries just before the new one (which was placed last in that run).
    if (knownUnique_) {
        for (int i = pos - 1; i >= 0 && collator_.compare(entries_.at(i), entry) == 0; --i) {
            if (entries_.at(i) == entry) {
                knownUnique_ = false;
                soleDuplicate_ = pos;
                break;
            }
        }
    } else {
        soleDuplicate_ = -1;  // more than one duplicate may now exist
    }
    return pos;
}

void UrlHistory::addAll(const QStringList& entries) {
    const qsizetype room = std::max<qsizetype>(0, kMaxEntries - entries_.size());
    const qsizetype n = std::min(room, entries.size());
    if (n == 0) return;

    // Adding one by one, each after its equals, is a stable sort of the old entries
    // followed by the new ones. A file the program wrote is in order already: checking
    // that costs one comparison per entry, sorting (with sort keys, which make each
    // comparison cheap but cost one key per entry) several.
    QStringList sorted = entries_;
    sorted.append(entries.mid(0, n));
    bool inOrder = true;
    for (qsizetype i = std::max<qsizetype>(1, entries_.size()); i < sorted.size(); ++i) {
        if (collator_.compare(sorted.at(i - 1), sorted.at(i)) > 0) {
            inOrder = false;
            break;
        }
    }
    if (!inOrder) {
        std::vector<QCollatorSortKey> keys;
        keys.reserve(sorted.size());
        for (const QString& s : std::as_const(sorted)) keys.push_back(collator_.sortKey(s));
        std::vector<int> order(sorted.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [&keys](int a, int b) { return keys[a].compare(keys[b]) < 0; });
        QStringList all = std::move(sorted);
        sorted = QStringList();
        sorted.reserve(all.size());
        for (int i : order) sorted.append(all.at(i));
    }

    beginResetModel();
    entries_ = std::move(sorted);
    endResetModel();
    knownUnique_ = false;
    soleDuplicate_ = -1;
}

void UrlHistory::removeDuplicates() {
    if (knownUnique_) return;
    if (soleDuplicate_ >= 0 && soleDuplicate_ < count()) {
        const int pos = soleDuplicate_;
        beginRemoveRows(QModelIndex(), pos, pos);
        entries_.removeAt(pos);
        endRemoveRows();
    } else {
        // Keep the first of each text, in order: what comparing every entry with every
        // later one and removing the later equal ones leaves.
        QSet<QString> seen;
        seen.reserve(entries_.size());
        QStringList kept;
        kept.reserve(entries_.size());
        for (const QString& s : std::as_const(entries_)) {
            if (!seen.contains(s)) {
                seen.insert(s);
                kept.append(s);
            }
        }
        if (kept.size() != entries_.size()) {
            beginResetModel();
            entries_ = std::move(kept);
            endResetModel();
        }
    }
    knownUnique_ = true;
    soleDuplicate_ = -1;
}

void UrlHistory::clear() {
    beginResetModel();
    entries_.clear();
    endResetModel();
    knownUnique_ = true;
    soleDuplicate_ = -1;
}

QByteArray UrlHistory::serialize(const QStringList& entries) {
    QByteArray bytes;
    writeLayout(entries, [&bytes](const char* data, qsizetype size) {
        bytes.append(data, size);
        return true;
    });
    return bytes;
}

QStringList UrlHistory::parse(const QByteArray& bytes) {
    EntryReader reader;
    reader.feed(bytes);
    return reader.finish();
}

Q_LOGGING_CATEGORY(lcHistory, "tarnwick.history", QtWarningMsg)

bool UrlHistory::save(const QString& path) const {
    // A save replaces nothing but a regular file. A symlink to a regular file is followed
    // (QSaveFile replaces the target and keeps the link); a link to anything else, a
    // pipe, a device or a folder is left alone ("ln -s /dev/null URL.slx" switches the
    // history off), and the save fails quietly.
    const QFileInfo info(path);
    if ((info.exists() || info.isSymLink()) && !info.isFile()) {
        qCDebug(lcHistory) << "not saving over something that is not a regular file:" << path;
        return false;
    }
    // Unbuffered, so that a short write (full disk, file size limit) shows in write()'s
    // result; a buffered QSaveFile flushes in commit() without checking that. commit()
    // syncs the temporary file to disk before renaming it over the old one. The sync is
    // kept: it costs little CPU, only waiting for the disk (about 1 to 5 ms for a full
    // list, bench/history_bench), and without it a power failure could leave an empty
    // file on file systems that do not flush a file renamed over another.
    QSaveFile out(path);
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return false;
    const bool written = writeLayout(entries_, [&out](const char* data, qsizetype size) {
        return out.write(data, size) == size;
    });
    if (!written || out.error() != QFileDevice::NoError) {
        qCDebug(lcHistory) << "history not saved:" << path << out.errorString();
        out.cancelWriting();
        return false;
    }
    if (!out.commit()) {
        qCDebug(lcHistory) << "history not saved:" << path << out.errorString();
        return false;
    }
    return true;
}

QStringList UrlHistory::load(const QString& path) {
    // Only a regular file: opening a pipe would wait for a writer, a device may never end.
    if (!QFileInfo(path).isFile()) return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) return {};
    EntryReader reader;
    QByteArray buffer(kReadChunk, Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(buffer.data(), buffer.size());
        if (got <= 0) break;
        if (!reader.feed(QByteArrayView(buffer.constData(), got))) break;
    }
    return reader.finish();
}
