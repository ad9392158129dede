#pragma once

// A main window on fakes, with its own program folder and current directory.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

#include "app/frm_main.h"
#include "fakes.h"
#include "wait.h"

class MainWindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(programDir.isValid());
        ASSERT_TRUE(workDir.isValid());
        oldCurrent = QDir::currentPath();
        QDir::setCurrent(workDir.path());
        fake.programFolder = programDir.path();
    }
    void TearDown() override {
        window.reset();
        QDir::setCurrent(oldCurrent);
    }

    frmMain& make() {
        window = std::make_unique<frmMain>(fake.platform());
        return *window;
    }
    FakeBrowser& browser() { return *fake.browser; }

    QString iniPath() const { return programDir.filePath(QStringLiteral("Tarnwick.ini")); }
    QByteArray readFile(const QString& path) const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void writeFile(const QString& path, const QByteArray& bytes) const {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    QByteArray ini() const { return readFile(iniPath()); }
    QByteArray history() const { return readFile(workDir.filePath(QStringLiteral("URL.slx"))); }

    QTemporaryDir programDir;
    QTemporaryDir workDir;
    QString oldCurrent;
    FakePlatform fake;
    std::unique_ptr<frmMain> window;
};
