#include "browse/url_history.h"

#include "browse/history_file.h"
#include "platform/file_save.h"
#include "platform/log.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
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

// Reading "URL.slx" follows the rules of browse/history_file.h; the file is read in
// pieces, never whole. A missing file, a file that cannot be opened or read, and anything
// that is not a regular file (a folder, a pipe, a device) read as an empty file.
//
// Writing replaces the file atomically with the rules of platform/file_save.h: only a regular
// file (or a link to one) is replaced, through a temporary file beside it that is flushed
// and renamed over it, so a crash, a kill or a full disk leaves either the old or the new
// file, never a truncated one.

namespace {

constexpr qsizetype kReadChunk = 256 * 1024;

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

int UrlHistory::upperBound(const QStringList& list, const QString& entry) const {
    const auto it = std::upper_bound(
        list.cbegin(), list.cend(), entry,
        [this](const QString& a, const QString& b) { return collator_.compare(a, b) < 0; });
    return static_cast<int>(it - list.cbegin());
}

namespace {

// The first of each text, in order: what comparing every entry with every later one and
// removing the later equal ones leaves.
QStringList firstOfEach(const QStringList& list) {
    QSet<QString> seen;
    seen.reserve(list.size());
    QStringList kept;
    kept.reserve(list.size());
    for (const QString& s : list) {
        if (!seen.contains(s)) {
            seen.insert(s);
            kept.append(s);
        }
    }
    return kept;
}

}  // namespace

int UrlHistory::add(const QString& entry) {
    if (count() >= kMaxEntries) return -1;
    const int pos = upperBound(entries_, entry);
    beginInsertRows(QModelIndex(), pos, pos);
    entries_.insert(pos, entry);
    endInsertRows();
    if (added_.isEmpty() || added_.constLast() != entry) added_.append(entry);
    // Saves that never succeed (history switched off with a link to /dev/null) must not
    // let the visits pile up: each text once is all a merge needs.
    if (added_.size() > 2 * kMaxEntries) added_ = firstOfEach(added_);

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

QStringList UrlHistory::sortedAppend(QStringList list, const QStringList& more) const {
    // Adding one by one, each after its equals, is a stable sort of the old entries
    // followed by the new ones, with the comparison add() uses (collator sort keys order
    // some strings differently, e.g. "" against ignorable characters). A file the program
    // wrote is in order already: checking that costs one comparison per entry.
    const qsizetype old = list.size();
    list.append(more);
    const auto less = [this](const QString& a, const QString& b) {
        return collator_.compare(a, b) < 0;
    };
    if (!std::is_sorted(list.cbegin() + std::max<qsizetype>(0, old - 1), list.cend(), less))
        list = stableCollatorSort(collator_, list);
    return list;
}

void UrlHistory::addAll(const QStringList& entries) {
    const qsizetype room = std::max<qsizetype>(0, kMaxEntries - entries_.size());
    const QStringList taken = entries.mid(0, std::min(room, entries.size()));
    if (taken.isEmpty()) return;
    beginResetModel();
    entries_ = sortedAppend(std::move(entries_), taken);
    endResetModel();
    knownUnique_ = false;
    soleDuplicate_ = -1;
    added_.append(taken);
}

void UrlHistory::removeDuplicates() {
    if (knownUnique_) return;
    if (soleDuplicate_ >= 0 && soleDuplicate_ < count()) {
        const int pos = soleDuplicate_;
        beginRemoveRows(QModelIndex(), pos, pos);
        entries_.removeAt(pos);
        endRemoveRows();
    } else {
        QStringList kept = firstOfEach(entries_);
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
    added_.clear();
}

void UrlHistory::restore(const QString& path) {
    FileSave::Identity identity;
    const QStringList entries = read(path, true, &identity);
    const QStringList before = added_;
    addAll(entries);
    added_ = before;  // what the file holds is not new to it
    syncedPath_ = FileSave::target(path);
    synced_ = identity;
}

void UrlHistory::merge(const QString& path, QStringList added) {
    FileSave::Identity identity;
    QStringList merged = firstOfEach(sortedAppend({}, read(path, false, &identity)));
    QSet<QString> present(merged.cbegin(), merged.cend());
    for (const QString& entry : std::as_const(added)) {
        if (merged.size() >= kMaxEntries) break;  // as an add to a full list
        if (present.contains(entry)) continue;
        present.insert(entry);
        merged.insert(upperBound(merged, entry), entry);
    }
    if (merged != entries_) {
        beginResetModel();
        entries_ = std::move(merged);
        endResetModel();
    }
    knownUnique_ = true;
    soleDuplicate_ = -1;
    syncedPath_ = FileSave::target(path);
    synced_ = identity;
}

bool UrlHistory::save(const QString& path) {
    if (!FileSave::replaceable(path)) {  // never written: nothing to merge with either
        qCDebug(lcHistory) << "not saved: not a regular file nor a link to one:" << path;
        return false;
    }
    const FileSave::Lock lock(path, lcHistory());
    if (FileSave::target(path) != syncedPath_) merge(path, entries_);  // a file new to this list
    else if (FileSave::identify(path) != synced_) merge(path, added_);  // another program wrote it
    // The sync before the rename is kept: it costs little CPU, only waiting for the disk
    // (about 1 to 5 ms for a full list, bench/history_bench), and without it a power
    // failure could leave an empty file on file systems that do not flush a file renamed
    // over another.
    const bool saved = FileSave::replace(path, [this](const auto& put) {
        return HistoryFile::write(entries_, put);
    }, lcHistory());
    if (saved) {
        synced_ = FileSave::identify(path);
        added_.clear();
    }
    return saved;
}

bool UrlHistory::removeFile(const QString& path) {
    const FileSave::Lock lock(path, lcHistory());
    QFile file(path);
    const bool removed = !file.exists() || file.remove();
    if (!removed) qCDebug(lcHistory) << "not removed:" << path << file.errorString();
    syncedPath_ = FileSave::target(path);
    synced_ = FileSave::identify(path);
    added_ = entries_;  // none of it is in the file
    return removed;
}

QStringList UrlHistory::load(const QString& path) {
    FileSave::Identity ignored;
    return read(path, true, &ignored);
}

QStringList UrlHistory::read(const QString& path, bool restoring, FileSave::Identity* identity) {
    // Only a regular file: opening a pipe would wait for a writer, a device may never end.
    const QFileInfo info(path);
    if (!info.isFile()) {
        if (info.exists()) qCDebug(lcHistory) << "not read: not a regular file:" << path;
        *identity = FileSave::identify(path);
        return {};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        qCDebug(lcHistory) << "not read:" << path << file.errorString();
        *identity = FileSave::identify(path);
        return {};
    }
    *identity = FileSave::identify(file.handle());  // what is read, whatever replaces it meanwhile
    HistoryFile::Reader reader(restoring);
    QByteArray buffer(kReadChunk, Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(buffer.data(), buffer.size());
        if (got < 0) qCDebug(lcHistory) << "read stopped:" << path << file.errorString();
        if (got <= 0) break;
        if (!reader.feed(QByteArrayView(buffer.constData(), got))) break;
    }
    return reader.finish();
}
