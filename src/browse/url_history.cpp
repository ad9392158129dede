#include "browse/url_history.h"

#include "platform/file_save.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QSet>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>
#include <string>
#include <string_view>
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
//  - The file is read in pieces, never whole. Reading stops after 32,767 entries, and
//    after 32 MiB of lines that hold no entry (blank or overlong lines).
//  - An entry whose line, written back, would exceed the limit (bytes that are not valid
//    become U+FFFD, up to 3 bytes each) is skipped too: what is restored is saved and
//    restored again. Saving leaves out such an entry.
//  - A leading U+FEFF is part of an entry like any other character.
//  - The first entry read decides: when it is empty, nothing is restored. Later empty
//    entries ("" lines) are restored as empty entries.
//  - A missing file, a file that cannot be opened or read, and anything that is not a
//    regular file (a folder, a pipe, a device) read as an empty file. Bytes that are not
//    valid in the local 8-bit encoding become U+FFFD.
//
// Writing replaces the file atomically with the rules of platform/file_save.h: only a regular
// file (or a link to one) is replaced, through a temporary file beside it that is flushed
// and renamed over it, so a crash, a kill or a full disk leaves either the old or the new
// file, never a truncated one.

Q_LOGGING_CATEGORY(lcHistory, "tarnwick.history", QtWarningMsg)

