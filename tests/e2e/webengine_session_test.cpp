// The engine adapter's downloads, logins and full screen, and the engine's profile
// across two runs of the program.

#include "webengine_fixture.h"

namespace {

// 50 MB that compress to nothing in common: each run's own bytes from a printed seed.
QByteArray largeBody(qint64 bytes) {
    const quint32 seed = qEnvironmentVariableIsSet("TARNWICK_SEED") ? qEnvironmentVariableIntValue("TARNWICK_SEED")
                                                                     : QRandomGenerator::global()->generate();
    std::printf("download body seed %u (TARNWICK_SEED)\n", seed);
    QRandomGenerator random(seed);
    QByteArray body(bytes, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32*>(body.data()), bytes / 4);
    return body;
}

QByteArray fileContent(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST_F(WebEngineBrowserTest, DownloadsArriveWholeAndOnlyThenCarryTheirNameAndLeaveNothingWhenCancelledOrCutOff) {
    constexpr qint64 kSize = 50 * 1024 * 1024;
    const QByteArray body = largeBody(kSize);
    const QByteArray attachment = "Content-Disposition: attachment; filename=\"big.bin\"\r\n";
    for (const char* path : {"/big.bin", "/cancel.bin", "/cut.bin", "/popup.bin"}) {
        server->route(path, body, "application/octet-stream");
        server->setHeaders(path, attachment);
        server->setPacing(path, 512 * 1024, 40, QByteArray(path) == "/cut.bin" ? 10 * 1024 * 1024 : -1);
    }
    QList<QPointer<Download>> requested;
    QObject::connect(browser, &WebBrowser::DownloadRequested, [&](Download* d) { requested.append(d); });
    int refused = 0;
    QObject::connect(browser, &WebBrowser::Refused, [&](WebBrowser::Refusal what) {
        EXPECT_EQ(what, WebBrowser::Refusal::Download);
        ++refused;
    });
    QTemporaryDir target;
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);

    ASSERT_TRUE(browser->Navigate(server->url("/cut.bin")));
    ASSERT_TRUE(waitUntil([&] { return requested.size() == 1; }));
    QPointer<Download> cut = requested.takeLast();
    const QString cutPath = target.filePath(QStringLiteral("cut.bin"));
    cut->accept(cutPath);
    ASSERT_TRUE(waitUntil([&] { return cut->state() == Download::State::Failed; }, 60000)) << int(cut->state());
    EXPECT_LT(cut->receivedBytes(), kSize);

    // A link with a response the browser cannot show: proposed under the server's name in
    // the download folder, received into "big.bin.part" meanwhile.
    server->route("/links.html", page("Links", "<a id=l href=big.bin style=\"display:block;width:300px;height:150px;"
                                               "background:#ccc\">big</a><a href=popup.bin target=_blank "
                                               "style=\"display:block;width:300px;height:150px\">popup</a>"));
    ASSERT_TRUE(load(server->url("/links.html")));
    // A download the page starts by itself is refused, before anything is received.
    const int before = server->requestCount("/popup.bin");
    evaluate(QStringLiteral("var a = document.createElement('a'); a.href = 'popup.bin'; a.download = '';"
                            " document.body.appendChild(a); a.click();"));
    ASSERT_TRUE(waitUntil([&] { return refused == 1; }));
    EXPECT_EQ(server->requestCount("/popup.bin"), before + 1);
    EXPECT_TRUE(requested.isEmpty());
    pointerAt(globalOf(QPoint(150, 75)), 1);
    ASSERT_TRUE(waitUntil([&] { return requested.size() == 1; }));
    QPointer<Download> big = requested[0];
    EXPECT_EQ(big->proposedPath(), downloads + QStringLiteral("/big.bin"));
    EXPECT_EQ(big->state(), Download::State::Asking);
    const QString chosen = target.filePath(QStringLiteral("chosen.bin"));
    big->accept(chosen);
    // While it runs: progress between nothing and all, the final name absent, and a file
    // that appears under the chosen name meanwhile (not confirmed by the user) is kept.
    QList<qint64> progress;
    QObject::connect(big, &Download::Changed, [&] { progress.append(big->receivedBytes()); });
    ASSERT_TRUE(waitUntil([&] { return big->receivedBytes() > 0 && big->receivedBytes() < kSize; }));
    EXPECT_EQ(big->totalBytes(), kSize);
    EXPECT_FALSE(QFileInfo::exists(chosen));
    // Nothing in the download folder: it is received where only the program looks.
    EXPECT_TRUE(QDir(downloads).entryList(QDir::Files | QDir::Hidden).isEmpty());
    {
        QFile other(chosen);
        ASSERT_TRUE(other.open(QIODevice::WriteOnly));
        other.write("not yours");
    }
    ASSERT_TRUE(waitUntil([&] { return big->state() == Download::State::Completed; }, 120000))
        << int(big->state()) << " " << big->receivedBytes();
    int between = 0;
    for (qint64 n : progress) between += n > 0 && n < kSize;
    EXPECT_GE(between, 3) << "progress while it ran";
    EXPECT_EQ(big->path(), target.filePath(QStringLiteral("chosen (2).bin")));
    EXPECT_EQ(fileContent(chosen), QByteArray("not yours"));
    const QByteArray arrived = fileContent(big->path());
    EXPECT_EQ(arrived.size(), kSize);
    EXPECT_TRUE(arrived == body) << "bytes differ";
    EXPECT_FALSE(QFileInfo::exists(downloads + QStringLiteral("/big.bin.part")));

    // Cancelled while running, and cut off by the server: reported, nothing left.
    ASSERT_TRUE(browser->Navigate(server->url("/cancel.bin")));
    ASSERT_TRUE(waitUntil([&] { return requested.size() == 2; }));
    QPointer<Download> cancelled = requested[1];
    const QString cancelledPath = target.filePath(QStringLiteral("cancelled.bin"));
    cancelled->accept(cancelledPath);
    ASSERT_TRUE(waitUntil([&] { return cancelled->receivedBytes() > 0; }));
    cancelled->cancel();
    EXPECT_EQ(cancelled->state(), Download::State::Cancelled);


    // A download in a window the person's click opened goes on after the window is closed
    // (as by the sweep), and the user is asked only once it is known to be a download.
    ASSERT_TRUE(load(server->url("/links.html")));
    pointerAt(globalOf(QPoint(150, 225)), 1);
    ASSERT_TRUE(waitUntil([&] { return requested.size() == 3; }));
    QPointer<Download> fromPopup = requested[2];
    closeAllBrowserWindows(*session);
    fromPopup->accept(target.filePath(QStringLiteral("popup.bin")));
    ASSERT_TRUE(waitUntil([&] { return fromPopup->state() == Download::State::Completed; }, 120000));
    EXPECT_EQ(QFileInfo(target.filePath(QStringLiteral("popup.bin"))).size(), kSize);

    // Nothing of the cancelled and the cut-off download stays, under any name.
    EXPECT_FALSE(QFileInfo::exists(cancelledPath));
    EXPECT_FALSE(QFileInfo::exists(cutPath));
    EXPECT_EQ(refused, 1);
    ASSERT_TRUE(waitUntil([&] { return QDir(downloads).entryList(QDir::Files | QDir::Hidden).isEmpty(); }))
        << QDir(downloads).entryList(QDir::Files | QDir::Hidden).join(QLatin1Char(' ')).toStdString();
}

TEST_F(WebEngineBrowserTest, LoginsAreAskedForThePagesOwnSiteUntilRefusedAndARefusalShowsTheSitesPage) {
    const QByteArray refusal = page("Refused 401", "<p>no entry</p>");
    server->route("/secret.html", page("Secret", "<p>inside</p>"));
    server->requireLogin("/secret.html", "Vault", "ann", "pa:ss w", refusal);
    server->route("/other.html", page("Other Secret", "<p>inside</p>"));
    server->requireLogin("/other.html", "Other realm", "ann", "x", refusal);
    server->route("/popup-secret.html", page("Popup Secret", "<p>inside</p>"));
    server->requireLogin("/popup-secret.html", "Popup realm", "ann", "x", page("Popup Refused", ""));

    QList<LoginRequest> asked;
    bool answer = true;
    browser->loginPrompt = [&](LoginRequest& request) {
        asked.append(request);
        request.user = QStringLiteral("ann");
        request.password = QStringLiteral("pa:ss w");
        return answer;
    };
    ASSERT_TRUE(load(server->url("/secret.html")));
    EXPECT_EQ(browser->LocationName(), QStringLiteral("Secret"));
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].realm, QStringLiteral("Vault"));
    EXPECT_EQ(asked[0].site.host(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(asked[0].site.port(), server->port());
    EXPECT_FALSE(asked[0].proxy);

    // Refused: the server's own 401 page.
    answer = false;
    ASSERT_TRUE(load(server->url("/other.html")));
    EXPECT_EQ(browser->LocationName(), QStringLiteral("Refused 401"));
    EXPECT_EQ(asked.size(), 2);

    // The refused site's own requests, and another site's, ask nothing: each is
    // refused at once and counted. The person's own next step asks again.
    QStringList refusals;
    QObject::connect(browser, &WebBrowser::Refused, [&](WebBrowser::Refusal what, const Denial& details) {
        if (what == WebBrowser::Refusal::Dialog) refusals << details.text;
    });
    evaluate(QStringLiteral("window.done = '';"
                            "const asked = [1, 2, 3].map(n => fetch('other.html?' + n).then(r => r.status));"
                            "asked.push(fetch('%1', {mode: 'no-cors', credentials: 'include'}).then(() => 'other site'));"
                            "Promise.all(asked).then(all => window.done = all.join(' '));")
                 .arg(QStringLiteral("http://localhost:%1/secret.html").arg(server->port())));
    ASSERT_TRUE(waitUntil([&] { return !evaluate(QStringLiteral("window.done")).toString().isEmpty(); }));
    EXPECT_EQ(evaluate(QStringLiteral("window.done")).toString(), QStringLiteral("401 401 401 other site"));
    EXPECT_EQ(asked.size(), 2);
    EXPECT_EQ(refusals.count(QStringLiteral("Login: Other realm")), 3) << refusals.join(QLatin1Char(',')).toStdString();
    EXPECT_EQ(refusals.count(QStringLiteral("Login: Vault")), 1) << refusals.join(QLatin1Char(',')).toStdString();
    ASSERT_TRUE(load(server->url("/other.html")));
    EXPECT_EQ(asked.size(), 3);

    // A popup window never asks: it shows the refusal.
    answer = true;
    evaluate(QStringLiteral("window.open('popup-secret.html')"));
    const bool refused = waitUntil([] { return browserWindowTitled("Popup Refused - Microsoft Internet Explorer"); });
    ASSERT_TRUE(refused) << server->requestCount("/popup-secret.html");
    EXPECT_EQ(asked.size(), 3);
}

TEST_F(WebEngineBrowserTest, FullScreenShowsThePageAloneAndEscRestoresTheWindowWhilePermissionsAreDenied) {
    server->route("/video.html",
                  page("Video", "<button id=b style=\"width:300px;height:150px\" "
                                "onclick=\"document.documentElement.requestFullscreen().then("
                                "function(){document.title='full'},function(e){document.title='refused '+e})\">go</button>"));
    QStringList permissions;
    QObject::connect(browser, &WebBrowser::Refused, [&](WebBrowser::Refusal what, const Denial& details) {
        if (what == WebBrowser::Refusal::Permission) permissions << details.text;
    });
    ASSERT_TRUE(load(server->url("/video.html")));

    // Permissions: denied at once, and no window asks the user.
    const int windowsBefore = QApplication::topLevelWidgets().size();
    EXPECT_EQ(evaluate(QStringLiteral("Notification.permission")).toString(), QStringLiteral("default"));
    evaluate(QStringLiteral("Notification.requestPermission().then(function(p){window.notify=p});"
                            "navigator.geolocation.getCurrentPosition(function(){window.geo='granted'},"
                            "function(e){window.geo='error '+e.code});"
                            "navigator.mediaDevices.getUserMedia({audio:true}).then(function(){window.mic='granted'},"
                            "function(e){window.mic=e.name})"));
    ASSERT_TRUE(waitUntil([&] { return evaluate(QStringLiteral("window.notify")).toString() == "denied"; }));
    ASSERT_TRUE(waitUntil([&] { return evaluate(QStringLiteral("window.geo")).toString() == "error 1"; }));
    ASSERT_TRUE(waitUntil([&] { return !evaluate(QStringLiteral("window.mic")).toString().isEmpty(); }));
    EXPECT_NE(evaluate(QStringLiteral("window.mic")).toString(), QStringLiteral("granted"));
    EXPECT_EQ(QApplication::topLevelWidgets().size(), windowsBefore);
    // Each refusal is reported, to be counted and listed, with what was asked.
    EXPECT_TRUE(permissions.contains(QStringLiteral("Notifications")) && permissions.contains(QStringLiteral("Geolocation")))
        << permissions.join(QLatin1Char(' ')).toStdString();

    // Full screen from a real click (a page may ask only on a user's gesture).
    host->move(40, 30);
    ASSERT_TRUE(waitUntil([&] { return host->pos() == QPoint(40, 30); }));
    const QRect frame = host->frameGeometry(), inner = host->geometry();
    QWebEnginePage* pageOf = shownPage();
    ASSERT_TRUE(clickPage(QPoint(150, 75))) << "the page never saw the click";
    ASSERT_TRUE(waitUntil([&] { return browser->LocationName() == "full"; })) << browser->LocationName().toStdString();
    ASSERT_TRUE(browser->isFullScreen());
    QWidget* alone = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowState().testFlag(Qt::WindowFullScreen)) alone = w;
    ASSERT_NE(alone, nullptr);
    const QRect screen = alone->screen()->geometry();
    ASSERT_TRUE(waitUntil([&] { return alone->geometry() == screen; })) << alone->geometry().width();
    EXPECT_FALSE(alone->windowTitle().endsWith(QLatin1String("Microsoft Internet Explorer")));
    EXPECT_TRUE(host->isVisible());  // the window stays as it was behind the page

    run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")});
    ASSERT_TRUE(waitUntil([&] { return !browser->isFullScreen(); }));
    ASSERT_TRUE(waitUntil([&] { return evaluate(QStringLiteral("document.fullscreenElement === null")).toBool(); }));
    EXPECT_EQ(host->frameGeometry(), frame);
    EXPECT_EQ(host->geometry(), inner);
    EXPECT_EQ(shownPage(), pageOf);
    EXPECT_EQ(pageOf->url(), server->url("/video.html"));
    EXPECT_EQ(browser->widget()->geometry(), QRect(0, 0, 900, 700));

    // The page's own exit request ends it as well.
    pointerAt(globalOf(QPoint(150, 75)), 1);
    ASSERT_TRUE(waitUntil([&] { return browser->isFullScreen(); }));
    // (While full screen the browser's view, with its page, is in the full-screen window.)
    EXPECT_EQ(browser->widget()->window()->windowState() & Qt::WindowFullScreen, Qt::WindowFullScreen);
    pageOf->runJavaScript(QStringLiteral("document.exitFullscreen()"));
    ASSERT_TRUE(waitUntil([&] { return !browser->isFullScreen(); }));
    EXPECT_EQ(host->frameGeometry(), frame);
}

