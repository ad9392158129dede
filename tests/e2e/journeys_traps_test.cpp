// Journeys: pages that fight back with dialogs, full screen, loops, their own history
// and their leaving handlers.

#include "journey.h"

namespace {

// ---------------------------------------------------------------------------------
// Pages that fight back with dialogs and full screen: what a page asks for without the
// person's own click or key in it is refused and counted; leaving works at once.

class JourneyTraps : public Journey {
protected:
    // Panel 1's count.
    int deniedCount() { return view().statusPanels.value(0).section(QLatin1Char(' '), 0, 0).toInt(); }
    bool waitForDenied(int atLeast, int timeoutMs = 15000) {
        return waitUntil([&] { return deniedCount() >= atLeast; }, timeoutMs, 50);
    }
    // The server's host and port, as the program names the site that asks.
    QString site() { return server.url(QString()).section(QLatin1Char('/'), 2, 2); }
    // A page's dialog showing in the program, with these words.
    bool waitForPageDialog(const QString& message, int timeoutMs = 10000) {
        const QString asker = site() + QStringLiteral(" says");
        return waitUntil(
            [&] {
                const QStringList labels = view().labels;
                return labels.contains(asker) && labels.contains(message);
            },
            timeoutMs, 50);
    }
    bool clickPage() { return app.activateMain() && app.pointerTo(250, app.pageTop() + 200) && app.click(1); }
    // The person types the address of `path` into the address box and presses Enter,
    // without selecting anything: a click brings the keyboard into the box when it is
    // elsewhere, and the box's whole text is to be selected then, as it is after a title
    // event while the box has the keyboard. Returns the ms from Enter to the caption of
    // `title`, or -1.
    qint64 typeAddress(const QString& path, const QString& title) {
        if (!app.activateMain()) return -1;
        if (!view().addressFocused && (!app.pointerTo(120, app.addressBoxY()) || !app.click(1))) return -1;
        if (!app.type(server.url(path))) return -1;
        return timed(QStringLiteral("Return"), [&] { return app.waitForMainTitle(title + QStringLiteral(" - Tarnwick")); });
    }
    // Presses `chord` and returns the ms until `done` holds, or -1.
    qint64 timed(const QString& chord, const std::function<bool()>& done) {
        QElapsedTimer clock;
        clock.start();
        if (!runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("--clearmodifiers"), chord}) ||
            !done())
            return -1;
        return clock.elapsed();
    }
    static void report(const char* what, qint64 ms) { std::printf("time to get out, %s: %lld ms\n", what, ms); }
    // The person ends the program with `chords` (Alt+F4; Alt+F, Up, Return for File >
    // Exit): it ends by itself with status 0, and no window but the main one shows meanwhile.
    void endWith(const QStringList& chords) {
        std::size_t most = 0;
        ASSERT_TRUE(app.activateMain());
        QElapsedTimer clock;
        clock.start();
        ASSERT_TRUE(runTool(QStringLiteral("xdotool"),
                            QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60")} + chords));
        waitUntil([&] { return (most = std::max(most, app.ownWindows().size())) > 1 || !app.running(); }, 10000, 10);
        report(qPrintable(chords.join(QLatin1Char(' '))), clock.elapsed());
        EXPECT_LE(most, 1u) << "a window showed while the program ended";
        expectEndsCleanly();
    }
};

// A page asks with dialogs: alerts from a timer, a prompt and 500 confirms in a row in
// answer to clicks, a question whether to leave. Going wrong: a box pops up that the
// person did not ask for, a box holds the whole program, the next box comes at every
// Esc, the typed address goes into the page's prompt or gets the old address glued in
// front of it, the count misses a refused box, or the page refuses to be left (Alt+F4,
// its prompt open, does not end the program at once). First a site behind a login whose
// realm is a scam's message: the program's login dialog must not show the site's words.
TEST_F(JourneyTraps, PageDialogsShowOnlyForThePersonsClickAndNeverHoldTheProgram) {
    server.route(QStringLiteral("/vault"), page(QStringLiteral("Vault")));
    server.requireLogin(QStringLiteral("/vault"), "Windows Defender: your PC is locked, call 0800 555 0199 now", "ann",
                        "x", page(QStringLiteral("Refused")));
    server.route(QStringLiteral("/answer"), "", "text/plain");
    server.route(QStringLiteral("/timer-done"), "", "text/plain");
    server.route(QStringLiteral("/after"), page(QStringLiteral("After")));
    server.route(QStringLiteral("/dialogs"), page(QStringLiteral("Dialogs"), QStringLiteral("<div style=\"height:600px\">a page that asks</div>"),
        QStringLiteral("<script>var left = 20, clicks = 0;"
                       "var timer = setInterval(function () {"
                       "  alert('every 50 ms');"
                       "  if (--left == 0) { clearInterval(timer); fetch('/timer-done'); }"
                       "}, 50);"
                       "document.addEventListener('click', function () {"
                       "  if (++clicks == 2) {"
                       "    var no = 0;"
                       "    for (var i = 0; i < 500; ++i) if (!confirm('Stay?')) ++no;"
                       "    document.title = 'No ' + no;"
                       "  } else {"
                       "    fetch('/answer?' + prompt('Your name?', 'nobody'));"
                       "  }"
                       "});"
                       "addEventListener('beforeunload', function (e) { e.preventDefault(); e.returnValue = 'stay'; });"
                       "</script>")));
    startAt(QStringLiteral("/start"), QStringLiteral("Start"));
    ASSERT_TRUE(app.enterAddress(server.url(QStringLiteral("/vault"))));
    const QString asks = QStringLiteral("http://%1 asks for a user name and password.").arg(site());
    ASSERT_TRUE(waitUntil([&] { return view().labels.contains(asks); })) << spoken();
    EXPECT_FALSE(QString::fromStdString(spoken()).contains(QLatin1String("0800"))) << spoken();
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")}));
    ASSERT_TRUE(app.waitForMainTitle(QStringLiteral("Refused - Tarnwick"))) << qPrintable(app.mainTitle());
    go(QStringLiteral("/dialogs"), QStringLiteral("Dialogs"));
    // Twenty alerts nobody asked for: each answered at once (the timer ran out) and counted.
    ASSERT_TRUE(waitForRequests(QStringLiteral("/timer-done"), 1)) << "the timer's alerts held the page";
    EXPECT_TRUE(waitForPanel(0, QStringLiteral("20 events denied"))) << qPrintable(panels());

    // A click: its prompt shows, named after the page's origin, and takes the typed name.
    ASSERT_TRUE(clickPage());
    ASSERT_TRUE(waitForPageDialog(QStringLiteral("Your name?"))) << qPrintable(view().labels.join(QLatin1Char('|')));
    ASSERT_TRUE(app.type(QStringLiteral("Alice")));
    ASSERT_TRUE(app.key(QStringLiteral("Return")));
    ASSERT_TRUE(waitUntil([&] { return server.lastRequest(QStringLiteral("/answer")).contains("answer?Alice"); }))
        << server.lastRequest(QStringLiteral("/answer")).constData();

    // The next click asks 500 times: the first box shows and Esc cancels it, the other
    // 499 are answered at once and each is counted.
    ASSERT_TRUE(clickPage());
    ASSERT_TRUE(waitForPageDialog(QStringLiteral("Stay?")));
    ASSERT_TRUE(app.key(QStringLiteral("Escape")));
    ASSERT_TRUE(app.waitForMainTitle(QStringLiteral("No 500 - Tarnwick"))) << qPrintable(app.mainTitle());
    EXPECT_TRUE(waitForPanel(0, QStringLiteral("519 events denied"))) << qPrintable(panels());

    // Leaving: the page's question whether to leave is answered "leave" (and counted).
    qint64 out = typeAddress(QStringLiteral("/after"), QStringLiteral("After"));
    ASSERT_GE(out, 0) << "the page's question held the person: " << qPrintable(app.mainTitle());
    report("a typed address from a page asking whether to leave", out);
    EXPECT_TRUE(waitForPanel(0, QStringLiteral("520 events denied"))) << qPrintable(panels());

    // Back to the page (loaded anew, its timer's 20 alerts refused again). A prompt the
    // person leaves open: the typed address goes to the address box (its whole text
    // selected by the click), and the prompt is answered as cancelled.
    ASSERT_TRUE(app.key(QStringLiteral("ctrl+b")));
    ASSERT_TRUE(app.waitForMainTitle(QStringLiteral("Dialogs - Tarnwick")));
    ASSERT_TRUE(waitForRequests(QStringLiteral("/timer-done"), 2));
    EXPECT_TRUE(waitForPanel(0, QStringLiteral("540 events denied"))) << qPrintable(panels());
    ASSERT_TRUE(clickPage());
    ASSERT_TRUE(waitForPageDialog(QStringLiteral("Your name?")));
    out = typeAddress(QStringLiteral("/after"), QStringLiteral("After"));
    ASSERT_GE(out, 0) << "the typed address did not load: " << qPrintable(app.mainTitle());
    report("a typed address from an open prompt", out);
    EXPECT_TRUE(waitUntil([&] { return server.lastRequest(QStringLiteral("/answer")).contains("answer?null"); }))
        << server.lastRequest(QStringLiteral("/answer")).constData();
    EXPECT_EQ(view().address, server.url(QStringLiteral("/after")));
    EXPECT_EQ(server.requestCount(QStringLiteral("/after")), 2);
    EXPECT_EQ(server.requestCount(QStringLiteral("/dialogs")), 2);
    // Alt+F4 with the page's prompt open, the page asking whether to leave.
    ASSERT_TRUE(app.key(QStringLiteral("ctrl+b")));
    ASSERT_TRUE(app.waitForMainTitle(QStringLiteral("Dialogs - Tarnwick")));
    ASSERT_TRUE(waitForRequests(QStringLiteral("/timer-done"), 3));
    ASSERT_TRUE(clickPage());
    ASSERT_TRUE(waitForPageDialog(QStringLiteral("Your name?")));
    endWith({QStringLiteral("alt+F4")});
}

// A page alerts every 50 ms, and in an endless loop once clicked. Going wrong: the
// typed address, Back or Ctrl+E do nothing while the boxes keep coming, a box the
// person answered comes back at once, or the program has to be killed.
TEST_F(JourneyTraps, AlertLoopsAreLeftByATypedAddressBackAndCtrlEAtTheFirstTry) {
    server.route(QStringLiteral("/calm"), page(QStringLiteral("Calm")));
    server.route(QStringLiteral("/alerts"), page(QStringLiteral("Alerts"), QStringLiteral("<div style=\"height:600px\">a page that alerts</div>"),
        QStringLiteral("<script>setInterval(function () { alert('every 50 ms'); }, 50);"
                       "document.addEventListener('click', function () { for (;;) alert('again'); });</script>")));
    startAt(QStringLiteral("/start"), QStringLiteral("Start"));
    go(QStringLiteral("/alerts"), QStringLiteral("Alerts"));
    ASSERT_TRUE(waitForDenied(5)) << qPrintable(panels());

    const qint64 typed = typeAddress(QStringLiteral("/calm"), QStringLiteral("Calm"));
    ASSERT_GE(typed, 0) << "the typed address did not load: " << qPrintable(app.mainTitle());
    report("a typed address from a 50 ms alert loop", typed);
    const int before = deniedCount();
    ASSERT_TRUE(app.activateMain());
    const qint64 back = timed(QStringLiteral("ctrl+b"), [&] { return app.waitForMainTitle(QStringLiteral("Alerts - Tarnwick")); });
    ASSERT_GE(back, 0) << "Ctrl+B did not go back: " << qPrintable(app.mainTitle());
    report("Ctrl+B from a 50 ms alert loop", back);
    EXPECT_TRUE(waitForDenied(before + 5)) << qPrintable(panels());

    // The click's endless loop: its first box shows; once answered, the rest are
    // answered at once and counted. The next click shows one box more, and Ctrl+E with
    // that box open ends the program.
    ASSERT_TRUE(clickPage());
    ASSERT_TRUE(waitForPageDialog(QStringLiteral("again")) || waitForPageDialog(QStringLiteral("every 50 ms")));
    const int looping = deniedCount();
    ASSERT_TRUE(app.key(QStringLiteral("Return")));
    EXPECT_TRUE(waitForDenied(looping + 100)) << qPrintable(panels());
    ASSERT_TRUE(clickPage());
    ASSERT_TRUE(waitForPageDialog(QStringLiteral("again")));
    const qint64 ended = timed(QStringLiteral("ctrl+e"), [&] { return app.waitForExit(10000); });
    ASSERT_GE(ended, 0) << "Ctrl+E did not end the program";
    report("Ctrl+E from an endless alert loop, its box open", ended);
    expectEndsCleanly();
}

// A page goes full screen at every click or key and again 100 ms after it is left.
// Going wrong: no notice says how to leave, one Esc does not get the person out, the
// page takes the screen back at once, or the address box cannot be reached.
TEST_F(JourneyTraps, FullScreenTrapIsLeftWithOneEscAndStaysLeftUntilTheNextClick) {
    server.route(QStringLiteral("/fs-in"), "", "text/plain");
    server.route(QStringLiteral("/fs-refused"), "", "text/plain");
    server.route(QStringLiteral("/after"), page(QStringLiteral("After")));
    server.route(QStringLiteral("/trap"), page(QStringLiteral("Trap"), QStringLiteral("<div style=\"height:600px\">a page that wants the whole screen</div>") + loadedSignal(),
        QStringLiteral("<script>function grab() {"
                       "  document.documentElement.requestFullscreen().then(function () { fetch('/fs-in'); },"
                       "                                                   function () { fetch('/fs-refused'); });"
                       "}"
                       "addEventListener('click', grab); addEventListener('keydown', grab);"
                       "document.addEventListener('fullscreenchange', function () {"
                       "  if (!document.fullscreenElement) setTimeout(grab, 100);"
                       "});</script>")));
    startAt(QStringLiteral("/start"), QStringLiteral("Start"));
    go(QStringLiteral("/trap"), QStringLiteral("Trap"));
    ASSERT_TRUE(waitForRequests(QStringLiteral("/loaded"), 1)) << "the page did not finish loading";
    QByteArray display;
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("getdisplaygeometry")}, 10000, &display));
    const QList<QByteArray> size = display.trimmed().split(' ');
    ASSERT_EQ(size.size(), 2);
    auto fullScreenWindow = [&]() -> std::uint32_t {
        for (std::uint32_t window : app.ownWindows()) {
            const auto rect = app.desktop().geometry(window);
            if (window != app.mainWindow() && rect && rect->width == size[0].toInt() && rect->height == size[1].toInt())
                return window;
        }
        return 0;
    };

    for (int round = 1; round <= 2; ++round) {
        // The click: the page alone on the whole screen, titled like the main window, with
        // the notice.
        ASSERT_TRUE(clickPage());
        ASSERT_TRUE(waitForRequests(QStringLiteral("/fs-in"), round));
        ASSERT_TRUE(waitUntil([&] { return fullScreenWindow() != 0; })) << "not full screen";
        EXPECT_EQ(app.desktop().title(fullScreenWindow()), QStringLiteral("Trap - Tarnwick"));
        EXPECT_TRUE(waitUntil([&] { return view().labels.contains(QStringLiteral("Press Esc to leave full screen")); }))
            << qPrintable(view().labels.join(QLatin1Char('|')));
        // One Esc. The page's try to come back 100 ms later is refused (by the engine
        // itself once the click's activation is used up); so is its try at the person's
        // next key in the page, which the program refuses and counts.
        const int refused = server.requestCount(QStringLiteral("/fs-refused"));
        const int denied = deniedCount();
        const qint64 out = timed(QStringLiteral("Escape"), [&] { return waitUntil([&] { return fullScreenWindow() == 0; }); });
        ASSERT_GE(out, 0) << "Esc did not leave full screen";
        report("one Esc from a full-screen trap", out);
        ASSERT_TRUE(waitForRequests(QStringLiteral("/fs-refused"), refused + 1)) << "the page did not try to come back";
        ASSERT_TRUE(waitUntil([&] { return !view().addressFocused; })) << "the keyboard did not go back to the page";
        ASSERT_TRUE(app.key(QStringLiteral("x")));
        EXPECT_TRUE(waitForDenied(denied + 1)) << "the key's request was not refused: " << qPrintable(panels());
        EXPECT_EQ(fullScreenWindow(), 0u) << "the page took the screen back";
    }
    EXPECT_GE(typeAddress(QStringLiteral("/after"), QStringLiteral("After")), 0) << qPrintable(app.mainTitle());
    EXPECT_TRUE(app.closeWindow(app.mainWindow()));
    expectEndsCleanly();
}

