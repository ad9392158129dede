#pragma once

// The URL history: the address box's list of visited addresses, kept in alphabetical
// order (case-insensitive, locale-aware; entries that compare equal keep the order they
// were added in), and its file "URL.slx". The list is a Qt item model so that the
// address box shows it directly.

#include "browse/history_file.h"

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

    void clear();

    // Writes the whole list to `path` in the layout of browse/history_file.h, replacing
    // the file atomically. Returns false when the file could not be written; an existing
    // file is then left as it was.
    bool save(const QString& path) const;

    // Reads `path` in pieces (browse/history_file.h); a missing or unreadable file gives
    // an empty list.
    static QStringList load(const QString& path);

private:
    // The position after every entry that compares equal to `entry` or before it.
    int upperBound(const QString& entry) const;

    QStringList entries_;
    QCollator collator_;
    bool knownUnique_ = true;  // no duplicates are in the list
    // When not knownUnique_: the position of the only entry that equals an earlier one,
    // or -1 when it is not known where the duplicates are.
    int soleDuplicate_ = -1;
};