// The built program: what a page stored seconds before Ctrl+E is there at the next start;
// a second instance started meanwhile runs beside it on a profile of its own; the login
// dialog lets the person into a protected site; a download goes through the save dialog
// into the downloads window, which the sweep leaves alone and Escape closes. All of it
// keeps one data folder.
TEST(BrowserProfileJourney, StoredDataOutlivesCtrlEAndASecondInstanceRunsLoginsAndDownloadsAsk) {
    HttpServer server;
    ASSERT_TRUE(server.ok());
    server.route("/set.html", page("Set", "<script>localStorage.setItem('k', 'v1')</script>"));
    server.setHeaders("/set.html", "Set-Cookie: visit=42; Max-Age=3600; Path=/\r\n");
    server.route("/check.html", page("Check", "<script>document.title = 'stored ' + localStorage.getItem('k')</script>"));
    server.route("/dl.html", page("Downloads", "<a href=file.bin style=\"display:block;height:300px;background:#ccf\">get</a>"));
    const QByteArray body = largeBody(8 * 1024 * 1024);
    server.route("/file.bin", body, "application/octet-stream");
    server.setHeaders("/file.bin", "Content-Disposition: attachment; filename=\"file.bin\"\r\n");
    server.setPacing("/file.bin", 256 * 1024, 50);
    QTemporaryDir profile;
    auto start = [&](TarnwickProcess& program, const char* path, const QString& title) {
        program.setIni("[Tarnwick]\r\nDefaultURL=" + server.url(path).toUtf8() + "\r\n");
        program.setEnv(QStringLiteral("XDG_DATA_HOME"), profile.filePath(QStringLiteral("data")));
        program.setEnv(QStringLiteral("XDG_CACHE_HOME"), profile.filePath(QStringLiteral("cache")));
        return program.start() && program.waitForMainWindow() != 0 && program.waitForMainTitle(title);
    };

    TarnwickProcess first;
    ASSERT_TRUE(start(first, "/set.html", QStringLiteral("Set - Tarnwick"))) << first.mainTitle().toStdString();
    // The second instance: off the record, so it sees neither the cookie nor the storage.
    {
        TarnwickProcess second;
        ASSERT_TRUE(start(second, "/check.html", QStringLiteral("stored null - Tarnwick"))) << second.log().toStdString();
        EXPECT_FALSE(server.lastRequest("/check.html").contains("visit=42"));
        ASSERT_TRUE(second.key(QStringLiteral("ctrl+e")));
        ASSERT_TRUE(second.waitForExit(10000));
        EXPECT_EQ(second.exitCode(), 0);
    }
    ASSERT_TRUE(first.key(QStringLiteral("ctrl+e")));
    QElapsedTimer ending;
    ending.start();
    ASSERT_TRUE(first.waitForExit(10000));
    std::printf("Ctrl+E to the end of the process: %lld ms\n", static_cast<long long>(ending.elapsed()));
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_FALSE(first.crashed());

    TarnwickProcess third;
    ASSERT_TRUE(start(third, "/check.html", QStringLiteral("stored v1 - Tarnwick"))) << third.mainTitle().toStdString();
    EXPECT_TRUE(server.lastRequest("/check.html").contains("\r\nCookie: visit=42\r\n"))
        << server.lastRequest("/check.html").toStdString();

    // A site behind a login: the dialog asks, the page opens with what the person typed.
    server.route("/members.html", page("Members", "<p>inside</p>"));
    server.requireLogin("/members.html", "Club", "ann", "secret", page("Refused", ""));
    ASSERT_TRUE(third.enterAddress(server.url("/members.html")));
    const std::uint32_t login = third.waitForOwnWindow(QStringLiteral("Login"));
    ASSERT_NE(login, 0u);
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(login)}));
    ASSERT_TRUE(third.type(QStringLiteral("ann")));
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Tab")}));
    ASSERT_TRUE(third.type(QStringLiteral("secret")));
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")}));
    ASSERT_TRUE(third.waitForMainTitle(QStringLiteral("Members - Tarnwick"))) << third.mainTitle().toStdString();

    // A download: the save dialog proposes the server's name; the file is saved where the
    // person says, listed in the downloads window while it runs.
    ASSERT_TRUE(third.enterAddress(server.url("/dl.html")));
    ASSERT_TRUE(third.waitForMainTitle(QStringLiteral("Downloads - Tarnwick")));
    ASSERT_TRUE(third.pointerTo(200, third.pageTop() + 100) && third.click());
    const std::uint32_t saveDialog = third.waitForOwnWindow(QStringLiteral("Save File"));
    ASSERT_NE(saveDialog, 0u);
    // The pointer leaves the link, so the sweep below has no link to open.
    ASSERT_TRUE(third.pointerTo(200, third.pageTop() + 420));
    QTemporaryDir target;
    const QString saved = target.filePath(QStringLiteral("saved.bin"));
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(saveDialog)}));
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+a")}));
    ASSERT_TRUE(third.type(saved));
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")}));
    const std::uint32_t downloads = third.waitForOwnWindow(QStringLiteral("Downloads"));
    ASSERT_NE(downloads, 0u);
    EXPECT_FALSE(QFileInfo::exists(saved)) << "complete already: the test's pacing is too fast";
    // The sweep runs on (a foreign browser window goes) and leaves the downloads window.
    QProcess foreign;
    foreign.start(QStringLiteral(TARNWICK_BINARY_DIR "/xwin"), {QStringLiteral("--title"), QStringLiteral("Microsoft Internet Explorer")});
    ASSERT_TRUE(foreign.waitForFinished(10000));
    EXPECT_TRUE(third.desktop().exists(downloads));
    ASSERT_TRUE(waitUntil([&] { return fileContent(saved) == body; }, 60000));
    EXPECT_TRUE(third.desktop().exists(downloads));
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                                                    QString::number(downloads), QStringLiteral("key"), QStringLiteral("Escape")}));
    EXPECT_TRUE(waitUntil([&] { return !third.desktop().exists(downloads); })) << "Escape left the downloads window";
    EXPECT_TRUE(third.running());
    ASSERT_TRUE(third.closeWindow(third.mainWindow()));
    ASSERT_TRUE(third.waitForExit(10000)) << third.log().right(3000).toStdString();
    // The engine kept nothing beside the profile's own folder (not even the preferences it
    // writes while a profile is set up, nor the second instance's).
    const QStringList kept = QDir(profile.filePath(QStringLiteral("data"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    EXPECT_EQ(kept, QStringList{QStringLiteral("tarnwick")}) << qPrintable(kept.join(QStringLiteral(", ")));
}

}  // namespace