// Pages that go round by themselves: one reloads itself on load, one refreshes itself to
// a new address each time (?n=1, ?n=2, ...), two send each other back and forth; all of
// them rename themselves every 40 ms. The person types at 80 ms a key into the address
// box meanwhile, gives up once with Esc, and at last presses Enter. Going wrong: the page
// loads again and again, the machine stays busy, the address box is rewritten under the
// person's fingers (Enter reloads the trap, or opens the typed text cut short as a file),
// Esc keeps the half-typed text, the refusals go uncounted, or the history fills with
// addresses nobody chose (a page's own, given with history.replaceState, among them).
TEST_F(JourneyTraps, PagesGoingRoundAreStoppedAndTheTypedAddressIsThePersons) {
    const QString renaming = QStringLiteral(
        "<script>var t = 0; setInterval(function () { document.title = document.title.split(' ')[0] + ' ' + ++t; }, 40);"
        "</script>");
    server.route(QStringLiteral("/after"), page(QStringLiteral("After")));
    server.route(QStringLiteral("/reload"), page(QStringLiteral("Reload"), QString(),
        renaming + QStringLiteral("<script>addEventListener('load', function () { location.reload(); });</script>")));
    server.route(QStringLiteral("/counting"), page(QStringLiteral("Counting"), QString(),
        renaming + QStringLiteral("<script>document.write('<meta http-equiv=\"refresh\" content=\"0;url=/counting?n=' +"
                                  " (Number(location.search.slice(3)) + 1) + '\">');</script>")));
    for (const auto& [from, to] : {std::pair{QStringLiteral("ping"), QStringLiteral("pong")},
                                   std::pair{QStringLiteral("pong"), QStringLiteral("ping")}})
        server.route(QLatin1Char('/') + from, page(from, QString(),
            renaming + QStringLiteral("<meta http-equiv=\"refresh\" content=\"0;url=/%1\">").arg(to)));
    startAt(QStringLiteral("/start"), QStringLiteral("Start"));
    QElapsedTimer clock;
    for (const QString& trap : {QStringLiteral("/reload"), QStringLiteral("/counting"), QStringLiteral("/ping")}) {
        const int denied = deniedCount();
        ASSERT_TRUE(app.enterAddress(server.url(trap)));
        ASSERT_TRUE(waitForDenied(denied + 1)) << "the loop was not stopped: " << qPrintable(panels());
        // Idle: from one whole sweep to the next the page asks for no further load, and
        // nothing more is refused.
        sweepBarrier();
        const int loads = server.requestCount(trap) + server.requestCount(QStringLiteral("/pong"));
        const int refused = deniedCount();
        sweepBarrier();
        EXPECT_EQ(server.requestCount(trap) + server.requestCount(QStringLiteral("/pong")), loads) << "still loading";
        EXPECT_EQ(deniedCount(), refused + 1) << qPrintable(panels());
        std::printf("%s: %d loads before the loop stopped\n", qPrintable(trap), loads);

        // Half an address, then Esc: the page's address is back. Then the whole address.
        unsigned long long ticks = 0;
        for (const ProcStat& process : processTree(app.pid())) ticks += process.cpuTicks;
        clock.start();
        const QString shown = view().address;
        ASSERT_TRUE(app.key(QStringLiteral("ctrl+l")));
        const QString typed = server.url(QStringLiteral("/after"));
        ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("--delay"),
                                                        QStringLiteral("80"), typed.left(12)}, 30000));
        EXPECT_TRUE(waitUntil([&] { return view().address == typed.left(12); })) << qPrintable(view().address);
        ASSERT_TRUE(app.key(QStringLiteral("Escape")));
        EXPECT_TRUE(waitUntil([&] { return view().address == shown; })) << qPrintable(view().address);
        ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("--delay"),
                                                        QStringLiteral("80"), typed}, 30000));
        unsigned long long after = 0;
        for (const ProcStat& process : processTree(app.pid())) after += process.cpuTicks;
        std::printf("%s: the program took %.0f %% of a core while the person typed (the page renaming itself)\n",
                    qPrintable(trap), 100.0 * double(after - ticks) / double(sysconf(_SC_CLK_TCK)) / (double(clock.elapsed()) / 1000.0));
        const qint64 out = timed(QStringLiteral("Return"), [&] { return app.waitForMainTitle(QStringLiteral("After - Tarnwick")); });
        ASSERT_GE(out, 0) << "Enter did not open the typed address: " << qPrintable(app.mainTitle());
        EXPECT_EQ(view().address, typed);
    }
    // A page giving itself a new address with every new name (history.replaceState): the
    // history keeps the person's and the first five it gave itself, as for its own loads,
    // and six more after the person's click in it.
    server.route(QStringLiteral("/rewriting"), page(QStringLiteral("Rewriting"), QString(),
        QStringLiteral("<script>var t = 0; setInterval(function () {"
                       " history.replaceState(null, '', '/rewriting?t=' + ++t); document.title = 'Rewriting ' + t; }, 40);"
                       "</script>")));
    ASSERT_TRUE(app.enterAddress(server.url(QStringLiteral("/rewriting"))));
    const auto rewrites = [&] { return app.mainTitle().section(QLatin1Char(' '), 1, 1).toInt(); };
    ASSERT_TRUE(waitUntil([&] { return rewrites() >= 60; })) << qPrintable(app.mainTitle());
    ASSERT_TRUE(clickPage());
    const int clicked = rewrites();
    ASSERT_TRUE(waitUntil([&] { return rewrites() >= clicked + 20; })) << qPrintable(app.mainTitle());
    // The history: the pages shown, each once, and nothing typed or cut short.
    const QByteArray history = app.readHistory();
    EXPECT_FALSE(history.contains("file:")) << history.constData();
    EXPECT_EQ(history.count("/counting"), server.requestCount(QStringLiteral("/counting"))) << history.constData();
    EXPECT_EQ(history.count("/rewriting"), 12) << history.constData();
    EXPECT_LE(history.count('\n'), 24) << history.constData();
    EXPECT_TRUE(app.closeWindow(app.mainWindow()));
    expectEndsCleanly();
}

