// Journeys: hung, dead and greedy pages, and downloads a page starts.

#include "journey.h"

namespace {

class JourneyRenderer : public Journey {
protected:
    // The program's renderer processes (the engine's helpers that show pages).
    std::vector<pid_t> renderers() {
        std::vector<pid_t> found;
        for (const ProcStat& process : processTree(app.pid())) {
            QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(process.pid));
            if (process.state != 'Z' && commandLine.open(QIODevice::ReadOnly) &&
                commandLine.readAll().contains("--type=renderer"))
                found.push_back(process.pid);
        }
        return found;
    }
    // The renderer that keeps the processor busy (a tenth of a core or more over a second:
    // other work may share the cores), or 0. An idle renderer takes next to nothing.
    pid_t spinningRenderer() {
        std::vector<std::pair<pid_t, unsigned long long>> before;
        for (pid_t pid : renderers())
            if (auto stat = readProcStat(pid)) before.emplace_back(pid, stat->cpuTicks);
        settle(1000);
        for (const auto& [pid, ticks] : before)
            if (auto stat = readProcStat(pid); stat && stat->state != 'Z' && stat->cpuTicks - ticks >= 10) return pid;
        return 0;
    }
    static bool gone(pid_t pid) {
        const auto stat = readProcStat(pid);
        return !stat || stat->state == 'Z';
    }
    // Presses `chord` at the start of a clock and waits for the caption `title`: the
    // milliseconds it took, or -1 when the caption never came.
    qint64 timedUntilTitle(const QString& chord, const QString& title) {
        QElapsedTimer clock;
        clock.start();
        if (!runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("--clearmodifiers"), chord}))
            return -1;
        return app.waitForMainTitle(title + QStringLiteral(" - Tarnwick")) ? clock.elapsed() : -1;
    }
};