namespace {

// Chromium's longest address, plus the two quotes around it.
constexpr qsizetype kMaxLineBytes = 2 * 1024 * 1024 + 2;
// Bytes that hold no entry (blank lines, overlong lines) are read up to this much, each
// line counting kIdleLineCost more for its own handling; then reading stops. A file the
// program wrote has none, and a huge file of line breaks or zeros would otherwise keep
// the window away for seconds (1 GiB of line breaks: 12 s).
constexpr qsizetype kMaxIdleBytes = 32 * 1024 * 1024;
constexpr qsizetype kIdleLineCost = 16;
constexpr qsizetype kReadChunk = 256 * 1024;
constexpr qsizetype kWriteChunk = 256 * 1024;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// The text of an entry's bytes. A leading U+FEFF is part of the entry, not a byte-order
// mark: the decoder is told to keep it.
QString decode(QByteArrayView bytes) {
    QStringDecoder decoder(QStringConverter::System, QStringConverter::Flag::ConvertInitialBom);
    return decoder(bytes);
}

// Whether an entry's line, as written, stays within the line limit. Reading and writing
// both apply it, so what is written reads back: a line of invalid bytes reads as U+FFFD
// characters, which take up to 3 bytes each when written.
bool fitsLine(QByteArrayView raw, const QString& entry) {
    if (3 * raw.size() + 2 <= kMaxLineBytes) return true;  // no encoding grows more
    QStringEncoder encoder(QStringConverter::System);
    return encoder.requiredSpace(entry.size()) + 2 <= kMaxLineBytes ||
           QByteArray(encoder(entry)).size() + 2 <= kMaxLineBytes;
}

// The entry a line holds, or false when it holds none.
bool lineEntry(QByteArrayView line, QString* entry) {
    const qsizetype first = line.indexOf('"');
    const qsizetype last = first < 0 ? -1 : line.lastIndexOf('"');
    if (first >= 0 && last > first) {
        const QByteArrayView raw = line.sliced(first + 1, last - first - 1);
        *entry = decode(raw);
        return fitsLine(raw, *entry);
    }
    qsizetype begin = 0;
    qsizetype end = line.size();
    while (begin < end && isBlank(line[begin])) ++begin;
    while (end > begin && isBlank(line[end - 1])) --end;
    if (begin < end && line[begin] == '"') ++begin;
    else if (begin < end && line[end - 1] == '"') --end;
    if (begin == end) return false;
    const QByteArrayView raw = line.sliced(begin, end - begin);
    *entry = decode(raw);
    return fitsLine(raw, *entry);
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
                else idle(len);
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
        if (overlong_) {
            idle(part.size());
            return;
        }
        if (pending_.size() + part.size() > kMaxLineBytes) {
            overlong_ = true;
            idle(pending_.size() + part.size());
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

    void idle(qsizetype bytes) {
        idleBytes_ += bytes + kIdleLineCost;
        if (idleBytes_ > kMaxIdleBytes) done_ = true;
    }

    void take(QByteArrayView line) {
        QString entry;
        if (!lineEntry(line, &entry)) {
            idle(line.size());
            return;
        }
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
    qsizetype idleBytes_ = 0;  // bytes read that held no entry
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
        char* const line = out;
        *out++ = '"';
        out = encoder.appendToBuffer(out, entry);
        *out++ = '"';
        if (out - line > kMaxLineBytes) {  // would not read back: leave it out
            out = line;
            continue;
        }
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

namespace {

// Asks the processor to bring `address` into its cache ahead of use.
inline void prefetch(const void* address) {
#if defined(__GNUC__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}

// `items` in the list's order, as std::stable_sort with the collator's comparison gives
// it (entries that compare equal stay in the order given), in far fewer comparisons.
//
// A sort needs n·log2(n) comparisons (half a million for a full list) of 0.1 to 0.2 µs
// each. Entries made only of printable ASCII characters (addresses mostly are) are first
// ordered by a cheap guess instead: each character replaced by its rank among the
// printable ASCII characters as the collator orders them one by one, the ranks compared
// byte by byte. The guess is kept only when the collator confirms it, one comparison per
// neighbouring pair: each pair in order, and a pair that compares equal in the order
// given. A sequence that passes is the stable sort itself (entries that compare equal
// form one run, in the order given), so the result never depends on the guess. Where it
// is wrong (a locale that sorts two letters as one, as Czech does "ch"), those entries
// are sorted with the collator's comparison instead, as are the other entries; the two
// parts are then merged with it, equal entries again in the order given.
QStringList stableCollatorSort(const QCollator& collator, const QStringList& items) {
    const auto compare = [&](qsizetype a, qsizetype b) { return collator.compare(items.at(a), items.at(b)); };
    const auto less = [&](qsizetype a, qsizetype b) { return compare(a, b) < 0; };
    const auto inOrder = [&](qsizetype a, qsizetype b) {  // a goes before b
        const int c = compare(a, b);
        return c < 0 || (c == 0 && a < b);
    };

    constexpr char16_t kFirst = 0x20, kEnd = 0x7f;  // the printable ASCII characters
    std::array<char16_t, kEnd - kFirst> printable;
    std::iota(printable.begin(), printable.end(), kFirst);
    const auto charLess = [&](char16_t a, char16_t b) {
        return collator.compare(QStringView(&a, 1), QStringView(&b, 1)) < 0;
    };
    std::stable_sort(printable.begin(), printable.end(), charLess);
    std::array<char, kEnd> rank{};
    char next = 0;
    for (std::size_t i = 0; i < printable.size(); ++i) {
        if (i == 0 || charLess(printable[i - 1], printable[i])) ++next;
        rank[printable[i]] = next;
    }

    // The guesses' keys, one after the other in `ranks`. All keys of a history begin alike
    // ("http"); `head` holds the 8 bytes after what they share, so that most comparisons
    // of the guess are one integer comparison.
    struct Guess {
        quint64 head;
        std::size_t start;  // in `ranks`, after the shared beginning
        std::size_t length;
        qsizetype index;    // in `items`
    };
    std::vector<Guess> guesses;
    guesses.reserve(static_cast<std::size_t>(items.size()));
    std::vector<qsizetype> other;  // positions in `items` of the other entries
    std::string ranks;
    std::size_t total = 0;
    for (const QString& item : items) total += static_cast<std::size_t>(item.size());
    ranks.resize(total);
    std::size_t used = 0;
    for (qsizetype i = 0; i < items.size(); ++i) {
        const QString& item = items.at(i);
        std::size_t k = 0;
        for (const QChar c : item) {
            if (c.unicode() < kFirst || c.unicode() >= kEnd) break;
            ranks[used + k++] = rank[c.unicode()];
        }
        if (k < static_cast<std::size_t>(item.size())) {
            other.push_back(i);
            continue;
        }
        guesses.push_back({0, used, k, i});
        used += k;
    }
    std::size_t shared = guesses.empty() ? 0 : guesses.front().length;
    for (const Guess& g : guesses) {
        const std::string_view first(ranks.data() + guesses.front().start, shared);
        const std::string_view mine(ranks.data() + g.start, g.length);
        shared = static_cast<std::size_t>(std::mismatch(first.begin(), first.end(), mine.begin(), mine.end()).first -
                                          first.begin());
    }
    for (Guess& g : guesses) {
        g.start += shared;
        g.length -= shared;
        unsigned char head[8] = {};  // ranks are never 0: a shorter key sorts first
        std::memcpy(head, ranks.data() + g.start, std::min<std::size_t>(g.length, sizeof head));
        g.head = qFromBigEndian<quint64>(head);
    }
    std::stable_sort(guesses.begin(), guesses.end(), [&](const Guess& a, const Guess& b) {
        if (a.head != b.head) return a.head < b.head;
        if (a.length <= 8 || b.length <= 8) return a.length < b.length;
        return std::string_view(ranks.data() + a.start + 8, a.length - 8) <
               std::string_view(ranks.data() + b.start + 8, b.length - 8);
    });

    // The entries lie in memory in the order given: fetching them ahead keeps the
    // collator's checks from waiting on memory.
    QStringList sorted;
    sorted.reserve(items.size());
    bool confirmed = true;
    for (std::size_t i = 0; i < guesses.size(); ++i) {
        if (i + 24 < guesses.size()) prefetch(&items.at(guesses[i + 24].index));
        if (i + 8 < guesses.size()) {
            const QChar* text = items.at(guesses[i + 8].index).constData();
            prefetch(text);
            prefetch(text + 32);
        }
        sorted.append(items.at(guesses[i].index));
        if (i > 0 && confirmed) confirmed = inOrder(guesses[i - 1].index, guesses[i].index);
    }
    if (confirmed && other.empty()) return sorted;

    std::vector<qsizetype> ascii;
    ascii.reserve(guesses.size());
    for (const Guess& g : guesses) ascii.push_back(g.index);
    if (!confirmed) {
        std::sort(ascii.begin(), ascii.end());
        std::stable_sort(ascii.begin(), ascii.end(), less);
    }
    std::stable_sort(other.begin(), other.end(), less);
    sorted.clear();
    auto a = ascii.cbegin();
    auto o = other.cbegin();
    while (a != ascii.cend() || o != other.cend()) {
        const bool takeOther = a == ascii.cend() || (o != other.cend() && inOrder(*o, *a));
        sorted.append(items.at(takeOther ? *o++ : *a++));
    }
    return sorted;
}

}  // namespace

void UrlHistory::addAll(const QStringList& entries) {
    const qsizetype room = std::max<qsizetype>(0, kMaxEntries - entries_.size());
    const qsizetype n = std::min(room, entries.size());
    if (n == 0) return;

    // Adding one by one, each after its equals, is a stable sort of the old entries
    // followed by the new ones, with the comparison add() uses (collator sort keys order
    // some strings differently, e.g. "" against ignorable characters). A file the program
    // wrote is in order already: checking that costs one comparison per entry.
    QStringList sorted = entries_;
    sorted.append(entries.mid(0, n));
    const auto less = [this](const QString& a, const QString& b) {
        return collator_.compare(a, b) < 0;
    };
    if (!std::is_sorted(sorted.cbegin() + std::max<qsizetype>(0, entries_.size() - 1),
                        sorted.cend(), less))
        sorted = stableCollatorSort(collator_, sorted);

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

bool UrlHistory::save(const QString& path) const {
    // The sync before the rename is kept: it costs little CPU, only waiting for the disk
    // (about 1 to 5 ms for a full list, bench/history_bench), and without it a power
    // failure could leave an empty file on file systems that do not flush a file renamed
    // over another.
    return FileSave::replace(path, [this](const auto& put) {
        return writeLayout(entries_, [&put](const char* data, qsizetype size) {
            return put(data, size);
        });
    }, lcHistory());
}

QStringList UrlHistory::load(const QString& path) {
    // Only a regular file: opening a pipe would wait for a writer, a device may never end.
    const QFileInfo info(path);
    if (!info.isFile()) {
        if (info.exists()) qCDebug(lcHistory) << "not read: not a regular file:" << path;
        return {};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        qCDebug(lcHistory) << "not read:" << path << file.errorString();
        return {};
    }
    EntryReader reader;
    QByteArray buffer(kReadChunk, Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(buffer.data(), buffer.size());
        if (got < 0) qCDebug(lcHistory) << "read stopped:" << path << file.errorString();
        if (got <= 0) break;
        if (!reader.feed(QByteArrayView(buffer.constData(), got))) break;
    }
    return reader.finish();
}
