#pragma once

// The URL history: the address box's list of visited addresses, kept in alphabetical
// order (case-insensitive, locale-aware; entries that compare equal keep the order they
// were added in), and its file "URL.slx". The list is a Qt item model so that the
// address box shows it directly.
//
// Several copies of the program may share one file (started from the same folder). Each
// list remembers the file it last read or wrote (its path and FileSave::Identity) and
// what was added to it since. A save takes the file's lock; when the file is still the
// one remembered it is written as it stands, otherwise the list first becomes what the
// file holds now plus what was added here since: entries another copy saved are kept,
// entries another copy cleared (removeFile) stay gone unless visited here again.

#include "browse/history_file.h"
#include "platform/settings/file_save.h"

#include <QAbstractListModel>
#include <QByteArray>
#include <QCollator>
#include <QString>
#include <QStringList>

class UrlHistory : public QAbstractListModel {
    Q_OBJECT
public:
    // Positions are 16-bit signed on the original platform: the list never holds more.
    static constexpr int kMaxEntries = HistoryFile::kMaxEntries;

    explicit UrlHistory(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    const QStringList& entries() const { return entries_; }
    int count() const { return static_cast<int>(entries_.size()); }

    // Adds the entry at its alphabetical place, after every entry that compares equal.
    // Returns its position, or -1 when the list is full (the entry is dropped).
    int add(const QString& entry);

    // Adds many entries in the given order, each at its alphabetical place, up to the
    // limit. Equivalent to calling add() for each, but in one model reset.
    void addAll(const QStringList& entries);

    // Removes every entry that equals (exactly, case-sensitively) an entry at a lower
    // position; the remaining entries keep their relative order.
    void removeDuplicates();

    // Empties the list (the file stays as it is: removeFile deletes it).
    void clear();

    // Adds what `path` holds (as load() reads it) and remembers the file as read.
    void restore(const QString& path);

    // Writes the list to `path` in the layout of browse/history_file.h, replacing the
    // file atomically, under the file's lock. When the file changed since this list last
    // read or wrote it, or this list never did, the list first takes what the file holds
    // now plus what was added here since (one model reset), sorted and duplicate-free,
    // at most kMaxEntries. Returns false when the file could not be written; an existing
    // file is then left as it was.
    bool save(const QString& path);

    // Deletes the file `path` under its lock and remembers that: the next save writes
    // what the list holds then, and merges only that with what another copy writes
    // meanwhile. Returns false when the file is there and could not be deleted.
    bool removeFile(const QString& path);

    // Reads `path` in pieces (browse/history_file.h); a missing or unreadable file gives
    // an empty list.
    static QStringList load(const QString& path);

private:
    // The position in `list` after every entry that compares equal to `entry` or before it.
    int upperBound(const QStringList& list, const QString& entry) const;
    // `list` followed by `more`, each entry of `more` at its place as add() puts it.
    QStringList sortedAppend(QStringList list, const QStringList& more) const;
    // Takes what the file `path` holds now plus `added` as the list (under the lock).
    void merge(const QString& path, QStringList added);

    QStringList entries_;
    // The file last read or written, as FileSave::target names it, and its identity then.
    QString syncedPath_;
    FileSave::Identity synced_;
    // Entries added since (in order, the same entry not twice in a row): what a save
    // adds to a file that changed meanwhile.
    QStringList added_;
    QCollator collator_;
    bool knownUnique_ = true;  // no duplicates are in the list
    // When not knownUnique_: the position of the only entry that equals an earlier one,
    // or -1 when it is not known where the duplicates are.
    int soleDuplicate_ = -1;
};
