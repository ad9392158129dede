// Journeys: every command from the keyboard and the menus, wherever the focus is.

#include "journey.h"

namespace {

// The window's commands from the keyboard, the menus' and the keys every browser has,
// once with the focus in the address box and once in the page. Going wrong: a key edits
// the box or the page instead (the box's own X11 editing keys claim Ctrl+B, Ctrl+F and
// Ctrl+E; the engine's view takes keys for the page), or the command does nothing.
class JourneyCommands : public Journey, public ::testing::WithParamInterface<bool> {
protected:
    // Puts the keyboard focus where the person would: a click into the box or the page.
    void focus() {
        const bool box = GetParam();
        ASSERT_TRUE(app.activateMain());
        ASSERT_TRUE(app.pointerTo(box ? 120 : 250, box ? app.addressBoxY() : app.pageTop() + 300));
        ASSERT_TRUE(app.click(1));
        ASSERT_TRUE(waitUntil([&] { return view().addressFocused == box; }, 5000)) << "the focus is not where clicked";
    }
    void press(const QString& chord) {
        focus();
        ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("--clearmodifiers"), chord}));
    }
    // A dialog the chord opens, closed again with Escape.
    void pressForDialog(const QString& chord) {
        press(chord);
        const std::uint32_t dialog = app.waitForOwnWindow(QString());
        ASSERT_NE(dialog, 0u) << qPrintable(chord) << " opened no window";
        ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")}));
        ASSERT_TRUE(waitUntil([&] { return app.ownWindows().size() == 1; }, 10000)) << "the dialog stayed";
    }
};

TEST_P(JourneyCommands, EveryCommandKeyWorksWhereverTheFocusIs) {
    app.setEnv(QStringLiteral("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY"), QStringLiteral("1"));
    server.route(QStringLiteral("/a"), page(QStringLiteral("A"), QStringLiteral("<div style=\"height:900px\"></div>")));
    // B reports each change of its zoom (the device pixel ratio follows it) and holds a
    // word three times.
    server.route(QStringLiteral("/b"),
                 page(QStringLiteral("B"), QStringLiteral("<p>needle, needle and needle</p><div style=\"height:900px\"></div>"),
                      QStringLiteral("<script>addEventListener('resize', function () {"
                                     " fetch('/zoom/' + Math.round(devicePixelRatio * 100)); });</script>")));
    server.route(QStringLiteral("/slow"), page(QStringLiteral("Slow")));
    server.setDelay(QStringLiteral("/slow"), 60000);
    startAt(QStringLiteral("/a"), QStringLiteral("A"));
    go(QStringLiteral("/b"), QStringLiteral("B"));

    press(QStringLiteral("ctrl+b"));
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("A - Tarnwick"))) << "Ctrl+B did not go back";
    press(QStringLiteral("ctrl+f"));
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("B - Tarnwick"))) << "Ctrl+F did not go forward";
    press(QStringLiteral("alt+Left"));
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("A - Tarnwick"))) << "Alt+Left did not go back";
    press(QStringLiteral("alt+Right"));
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("B - Tarnwick"))) << "Alt+Right did not go forward";
    for (const QString& chord : {QStringLiteral("ctrl+r"), QStringLiteral("F5"), QStringLiteral("ctrl+F5")}) {
        const int loads = server.requestCount(QStringLiteral("/b"));
        press(chord);
        EXPECT_TRUE(waitForRequests(QStringLiteral("/b"), loads + 1)) << qPrintable(chord) << " did not reload";
        EXPECT_TRUE(waitForPanel(1, QStringLiteral("Idle"))) << qPrintable(panels());
    }
    // The address box takes the keyboard with its text selected: what is typed replaces it.
    for (const QString& chord : {QStringLiteral("ctrl+l"), QStringLiteral("alt+d"), QStringLiteral("F6")}) {
        const int loads = server.requestCount(QStringLiteral("/b"));
        press(chord);
        ASSERT_TRUE(app.type(server.url(QStringLiteral("/b"))));
        ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")}));
        EXPECT_TRUE(waitForRequests(QStringLiteral("/b"), loads + 1)) << qPrintable(chord) << ": " << qPrintable(view().address);
    }

    for (const QString& chord : {QStringLiteral("ctrl+s"), QStringLiteral("Escape")}) {
        const int slow = server.requestCount(QStringLiteral("/slow"));
        ASSERT_TRUE(app.enterAddress(server.url(QStringLiteral("/slow"))));
        ASSERT_TRUE(waitForRequests(QStringLiteral("/slow"), slow + 1));
        ASSERT_TRUE(waitForPanel(1, QStringLiteral("Loading page..."))) << qPrintable(panels());
        press(chord);
        EXPECT_TRUE(waitForPanel(1, QStringLiteral("Idle"), 10000)) << qPrintable(chord) << " did not stop: " << qPrintable(panels());
    }

    // Zoom steps of 10 %, and back to 100 %.
    for (const auto& [chord, zoom, count] : {std::tuple{"ctrl+plus", "/zoom/110", 1}, {"ctrl+0", "/zoom/100", 1},
                                            {"ctrl+minus", "/zoom/90", 1}, {"ctrl+0", "/zoom/100", 2}}) {
        press(QString::fromLatin1(chord));
        EXPECT_TRUE(waitForRequests(QString::fromLatin1(zoom), count, 5000)) << chord << " did not zoom to " << zoom;
    }

    // F11 fills the screen with the main window and gives it back its size.
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    auto mainSize = [&] {
        const auto rect = app.desktop().geometry(app.mainWindow());
        return rect ? QSize(rect->width, rect->height) : QSize();
    };
    const QSize normal = mainSize();
    press(QStringLiteral("F11"));
    EXPECT_TRUE(waitUntil([&] { return mainSize() == screen; }, 5000)) << "F11 left the window at " << mainSize().width();
    press(QStringLiteral("F11"));
    EXPECT_TRUE(waitUntil([&] { return mainSize() == normal; }, 5000)) << "F11 again left it at " << mainSize().width();

    // The find bar: F3 opens it, typing finds, Enter goes on; then, from the box or the
    // page, F3 and Ctrl+G go one match on, Shift+F3 and Ctrl+Shift+G one back. (A click
    // into the page moves the search's start there, so only one click precedes the keys.)
    auto findCount = [&] {
        const auto shown = node([](const a11y::Node& n) {
            return n.parent == QLatin1String("Find in page") && n.text.endsWith(QLatin1String(" of 3"));
        });
        return shown ? shown->text : QString();
    };
    auto findCountBecomes = [&](const QString& text) { return waitUntil([&] { return findCount() == text; }, 5000, 100); };
    press(QStringLiteral("F3"));
    ASSERT_TRUE(app.type(QStringLiteral("needle")));
    EXPECT_TRUE(findCountBecomes(QStringLiteral("1 of 3"))) << spoken();
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")}));
    EXPECT_TRUE(findCountBecomes(QStringLiteral("2 of 3"))) << "Enter: " << spoken();
    press(QStringLiteral("F3"));
    EXPECT_TRUE(waitUntil([&] { return findCount() != QLatin1String("2 of 3"); }, 5000, 100)) << "F3 found nothing further";
    int active = findCount().left(1).toInt();
    for (const auto& [chord, step] : {std::pair{"ctrl+g", 1}, {"shift+F3", -1}, {"ctrl+shift+g", -1}}) {
        active = (active + step + 2) % 3 + 1;
        ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QString::fromLatin1(chord)}));
        EXPECT_TRUE(findCountBecomes(QStringLiteral("%1 of 3").arg(active))) << chord << ": " << qPrintable(findCount());
    }
    const auto field = node([](const a11y::Node& n) { return n.parent == QLatin1String("Find in page") && n.text == QLatin1String("needle"); });
    ASSERT_TRUE(field) << spoken();
    ASSERT_TRUE(app.pointerToScreen(field->screen.center().x(), field->screen.center().y()) && app.click(1));
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")}));
    EXPECT_TRUE(waitForNode([](const a11y::Node& n) { return n.text == QLatin1String("Find in page") && !n.showing; }, 5000))
        << "Esc did not close the find bar";

    pressForDialog(QStringLiteral("ctrl+o"));
    pressForDialog(QStringLiteral("ctrl+p"));
    pressForDialog(QStringLiteral("ctrl+shift+d"));
    press(QStringLiteral("ctrl+e"));
    expectEndsCleanly();
}

