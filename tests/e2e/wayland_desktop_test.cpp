// The program on a wlroots Wayland desktop: a headless sway with Xwayland, native Wayland
// programs (foot, wlwin), an X11 one (xwin through Xwayland) and the built program,
// driven and read from outside (the programs' own reports of close requests, the loopback
// server's request log, the status bar through the accessibility bus, the program's log).

#include <QProcess>

#include "a11y.h"
#include "app_fixture.h"
#include "x_session.h"

namespace {

// The accessibility bus (on the suite's X server, as for the other suites), then the
// compositor: the program and the desktop reader of the fixture find its Xwayland and its
// socket in the environment.
struct SwayFirst {
    SwayFirst() : busStarted(a11y::start()) { sway.exportForClients(); }
    bool busStarted;
    SwaySession sway;
};

// A program making native Wayland windows: wlwin, or foot with a title.
class Native {
public:
    explicit Native(const QString& title, bool foot = false) : foot_(foot) {
        if (foot) {
            process_.start(QStringLiteral("foot"), {QStringLiteral("--title"), title, QStringLiteral("sleep"),
                                                    QStringLiteral("600")});
        } else {
            process_.start(QStringLiteral(TARNWICK_BINARY_DIR "/wlwin"), {QStringLiteral("--title"), title});
            // wlwin prints its window's index once the window has drawn its first frame.
            waitUntil([&] { return process_.canReadLine() || process_.state() == QProcess::NotRunning; }, 15000);
            output_ += process_.readAll();
        }
    }
    ~Native() {
        process_.kill();
        process_.waitForFinished(3000);
    }
    bool shown() { return foot_ || output_.startsWith("0\n"); }
    void retitle(const QString& title) { process_.write("title " + title.toUtf8() + "\n"); }
    // True once the window received a close request and its program ended.
    bool closed(int timeoutMs = 15000) {
        if (process_.state() != QProcess::NotRunning && !process_.waitForFinished(timeoutMs)) return false;
        output_ += process_.readAll();
        return foot_ || output_.contains("closed 0");
    }
    bool running() {
        output_ += process_.readAll();
        return process_.state() == QProcess::Running && !output_.contains("closed");
    }

private:
    QProcess process_;
    QByteArray output_;
    const bool foot_;
};

class WaylandDesktop : protected SwayFirst, public AppTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(sway.ok()) << "headless sway with Xwayland did not start";
        ASSERT_TRUE(busStarted) << "no private accessibility bus";
        AppTest::SetUp();
        app.setEnv(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("tarnwick.wayland.debug=true"));
        for (const char* path : {"/opened", "/popup-closed"}) server.route(QString::fromLatin1(path), "", "text/plain");
        server.route(QStringLiteral("/popup"), page(QStringLiteral("Popup")));
    }

    QString panel() { return a11y::read(app.pid()).statusPanels.value(0); }
    bool waitForPanel(const QString& text) { return waitUntil([&] { return panel() == text; }, 15000, 50); }
};

// A person on sway has a terminal titled like a popup, notes open, X11 programs and the
// program itself, whose page opens a popup as it loads. Going wrong: the terminal stays
// (only X11 windows are seen), an X11 window is counted twice (judged by two walks), a
// window that retitles itself into a popup is left, the notes or the main window are
// closed, or the engine's own popup stays.
TEST_F(WaylandDesktop, NativeAndXWaylandPopupsAreDeniedOnceAndEverythingElseStays) {
    Native terminal(QStringLiteral("Native - Microsoft Internet Explorer"), true);
    Native notes(QStringLiteral("Notes"));
    ASSERT_TRUE(notes.shown()) << "wlwin showed no window";
    startAt(QStringLiteral("/start"), QStringLiteral("Start"),
            QStringLiteral("<script>var w = window.open('/popup', '_blank', 'width=300,height=200');"
                           "fetch(w ? '/opened' : '/blocked');"
                           "var t = setInterval(function () {"
                           "  if (w.closed) { clearInterval(t); fetch('/popup-closed'); } }, 50);</script>"));
    const std::uint32_t mainWindow = app.mainWindow();

    EXPECT_TRUE(terminal.closed()) << "the native terminal titled like a popup stayed";
    EXPECT_TRUE(waitForRequests(QStringLiteral("/opened"), 1)) << "the page opened no popup";
    EXPECT_TRUE(waitForRequests(QStringLiteral("/popup-closed"), 1)) << "the engine's popup stayed";
    EXPECT_TRUE(waitForPanel(QStringLiteral("2 events denied"))) << qPrintable(panel());

    QProcess x11;
    x11.start(QStringLiteral(TARNWICK_BINARY_DIR "/xwin"), {QStringLiteral("--title"), QStringLiteral("X11 - Microsoft Internet Explorer")});
    EXPECT_TRUE(x11.waitForFinished(15000) && x11.readAllStandardOutput().contains("closed "))
        << "the X11 window stayed";
    EXPECT_TRUE(waitForPanel(QStringLiteral("3 events denied"))) << qPrintable(panel());

    // Also the barrier: the draft is closed after everything before it was judged. A
    // window still listed at the next tick is asked again and counted again: each close
    // request the draft got counts once.
    Native draft(QStringLiteral("Draft"));
    ASSERT_TRUE(draft.shown());
    draft.retitle(QStringLiteral("Draft - Microsoft Internet Explorer"));
    EXPECT_TRUE(draft.closed()) << "the window retitled into a popup stayed";
    const auto draftRequests = [&] {
        int requests = 0;
        for (const QByteArray& line : app.log().split('\n'))
            requests += line.contains("close request to toplevel") && line.endsWith("\"Draft - Microsoft Internet Explorer\"");
        return requests;
    };
    EXPECT_TRUE(waitUntil([&] {
        return draftRequests() >= 1 && panel() == QStringLiteral("%1 events denied").arg(3 + draftRequests());
    }, 15000, 50)) << qPrintable(panel()) << " after " << draftRequests() << " close requests to the draft";
    EXPECT_TRUE(notes.running()) << "the notes window was closed";
    ASSERT_TRUE(app.running()) << app.log().right(2000).constData();
    EXPECT_EQ(app.mainTitle(), QStringLiteral("Start - Tarnwick"));
    // The sweep knows the main window among the compositor's toplevels, never as a foreign one.
    EXPECT_TRUE(app.log().contains("is the program's own window " + QByteArray::number(mainWindow) + " "))
        << app.log().right(2000).constData();
    EXPECT_FALSE(app.log().contains("tarnwick: ")) << "a warning on a desktop the sweep can watch";
    // The compositor's close, as its title bar's close box gives it.
    EXPECT_TRUE(runTool(QStringLiteral("swaymsg"), {QStringLiteral("-s"), sway.ipcSocket(),
                                                    QStringLiteral("[pid=%1] kill").arg(app.pid())}));
    expectEndsCleanly();
}

}  // namespace