// A person visits a page whose script starts spinning forever, leaves it for another page
// of the same site with a typed address, comes back with Back and leaves with Back again;
// then a page's renderer is killed, pages grow their memory without end (in the script
// heap; in workers, buffers and a WebAssembly memory), and a page holding 500 MB is left
// for another page of the site, by its link and by a typed address. Going wrong: the
// typed address never loads and Back does nothing while the page spins; the spinning
// renderer keeps a core busy after the person left, or the page left is loaded again on
// its own; a killed page leaves a grey view with the old caption and "Idle", no way to
// reload it, or an internal address in the box and the history; a page takes gigabytes
// of memory, or its renderer keeps them after the person left it, whichever way they left.
TEST_F(JourneyRenderer, HungPagesAreLeftAtOnceAndDeadPagesSaySoAndReload) {
    server.route(QStringLiteral("/spinning"), "", "text/plain");
    server.route(QStringLiteral("/spin"),
                 page(QStringLiteral("Spin"), QStringLiteral("<p>a page that never returns</p>"),
                      QStringLiteral("<script>setTimeout(function () { fetch('/spinning');"
                                     " setTimeout(function () { for (;;) {} }, 200); }, 300);</script>")));
    server.route(QStringLiteral("/after"), page(QStringLiteral("After")));
    server.route(QStringLiteral("/victim"), page(QStringLiteral("Victim")));
    server.route(QStringLiteral("/growing"), "", "text/plain");
    server.route(QStringLiteral("/grow"),
                 page(QStringLiteral("Grow"), QStringLiteral("<p>a page that grows</p>"),
                      QStringLiteral("<script>var kept = []; fetch('/growing'); setInterval(function () {"
                                     " for (var i = 0; i < 40; ++i) kept.push(new Array(100000).fill(Math.random()));"
                                     " }, 10);</script>")));
    server.route(QStringLiteral("/holding"), "", "text/plain");
    // About 500 MB of text in DOM nodes: what its renderer keeps for the site's next page.
    server.route(QStringLiteral("/hold"),
                 page(QStringLiteral("Hold"), QStringLiteral("<a href=\"/after\" style=\"display:block;height:200px\">on</a>"),
                      QStringLiteral("<script>var n = 0, seed = document.createTextNode('y'.repeat(3000)),"
                                     " kept = document.createDocumentFragment(); function grow() {"
                                     " for (var i = 0; i < 500; ++i) kept.appendChild(seed.cloneNode()).appendData(++n);"
                                     " if (n < 160000) setTimeout(grow, 0); else fetch('/holding'); }"
                                     " addEventListener('load', grow);</script>")));
    // 24 workers of 120 MB each, and a WebAssembly memory growing by 10 MB every 20 ms.
    server.route(QStringLiteral("/bomb"),
                 page(QStringLiteral("Bomb"), QStringLiteral("<p>a page taking memory outside its script heap</p>"),
                      QStringLiteral("<script>var url = URL.createObjectURL(new Blob(['var a = new Uint8Array(120 << 20).fill(1);"
                                     " setInterval(function () { a[0]++; }, 1000);']));"
                                     " for (var i = 0; i < 24; ++i) new Worker(url);"
                                     " var m = new WebAssembly.Memory({initial: 16, maximum: 65536});"
                                     " setInterval(function () { var at = m.buffer.byteLength; m.grow(160);"
                                     " new Uint8Array(m.buffer, at).fill(1); }, 20);</script>")));
    startAt(QStringLiteral("/start"), QStringLiteral("Start"));

    // A typed address on the same site, while the page spins.
    go(QStringLiteral("/spin"), QStringLiteral("Spin"));
    ASSERT_TRUE(waitForRequests(QStringLiteral("/spinning"), 1));
    pid_t spinning = 0;
    ASSERT_TRUE(waitUntil([&] { return (spinning = spinningRenderer()) != 0; }, 10000)) << "no renderer spins";
    ASSERT_TRUE(app.typeAddress(server.url(QStringLiteral("/after"))));
    const qint64 typedOut = timedUntilTitle(QStringLiteral("Return"), QStringLiteral("After"));
    EXPECT_GE(typedOut, 0) << "the typed address did not load while the page spun: " << qPrintable(app.mainTitle());
    std::printf("left a hung page for a same-site address in %lld ms\n", static_cast<long long>(typedOut));
    EXPECT_TRUE(waitUntil([&] { return gone(spinning); }, 10000)) << "the spinning renderer still runs";

    // Back to the spinning page, and Back again while it spins.
    ASSERT_TRUE(app.key(QStringLiteral("ctrl+b")));
    ASSERT_TRUE(app.waitForMainTitle(QStringLiteral("Spin - Tarnwick"))) << qPrintable(app.mainTitle());
    ASSERT_TRUE(waitForRequests(QStringLiteral("/spinning"), 2));
    ASSERT_TRUE(waitUntil([&] { return (spinning = spinningRenderer()) != 0; }, 10000)) << "no renderer spins";
    ASSERT_TRUE(app.activateMain());
    const qint64 backOut = timedUntilTitle(QStringLiteral("ctrl+b"), QStringLiteral("Start"));
    EXPECT_GE(backOut, 0) << "Back did nothing while the page spun: " << qPrintable(app.mainTitle());
    std::printf("left a hung page with Back in %lld ms\n", static_cast<long long>(backOut));
    EXPECT_TRUE(waitUntil([&] { return gone(spinning); }, 10000)) << "the spinning renderer still runs";

    // Forward to it, and away to another site (the same server under another name).
    ASSERT_TRUE(app.key(QStringLiteral("ctrl+f")));
    ASSERT_TRUE(app.waitForMainTitle(QStringLiteral("Spin - Tarnwick"))) << qPrintable(app.mainTitle());
    ASSERT_TRUE(waitForRequests(QStringLiteral("/spinning"), 3));
    ASSERT_TRUE(waitUntil([&] { return (spinning = spinningRenderer()) != 0; }, 10000)) << "no renderer spins";
    ASSERT_TRUE(app.enterAddress(server.url(QStringLiteral("/after")).replace(QStringLiteral("127.0.0.1"), QStringLiteral("localhost"))));
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("After - Tarnwick"))) << qPrintable(app.mainTitle());
    EXPECT_TRUE(waitUntil([&] { return gone(spinning); }, 10000)) << "the spinning renderer still runs";
    EXPECT_EQ(server.requestCount(QStringLiteral("/spin")), 3) << "a page left was loaded again";

    // A page whose renderer is killed: shown as such, under its address, and reloaded.
    go(QStringLiteral("/victim"), QStringLiteral("Victim"));
    for (pid_t pid : renderers()) ::kill(pid, SIGKILL);
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("Page killed: Victim - Tarnwick"))) << qPrintable(app.mainTitle());
    EXPECT_TRUE(waitForPanel(1, QStringLiteral("Uninitialized"))) << qPrintable(panels());
    a11y::MainWindowView shown;
    ASSERT_TRUE(waitUntil([&] { return (shown = view()).find(QStringLiteral("Reload")); }, 10000))
        << "no reload link shown";
    EXPECT_EQ(shown.address, server.url(QStringLiteral("/victim")));
    EXPECT_TRUE(shown.find(QStringLiteral("was killed"))) << "the page does not say what happened";
    ASSERT_TRUE(app.pointerToScreen(shown.find(QStringLiteral("Reload"))->x, shown.find(QStringLiteral("Reload"))->y));
    ASSERT_TRUE(app.click(1));
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("Victim - Tarnwick"))) << qPrintable(app.mainTitle());
    EXPECT_TRUE(waitForPanel(1, QStringLiteral("Idle"))) << qPrintable(panels());
    EXPECT_EQ(server.requestCount(QStringLiteral("/victim")), 2);

    // Pages that grow their memory die at the bound and say so: the script heap, and then
    // workers, buffers and a WebAssembly memory, none of which that heap holds.
    const auto peakUntilOutOfMemory = [&](const QString& path, const QString& title) {
        QElapsedTimer clock;
        clock.start();
        EXPECT_TRUE(app.enterAddress(server.url(path)));
        long peakKb = 0;
        const bool outOfMemory = waitUntil(
            [&] {
                for (pid_t pid : renderers()) peakKb = std::max(peakKb, procStatusKb(pid, "VmHWM"));
                return app.mainTitle() == QStringLiteral("Page out of memory: ") + title + QStringLiteral(" - Tarnwick");
            },
            90000, 50);
        EXPECT_TRUE(outOfMemory) << qPrintable(app.mainTitle());
        std::printf("%s: the renderer peaked at %ld MB, stopped %lld ms after Enter\n", qPrintable(path), peakKb / 1024,
                    static_cast<long long>(clock.elapsed()));
        EXPECT_LT(peakKb, 2048L * 1024) << qPrintable(path) << " took more memory than its bound";
        EXPECT_EQ(view().address, server.url(path));
    };
    peakUntilOutOfMemory(QStringLiteral("/grow"), QStringLiteral("Grow"));

    // A page holding 500 MB, left for another page of the same site by a click on its link,
    // and again by a typed address: its renderer goes (it would keep what the page held
    // for the site's next page), and no renderer holds much.
    const auto heldKb = [](pid_t pid) { return procStatusKb(pid, "RssAnon") + procStatusKb(pid, "RssShmem"); };
    const auto mostHeldKb = [&] {
        long most = 0;
        for (pid_t pid : renderers()) most = std::max(most, heldKb(pid));
        return most;
    };
    go(QStringLiteral("/after"), QStringLiteral("After"));  // a renderer of the site, running
    for (const bool typed : {false, true}) {
        go(QStringLiteral("/hold"), QStringLiteral("Hold"));
        ASSERT_TRUE(waitForRequests(QStringLiteral("/holding"), typed ? 2 : 1, 120000));
        pid_t holding = 0;
        for (pid_t pid : renderers())
            if (heldKb(pid) > heldKb(holding)) holding = pid;
        const long held = heldKb(holding);
        EXPECT_GE(held, 400L * 1024) << "the page did not take its memory";
        if (typed) {
            go(QStringLiteral("/after"), QStringLiteral("After"));
        } else {
            ASSERT_TRUE(app.activateMain() && app.pointerTo(100, app.pageTop() + 80) && app.click(1));
            ASSERT_TRUE(app.waitForMainTitle(QStringLiteral("After - Tarnwick"))) << qPrintable(app.mainTitle());
        }
        const char* way = typed ? "a typed address" : "its link";
        EXPECT_TRUE(waitUntil([&] { return gone(holding); }, 20000))
            << "the renderer of the page the person left by " << way << " still runs, holding "
            << heldKb(holding) / 1024 << " MB";
        EXPECT_LT(mostHeldKb(), 200L * 1024) << "a renderer holds " << mostHeldKb() / 1024 << " MB";
        std::printf("a page holding %ld MB left by %s: the renderers hold %ld MB at most\n", held / 1024, way,
                    mostHeldKb() / 1024);
    }
    peakUntilOutOfMemory(QStringLiteral("/bomb"), QStringLiteral("Bomb"));

    // Only the pages' own addresses went into the history.
    const QList<QByteArray> entries = app.readHistory().split('\n');
    for (const QByteArray& entry : entries)
        EXPECT_TRUE(entry.isEmpty() || entry.startsWith("\"http://127.0.0.1:") || entry.startsWith("\"http://localhost:"))
            << entry.constData();
    // start, spin, after (on both names), victim, grow, hold, bomb, and the last line break
    EXPECT_EQ(entries.size(), 9) << app.readHistory().constData();
    ASSERT_TRUE(app.key(QStringLiteral("ctrl+e")));
    expectEndsCleanly();
}