// Edit > View Source from the keyboard: a window named after the address shows the markup
// inside the page's root element; the main window keeps its caption; Exit with the source
// window open ends everything. Going wrong: nothing opens, the markup is the engine's
// rendering or wraps the root's own tags, or the program stays.
TEST_F(Journey, ViewSourceShowsThePagesMarkupInAWindowNamedAfterTheAddress) {
    startAt(QStringLiteral("/source"), QStringLiteral("Source"), QStringLiteral("<p id=\"x\">markup &amp; text</p>"));
    // It does nothing until the engine has the page's document, some time after the
    // title: chosen again until the window shows.
    std::uint32_t source = 0;
    for (int attempt = 0; attempt < 5 && source == 0; ++attempt) {
        ASSERT_TRUE(app.key({QStringLiteral("alt+e"), QStringLiteral("v")}));
        source = app.waitForOwnWindow(server.url(QStringLiteral("/source")) + QStringLiteral(" - Tarnwick"), 3000);
    }
    ASSERT_NE(source, 0u) << "no source window";
    QString markup;
    EXPECT_TRUE(waitForNode([&](const a11y::Node& n) {
        if (!n.text.contains(QLatin1String("<p id=\"x\">"))) return false;
        markup = n.text;
        return true;
    })) << spoken();
    EXPECT_TRUE(markup.startsWith(QLatin1String("<head>")) && markup.contains(QLatin1String("<title>Source</title>")))
        << qPrintable(markup);
    EXPECT_TRUE(markup.contains(QLatin1String("<p id=\"x\">markup &amp; text</p>"))) << qPrintable(markup);
    EXPECT_FALSE(markup.contains(QLatin1String("<html"))) << "the root element's own tags are not part of it";
    EXPECT_EQ(app.mainTitle(), QStringLiteral("Source - Tarnwick"));
    EXPECT_TRUE(exitFromMenu());
    expectEndsCleanly();
}

INSTANTIATE_TEST_SUITE_P(FocusIn, JourneyCommands, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("AddressBox") : std::string("Page");
                         });

}  // namespace