// A person clicks a link to a page that asks for a dialog and the keyboard on load; clicks
// in a page whose every way out (beforeunload, pagehide, unload) starts a navigation to an
// ad and a window, and at once types another address, comes back and clicks and presses
// Back; then visits a page that adds a history entry on load (and answers Back with the ad)
// and one that adds a thousand; at last clicks in the first page again and chooses File >
// Exit. Going wrong: the click's consent carries over to the next page, the person lands
// on the ad, a window or box opens, Back takes two presses or thirty, or the program does
// not end at once with status 0.
TEST_F(JourneyTraps, LeavingWinsAndBackGoesBackWhateverThePageDoes) {
    server.route(QStringLiteral("/ad"), page(QStringLiteral("Ad")));
    server.route(QStringLiteral("/after"), page(QStringLiteral("After")));
    server.route(QStringLiteral("/asked"), "", "text/plain");
    server.route(QStringLiteral("/greedy"), page(QStringLiteral("Greedy"), QString(),
        QStringLiteral("<script>alert('on load');"
                       "(navigator.keyboard ? navigator.keyboard.lock() : Promise.reject()).then("
                       "  function () { fetch('/asked?locked'); }, function () { fetch('/asked?refused'); });</script>")));
    server.route(QStringLiteral("/home"), page(QStringLiteral("Home"), linkPageBody(QStringLiteral("/greedy"))));
    const QString away = QStringLiteral("function away() { location.replace('/ad'); window.open('/ad'); alert('stay'); }"
                                        "addEventListener('beforeunload', function (e) { setTimeout(away, 0); e.preventDefault(); });"
                                        "addEventListener('pagehide', function () { location.href = '/ad'; });"
                                        "addEventListener('unload', away);");
    server.route(QStringLiteral("/sticky"), page(QStringLiteral("Sticky"), QStringLiteral("<div style=\"height:600px\">stay</div>"),
                                                  QStringLiteral("<script>") + away + QStringLiteral("</script>")));
    server.route(QStringLiteral("/pushy"), page(QStringLiteral("Pushy"), QString(),
        QStringLiteral("<script>history.pushState({}, '', '?pushed');"
                       "addEventListener('popstate', function () { location.replace('/ad'); }); fetch('/asked?pushed');</script>")));
    server.route(QStringLiteral("/thousand"), page(QStringLiteral("Thousand"), QString(),
        QStringLiteral("<script>for (var i = 0; i < 1000; ++i) history.pushState({}, '', '?i=' + i);"
                       "addEventListener('popstate', function () { history.pushState({}, '', '?again'); });"
                       "fetch('/asked?thousand');</script>")));
    startAt(QStringLiteral("/start"), QStringLiteral("Start"));

    // The link's click is no consent for the next page's dialog, nor for its keyboard lock.
    go(QStringLiteral("/home"), QStringLiteral("Home"));
    ASSERT_TRUE(app.pointerTo(200, app.pageTop() + 80) && app.click(1));
    ASSERT_TRUE(app.waitForMainTitle(QStringLiteral("Greedy - Tarnwick"))) << qPrintable(app.mainTitle());
    ASSERT_TRUE(waitForRequests(QStringLiteral("/asked"), 1));
    EXPECT_TRUE(waitForDenied(1)) << qPrintable(panels());
    EXPECT_FALSE(view().labels.contains(QStringLiteral("on load"))) << "the dialog showed";
    EXPECT_TRUE(server.lastRequest(QStringLiteral("/asked")).contains("refused")) << server.lastRequest(QStringLiteral("/asked")).constData();

    // Right after a click, a typed address and Back each land where the person asked.
    server.setDelay(QStringLiteral("/after"), 700);
    go(QStringLiteral("/sticky"), QStringLiteral("Sticky"));
    ASSERT_TRUE(clickPage());
    qint64 out = typeAddress(QStringLiteral("/after"), QStringLiteral("After"));
    ASSERT_GE(out, 0) << "the typed address did not win: " << qPrintable(app.mainTitle());
    report("a typed address right after a click in a page that navigates on its way out", out);
    ASSERT_TRUE(app.key(QStringLiteral("ctrl+b")));
    ASSERT_TRUE(app.waitForMainTitle(QStringLiteral("Sticky - Tarnwick"))) << qPrintable(app.mainTitle());
    ASSERT_TRUE(clickPage());
    out = timed(QStringLiteral("alt+Left"), [&] { return app.waitForMainTitle(QStringLiteral("Greedy - Tarnwick")); });
    ASSERT_GE(out, 0) << "Back did not win: " << qPrintable(app.mainTitle());
    report("Back right after a click in a page that navigates on its way out", out);

    // One Back past a page's own history entries, and one Forward to its last.
    for (const QString& name : {QStringLiteral("Pushy"), QStringLiteral("Thousand")}) {
        const int asked = server.requestCount(QStringLiteral("/asked"));
        go(QLatin1Char('/') + name.toLower(), name);
        ASSERT_TRUE(waitForRequests(QStringLiteral("/asked"), asked + 1));
        ASSERT_TRUE(app.key(QStringLiteral("ctrl+b")));
        EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("Greedy - Tarnwick"))) << qPrintable(app.mainTitle());
        ASSERT_TRUE(app.key(QStringLiteral("ctrl+f")));
        EXPECT_TRUE(app.waitForMainTitle(name + QStringLiteral(" - Tarnwick"))) << qPrintable(app.mainTitle());
        EXPECT_TRUE(view().address.startsWith(server.url(QLatin1Char('/') + name.toLower()) + QLatin1Char('?')))
            << qPrintable(view().address);
        ASSERT_TRUE(app.key(QStringLiteral("alt+Left")));
        EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("Greedy - Tarnwick"))) << qPrintable(app.mainTitle());
    }
    // File > Exit right after a click in the page that navigates on its way out.
    go(QStringLiteral("/sticky"), QStringLiteral("Sticky"));
    ASSERT_TRUE(clickPage());
    EXPECT_EQ(app.ownWindows().size(), 1u);
    endWith({QStringLiteral("alt+f"), QStringLiteral("Up"), QStringLiteral("Return")});
    EXPECT_EQ(server.requestCount(QStringLiteral("/ad")), 0) << "the ad was opened";
}

// ---------------------------------------------------------------------------------
// Pages whose renderer hangs or dies

}  // namespace