// ---------------------------------------------------------------------------------
// A page that starts downloads by the dozen

class JourneyDownloads : public Journey {
protected:
    // The program's save dialogs on the screen.
    std::vector<std::uint32_t> saveDialogs() {
        std::vector<std::uint32_t> found;
        for (std::uint32_t window : app.ownWindows())
            if (app.desktop().title(window) == QLatin1String("Save File")) found.push_back(window);
        return found;
    }
    // Every file below `folder`, as paths relative to it.
    static QStringList filesIn(const QString& folder) {
        QStringList found;
        QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) found << QDir(folder).relativeFilePath(it.next());
        return found;
    }
};

// A person opens a page that starts ten downloads as it loads and ten more at the click
// of its button, then clicks a link to one file while the save dialog is open, cancels
// the first dialog and saves the second. Going wrong: twenty save dialogs at once, files
// written into the download folder before anyone said where to keep them, a second
// dialog over the first, the refused downloads not counted.
TEST_F(JourneyDownloads, ADownloadBombGetsOneDialogAtATimeAndNothingLandsBeforeThePersonSaysSo) {
    const QByteArray attachment = "Content-Disposition: attachment\r\n";
    for (const char* when : {"load", "click"})
        for (int i = 0; i < 10; ++i) {
            const QString path = QStringLiteral("/f%1%2.bin").arg(QLatin1String(when)).arg(i);
            server.route(path, QByteArray(64 * 1024, 'x'), "application/octet-stream");
            server.setHeaders(path, attachment);
        }
    const QByteArray single(256 * 1024, 's');
    server.route(QStringLiteral("/single.bin"), single, "application/octet-stream");
    server.setHeaders(QStringLiteral("/single.bin"), "Content-Disposition: attachment; filename=\"single.bin\"\r\n");
    // Half of each ten by a link's download attribute, half by frames with attachments.
    server.route(QStringLiteral("/bomb"),
                 page(QStringLiteral("Bomb"),
                      QStringLiteral("<button onclick=\"bomb('click')\" style=\"display:block;width:400px;height:200px\">"
                                     "get</button><a href=\"/single.bin\" style=\"display:block;height:150px\">single</a>"),
                      QStringLiteral("<script>function bomb(when) { for (var i = 0; i < 10; ++i) {"
                                     " var url = '/f' + when + i + '.bin';"
                                     " if (i % 2) { var f = document.createElement('iframe'); f.style.display = 'none';"
                                     "   f.src = url; document.body.appendChild(f); }"
                                     " else { var a = document.createElement('a'); a.href = url; a.download = '';"
                                     "   document.body.appendChild(a); a.click(); } } }"
                                     "addEventListener('load', function () { bomb('load'); });</script>")));
    startAt(QStringLiteral("/start"), QStringLiteral("Start"));
    const QString folder = app.home() + QStringLiteral("/Downloads");
    const QString receiving = app.home() + QStringLiteral("/.cache/tarnwick");

    go(QStringLiteral("/bomb"), QStringLiteral("Bomb"));
    EXPECT_TRUE(waitForPanel(0, QStringLiteral("10 events denied"))) << qPrintable(panels());
    ASSERT_TRUE(app.pointerTo(200, app.pageTop() + 80));
    ASSERT_TRUE(app.click(1));
    ASSERT_TRUE(waitUntil([&] { return !saveDialogs().empty(); }, 10000)) << "no save dialog for the clicked button";
    EXPECT_TRUE(waitForPanel(0, QStringLiteral("19 events denied"))) << qPrintable(panels());
    const std::uint32_t first = saveDialogs().front();

    // A link the person clicks meanwhile, with the dialog moved aside: received, not asked
    // about while the first asks.
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("windowmove"), QString::number(first),
                                                    QStringLiteral("700"), QStringLiteral("560")}));
    ASSERT_TRUE(waitUntil([&] { return app.desktop().geometry(first) && app.desktop().geometry(first)->x >= 650; }, 5000));
    ASSERT_TRUE(app.pointerTo(150, app.pageTop() + 275));
    ASSERT_TRUE(app.click(1));
    ASSERT_TRUE(waitUntil([&] { return !(filesIn(receiving) + filesIn(folder)).filter(QStringLiteral("single.bin")).empty(); },
                          10000))
        << "the clicked link's download was not taken: " << qPrintable(filesIn(receiving).join(QLatin1Char(' ')));
    // The pointer leaves the link (the sweep opens a link pointed at), then a whole sweep.
    ASSERT_TRUE(app.pointerTo(520, app.pageTop() + 80));
    EXPECT_TRUE(waitForPanel(1, QStringLiteral("Idle"))) << qPrintable(panels());
    sweepBarrier();
    EXPECT_EQ(saveDialogs().size(), 1u) << "more than one save dialog at once";
    EXPECT_TRUE(filesIn(folder).isEmpty()) << "in the download folder before any answer: "
                                           << qPrintable(filesIn(folder).join(QLatin1Char(' ')));
    EXPECT_EQ(view().statusPanels.value(0), QStringLiteral("20 events denied"))  // with the sentinel
        << "the person's own link was refused";

    // Esc drops the first; the second asks now, and Return keeps it where it proposes.
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(first)}));
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")}));
    std::uint32_t second = 0;
    ASSERT_TRUE(waitUntil([&] {
        const auto dialogs = saveDialogs();
        second = dialogs.size() == 1 && dialogs.front() != first ? dialogs.front() : 0;
        return second != 0;
    }, 10000)) << "the waiting download was never asked about";
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(second)}));
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")}));
    EXPECT_TRUE(waitUntil([&] { return readFile(folder + QStringLiteral("/single.bin")) == single; }, 20000))
        << qPrintable(filesIn(folder).join(QLatin1Char(' ')));
    EXPECT_EQ(filesIn(folder), QStringList{QStringLiteral("single.bin")});
    EXPECT_TRUE(waitUntil([&] { return filesIn(receiving).filter(QStringLiteral(".bin")).isEmpty(); }, 10000))
        << "left in the program's folder: " << qPrintable(filesIn(receiving).join(QLatin1Char(' ')));

    // Servers whose names point elsewhere: each proposal, taken with Return, is a plain
    // name in the download folder. Going wrong: a file written above the download
    // folder or into a folder the server named, a hidden file, a name the dialog will not
    // save.
    const QString elsewhere = app.home() + QStringLiteral("/elsewhere");
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    const QString longName = QString(300, QLatin1Char('n')) + QStringLiteral(".txt");
    const std::pair<QString, QString> names[] = {
        {QStringLiteral("../../x.sh"), QStringLiteral("x.sh")},
        {elsewhere + QStringLiteral("/cron"), QStringLiteral("cron")},
        {QStringLiteral("..\\..\\x.bat"), QStringLiteral("x.bat")},
        {QStringLiteral(".profile"), QStringLiteral("profile")},
        {longName, QString(251, QLatin1Char('n')) + QStringLiteral(".txt")},
    };
    QString links;
    for (int i = 0; i < int(std::size(names)); ++i) {
        const QString path = QStringLiteral("/named%1").arg(i);
        server.route(path, QByteArray("file ") + QByteArray::number(i), "application/octet-stream");
        server.setHeaders(path, "Content-Disposition: attachment; filename=\"" + names[i].first.toUtf8() + "\"\r\n");
        links += QStringLiteral("<a href=\"%1\" style=\"display:block;height:60px\">%1</a>").arg(path);
    }
    server.route(QStringLiteral("/names"), page(QStringLiteral("Names"), links));
    go(QStringLiteral("/names"), QStringLiteral("Names"));
    QStringList saved{QStringLiteral("single.bin")};
    for (int i = 0; i < int(std::size(names)); ++i) {
        ASSERT_TRUE(app.pointerTo(40, app.pageTop() + 30 + 60 * i));
        ASSERT_TRUE(app.click(1));
        std::uint32_t dialog = 0;
        ASSERT_TRUE(waitUntil([&] { return !saveDialogs().empty() && (dialog = saveDialogs().front()); }, 10000))
            << "no save dialog for " << qPrintable(names[i].first);
        ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(dialog)}));
        ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")}));
        saved << names[i].second;
        EXPECT_TRUE(waitUntil([&] { return readFile(folder + QLatin1Char('/') + names[i].second) == "file " + QByteArray::number(i); }, 20000))
            << qPrintable(names[i].first) << " is not in the download folder as " << qPrintable(names[i].second)
            << "; there: " << qPrintable(filesIn(folder).join(QLatin1Char(' ')));
        ASSERT_TRUE(waitUntil([&] { return saveDialogs().empty(); }, 10000));
    }
    saved.sort();
    QStringList there = filesIn(folder);
    there.sort();
    EXPECT_EQ(there, saved);
    EXPECT_TRUE(filesIn(elsewhere).isEmpty()) << "written where the server said: " << qPrintable(filesIn(elsewhere).join(QLatin1Char(' ')));
    for (const QString& outside : {QStringLiteral("x.sh"), QStringLiteral("x.bat"), QStringLiteral(".profile")})
        EXPECT_FALSE(QFileInfo::exists(app.home() + QLatin1Char('/') + outside) || QFileInfo::exists(QStringLiteral("/") + outside))
            << outside.toStdString() << " was written outside the download folder";
    ASSERT_TRUE(app.key(QStringLiteral("ctrl+e")));
    expectEndsCleanly();
}

}  // namespace
