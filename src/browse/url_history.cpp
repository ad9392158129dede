#include "browse/url_history.h"

#include "browse/history_file.h"
#include "platform/file_save.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <vector>

// Reading "URL.slx" follows the rules of browse/history_file.h; the file is read in
// pieces, never whole. A missing file, a file that cannot be opened or read, and anything
// that is not a regular file (a folder, a pipe, a device) read as an empty file.
//
// Writing replaces the file atomically with the rules of platform/file_save.h: only a regular
// file (or a link to one) is replaced, through a temporary file beside it that is flushed
// and renamed over it, so a crash, a kill or a full disk leaves either the old or the new
// file, never a truncated one.

Q_LOGGING_CATEGORY(lcHistory, "tarnwick.history", QtWarningMsg)

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
        std::stable_sort(sorted.begin(), sorted.end(), less);

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

bool UrlHistory::save(const QString& path) const {
    // The sync before the rename is kept: it costs little CPU, only waiting for the disk
    // (about 1 to 5 ms for a full list, bench/history_bench), and without it a power
    // failure could leave an empty file on file systems that do not flush a file renamed
    // over another.
    return FileSave::replace(path, [this](const auto& put) {
        return HistoryFile::write(entries_, put);
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
    HistoryFile::Reader reader;
    QByteArray buffer(kReadChunk, Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(buffer.data(), buffer.size());
        if (got < 0) qCDebug(lcHistory) << "read stopped:" << path << file.errorString();
        if (got <= 0) break;
        if (!reader.feed(QByteArrayView(buffer.constData(), got))) break;
    }
    return reader.finish();
}
