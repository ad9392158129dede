#pragma once

// The windows' controls, found by object name as a user's tool would find them.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include "app/frm_main.h"
#include "browse/frm_source.h"
#include "dialogs/frm_about.h"
#include "dialogs/frm_settings.h"
#include "browse/address_box.h"
#include "platform/ui/looks.h"
#include "platform/web_browser.h"

// The application's top-level widgets of type T.
template <typename T>
QList<T*> topLevels() {
    QList<T*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* t = qobject_cast<T*>(w)) found << t;
    return found;
}

// Deletes the windows closed so far (they delete themselves from the event loop, which
// the tests do not run).
inline void deleteClosedWindows() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

// The child of `owner` named `name`; a failed test when there is none.
template <typename T>
T* namedChild(const QObject* owner, const char* name) {
    T* child = owner ? owner->findChild<T*>(QLatin1String(name)) : nullptr;
    EXPECT_NE(child, nullptr) << "no " << name;
    return child;
}

struct MainWindowParts {
    explicit MainWindowParts(const frmMain* w) : owner_(w) {}
    const QObject* owner_;
#define TARNWICK_PART(type, name) type* const name = namedChild<type>(owner_, #name);
    TARNWICK_PART(QComboBox, URL)
    TARNWICK_PART(QStatusBar, StatusBar)
    TARNWICK_PART(QLabel, Panel1)
    TARNWICK_PART(QLabel, Panel2)
    TARNWICK_PART(WebBrowser, Browser)
    TARNWICK_PART(QTimer, tmrEngine)
    TARNWICK_PART(QMenu, mnuFile)
    TARNWICK_PART(QAction, mnuSettings)
    TARNWICK_PART(QAction, mnuAbout)
    TARNWICK_PART(QAction, mnuExit)
    TARNWICK_PART(QMenu, mnuEdit)
    TARNWICK_PART(QAction, mnuSource2)
    TARNWICK_PART(QAction, mnuCopy)
    TARNWICK_PART(QAction, mnuPaste)
    TARNWICK_PART(QMenu, mnuNavigate)
    TARNWICK_PART(QAction, mnuOpen)
    TARNWICK_PART(QAction, mnuBack)
    TARNWICK_PART(QAction, mnuForward)
    TARNWICK_PART(QAction, mnuStop)
    TARNWICK_PART(QAction, mnuRefresh)
    TARNWICK_PART(QMenu, mnuPop)
    TARNWICK_PART(QAction, mnuLaunchIE)
    TARNWICK_PART(QAction, mnuPopRefresh)
    TARNWICK_PART(QAction, mnuPrint)
    TARNWICK_PART(QAction, mnuSaveAs)
};

struct SettingsParts {
    explicit SettingsParts(const frmSettings* d) : owner_(d) {}
    const QObject* owner_;
    TARNWICK_PART(QPushButton, ClearURL)
    TARNWICK_PART(QGroupBox, Frame1)
    TARNWICK_PART(QLineEdit, DefaultURL)
    TARNWICK_PART(QPushButton, cmd2)
    TARNWICK_PART(QPushButton, Command5)
    TARNWICK_PART(QPushButton, cmd1)
    TARNWICK_PART(QPushButton, Command1)
};
#undef TARNWICK_PART

inline MainWindowParts parts(const frmMain& w) { return MainWindowParts(&w); }
inline MainWindowParts parts(const frmMain* w) { return MainWindowParts(w); }
inline SettingsParts parts(const frmSettings* d) { return SettingsParts(d); }
inline QPlainTextEdit* textOf(const frmAbout* a) { return namedChild<QPlainTextEdit>(a, "Text1"); }
inline QPlainTextEdit* textOf(const frmSource* s) { return namedChild<QPlainTextEdit>(s, "txtSource"); }

// A fixed tool window: small caption with a close box, no minimise or maximise button,
// not resizable.
inline void expectFixedToolWindow(QWidget* w, QSize clientPx) {
    EXPECT_EQ(w->windowType(), Qt::Tool);
    EXPECT_TRUE(w->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(w->minimumSize(), clientPx);
    EXPECT_EQ(w->maximumSize(), clientPx);
    EXPECT_EQ(w->size(), clientPx);
    EXPECT_EQ(w->parentWidget(), nullptr);
    EXPECT_FALSE(w->windowIcon().isNull());
}

// The text windows' font as the widget really draws it: Courier New or whatever the
// system substitutes for it (Liberation Mono, its fixed-pitch fallback), at 8.25 points,
// regular. What was asked for does not matter; what is drawn does.
inline void expectTextWindowFont(const QWidget* widget) {
    const QFontInfo used(widget->font());
    const QFontMetrics metrics(widget->font());
    EXPECT_TRUE(used.fixedPitch()) << qPrintable(used.family());
    EXPECT_EQ(metrics.horizontalAdvance(QLatin1Char('i')), metrics.horizontalAdvance(QLatin1Char('M')))
        << qPrintable(used.family());
    EXPECT_NEAR(used.pointSizeF(), 8.25, 0.5) << qPrintable(used.family());
    EXPECT_EQ(used.weight(), QFont::Normal) << qPrintable(used.family());
    EXPECT_FALSE(used.italic() || used.underline() || used.strikeOut());
}
