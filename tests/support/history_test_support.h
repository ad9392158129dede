#pragma once

// What the history's tests share: files read and written whole, the file layout of a
// list, and a fixture that runs each test under a locale with real (ICU) collation
// rules, whatever the machine's.

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <csignal>
#include <functional>
#include <iostream>
#include <vector>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "platform/settings/profile.h"
#include "browse/history_file.h"
#include "browse/url_history.h"

namespace history_test {

inline QByteArray readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

inline QByteArray layoutOf(const QStringList& entries) {
    QByteArray bytes;
    HistoryFile::write(entries, [&bytes](const char* p, qint64 n) { bytes.append(p, n); return true; });
    return bytes;
}

inline bool writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Removing duplicates exactly as described: for each position i, remove every later

class UrlHistoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = QLocale();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    void TearDown() override { QLocale::setDefault(saved_); }

private:
    QLocale saved_;
};

inline UrlHistory* filled(UrlHistory& h, const QStringList& entries) {
    for (const QString& e : entries) h.add(e);
    return &h;
}

// The file's and the saving's tests run under the same locale.
using HistoryFileTest = UrlHistoryTest;
using FileSaveTest = UrlHistoryTest;

}  // namespace history_test

using namespace history_test;

