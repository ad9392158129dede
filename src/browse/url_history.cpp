#include "browse/url_history.h"

#include "browse/collator_sort.h"
#include "browse/history_file.h"
#include "platform/settings/file_save.h"
#include "platform/system/log.h"

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
// Writing replaces the file atomically with the rules of platform/settings/file_save.h: only a regular
// file (or a link to one) is replaced, through a temporary file beside it that is flushed
// and renamed over it, so a crash, a kill or a full disk leaves either the old or the new
// file, never a truncated one.

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
    const QStringList entries = HistoryFile::readFile(path, true, &identity);
    const QStringList before = added_;
    addAll(entries);
    added_ = before;  // what the file holds is not new to it
    syncedPath_ = FileSave::target(path);
    synced_ = identity;
}

void UrlHistory::merge(const QString& path, QStringList added) {
    FileSave::Identity identity;
    QStringList merged = firstOfEach(sortedAppend({}, HistoryFile::readFile(path, false, &identity)));
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
    return HistoryFile::readFile(path, true, &ignored);
}

