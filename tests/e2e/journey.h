#pragma once

// What every journey does: the program started under the test session's Xvfb and
// openbox with a private accessibility bus, read through it and the window system, and
// driven with real input.


#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QThread>
#include <QUrl>
#include <csignal>
#include <cstdio>
#include <tuple>
#include <unistd.h>

#include "a11y.h"
#include "app_fixture.h"
#include "platform/ui/looks.h"
#include "proc_tree.h"

class Journey : public AppTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(a11y::start()) << "no private accessibility bus";
        AppTest::SetUp();
        for (const char* path : {"/hovered", "/opened", "/popup-closed"})
            server.route(QString::fromLatin1(path), "", "text/plain");
        server.route(QStringLiteral("/popup"), page(QStringLiteral("Popup")));
    }

    a11y::MainWindowView view() { return a11y::read(app.pid()); }
    // Waits until the status bar's first panel reads `text`.
    bool waitForPanel(int panel, const QString& text, int timeoutMs = 15000) {
        return waitUntil(
            [&] {
                const QStringList panels = view().statusPanels;
                return panels.size() > panel && panels.at(panel) == text;
            },
            timeoutMs, 50);
    }
    QString panels() { return view().statusPanels.join(QStringLiteral(" | ")); }

    // The first accessible node of the program (its pages included) that `match` takes.
    std::optional<a11y::Node> node(const std::function<bool(const a11y::Node&)>& match) {
        for (const a11y::Node& each : a11y::nodes(app.pid()))
            if (match(each)) return each;
        return std::nullopt;
    }
    bool waitForNode(const std::function<bool(const a11y::Node&)>& match, int timeoutMs = 15000) {
        return waitUntil([&] { return node(match).has_value(); }, timeoutMs, 100);
    }
    // What a screen reader hears of the program, for a failure's message.
    std::string spoken() {
        QStringList lines;
        for (const a11y::Node& each : a11y::nodes(app.pid()))
            if (!each.text.isEmpty()) lines << each.role + QStringLiteral(": ") + each.text;
        return lines.join(QLatin1Char('\n')).toStdString();
    }

    // Clicks the `index`th of `count` equally high rows of the program's open popup menu
    // or list.
    void clickMenuRow(int index, int count) {
        std::vector<std::uint32_t> menus;
        ASSERT_TRUE(waitUntil([&] { return !(menus = app.ownMenus()).empty(); }, 10000)) << "no menu or list opened";
        const auto rect = app.desktop().geometry(menus.front());
        ASSERT_TRUE(rect);
        ASSERT_TRUE(app.pointerToScreen(rect->x + rect->width / 2, rect->y + rect->height * (2 * index + 1) / (2 * count)));
        ASSERT_TRUE(app.click(1));
    }

    // The context menu's first item, Launch ... In Default Browser: the program ends and
    // the stand-in browser writes what it got to `record`, read into `opened`.
    void handOff(const QString& record, QByteArray& opened) {
        ASSERT_TRUE(openPageMenu()) << "no context menu";
        clickMenuRow(0, 4);
        expectEndsCleanly();
        EXPECT_TRUE(waitUntil([&] { return !(opened = readFile(record)).isEmpty(); }, 10000))
            << "the stand-in browser was not started";
    }

    // Types `path`'s address into the address box, presses Enter, waits for its caption.
    void go(const QString& path, const QString& title) {
        ASSERT_TRUE(app.enterAddress(server.url(path)));
        ASSERT_TRUE(app.waitForMainTitle(title + QStringLiteral(" - Tarnwick")))
            << "after typing " << qPrintable(path) << " + Enter the caption is " << qPrintable(app.mainTitle());
    }
};
