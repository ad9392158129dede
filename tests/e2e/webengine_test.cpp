// The Qt WebEngine adapter against the real engine: pages come from a loopback HTTP
// server, the pointer moves through the X server (xdotool), and the browser's own
// new-window windows are checked as X11 windows under openbox.

#include "webengine_fixture.h"

namespace {

TEST_F(WebEngineBrowserTest, NavigateRunsTheLoadThroughReadyStatesAndEvents) {
    EXPECT_FALSE(browser->Navigate(QStringLiteral("   ")));
    EXPECT_FALSE(browser->Refresh());
    EXPECT_EQ(browser->ReadyState(), 0);
    EXPECT_EQ(browser->Document(), nullptr);
    EXPECT_TRUE(browser->LocationURL().isEmpty());

    ASSERT_TRUE(load(server->url("/a.html")));
    EXPECT_EQ(browser->ReadyState(), 4);
    ASSERT_FALSE(states.isEmpty());
    EXPECT_EQ(states.first(), 1);
    EXPECT_EQ(states.last(), 4);
    for (int i = 1; i < states.size(); ++i) EXPECT_LE(states[i - 1], states[i]) << "states went back";
    EXPECT_TRUE(titles.contains(QStringLiteral("Page A")));
    EXPECT_EQ(browser->LocationName(), QStringLiteral("Page A"));
    EXPECT_EQ(browser->LocationURL(), server->url("/a.html"));
    EXPECT_NE(browser->Document(), nullptr);
    // The document object stays the same while the page does.
    EXPECT_EQ(browser->Document(), browser->Document());

    // The next page: a new document object, and back/forward through the history.
    const std::shared_ptr<HtmlDocument> first = browser->Document();
    ASSERT_TRUE(load(server->url("/b.html")));
    EXPECT_NE(browser->Document(), first);
    EXPECT_FALSE(browser->GoForward());
    const int before = completes;
    EXPECT_TRUE(browser->GoBack());
    ASSERT_TRUE(waitUntil([&] { return completes > before && browser->LocationName() == "Page A"; }));
    EXPECT_EQ(browser->LocationURL(), server->url("/a.html"));
    EXPECT_FALSE(browser->GoBack());
    EXPECT_TRUE(browser->GoForward());
    ASSERT_TRUE(waitUntil([&] { return browser->LocationName() == "Page B"; }));

    // Refresh reloads from the server.
    const int requests = server->requestCount("/b.html");
    EXPECT_TRUE(browser->Refresh());
    ASSERT_TRUE(waitUntil([&] { return server->requestCount("/b.html") > requests; }));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("local page.html"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(page("Local File", "<p>from disk</p>"));
    file.close();
    ASSERT_TRUE(load(path));
    EXPECT_EQ(browser->LocationName(), QStringLiteral("Local File"));
    EXPECT_EQ(browser->LocationURL(), QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
    EXPECT_TRUE(browser->LocationURL().endsWith(QStringLiteral("/local%20page.html")));
}

TEST_F(WebEngineBrowserTest, HoveringALinkGivesItsAbsoluteAddressAndLeavingClearsIt) {
    server->route("/links.html",
                  page("Links", "<a id=l href=\"target.html?x=1\" style=\"display:block;width:400px;height:200px;"
                                "background:#ccc\">target</a><div style=\"height:300px\"></div>"));
    ASSERT_TRUE(load(server->url("/links.html")));
    pointerAt(globalOf(QPoint(600, 600)));
    settle(100);
    statusTexts.clear();

    pointerAt(globalOf(QPoint(200, 100)));
    const QString target = server->url("/target.html") + QStringLiteral("?x=1");
    ASSERT_TRUE(waitUntil([&] { return statusTexts.contains(target); })) << statusTexts.join(QLatin1Char('|')).toStdString();

    pointerAt(globalOf(QPoint(600, 600)));
    ASSERT_TRUE(waitUntil([&] { return !statusTexts.isEmpty() && statusTexts.last().isEmpty(); }));
}

TEST_F(WebEngineBrowserTest, OnlyHtmlDocumentsCanBeBound) {
    ASSERT_TRUE(load(server->url("/plain.txt")));
    EXPECT_EQ(browser->ReadyState(), 4);
    EXPECT_EQ(browser->Document(), nullptr);

    ASSERT_TRUE(load(server->url("/x.xhtml")));
    EXPECT_NE(browser->Document(), nullptr);

    ASSERT_TRUE(load(server->url("/a.html")));
    EXPECT_NE(browser->Document(), nullptr);

    // A page that failed to load still completes (the engine's error page).
    ASSERT_TRUE(load(QStringLiteral("http://127.0.0.1:1/")));
    EXPECT_EQ(browser->ReadyState(), 4);
}

TEST_F(WebEngineBrowserTest, InnerHtmlIsTheMarkupInsideTheRootAndNeverAnswersForAGoneDocument) {
    server->route("/markup.html", "<!DOCTYPE html><html><head><title>M</title></head><body><p id=\"x\">Hello &amp; bye</p></body></html>");
    ASSERT_TRUE(load(server->url("/markup.html")));
    std::shared_ptr<HtmlDocument> document = browser->Document();
    ASSERT_NE(document, nullptr);

    std::optional<QString> markup;
    bool answered = false;
    document->documentElementInnerHTML([&](std::optional<QString> m) {
        markup = std::move(m);
        answered = true;
    });
    ASSERT_TRUE(waitUntil([&] { return answered; }));
    ASSERT_TRUE(markup.has_value());
    EXPECT_EQ(*markup, QStringLiteral("<head><title>M</title></head><body><p id=\"x\">Hello &amp; bye</p></body>"));

    // A document replaced by the next page answers nothing any more.
    int lateCalls = 0;
    ASSERT_TRUE(load(server->url("/a.html")));
    document->documentElementInnerHTML([&](std::optional<QString>) { ++lateCalls; });
    settle(500);
    EXPECT_EQ(lateCalls, 0);

    // The browser goes away while the page is busy and the answer is pending: no call.
    std::shared_ptr<HtmlDocument> current = browser->Document();
    ASSERT_NE(current, nullptr);
    evaluate(QStringLiteral("setTimeout(function() { var t = Date.now(); while (Date.now() - t < 1500); }, 0)"));
    current->documentElementInnerHTML([&](std::optional<QString>) { ++lateCalls; });
    host.reset();
    settle(2500);
    EXPECT_EQ(lateCalls, 0);
    // A document whose browser is gone answers nothing and refuses commands.
    EXPECT_FALSE(current->execCommand(QStringLiteral("copy")));
}

TEST_F(WebEngineBrowserTest, CopyAndPasteGoThroughTheClipboard) {
    server->route("/edit.html", page("Edit", "<p id=t>CopyMe123</p><input id=in value=\"\">"));
    ASSERT_TRUE(load(server->url("/edit.html")));
    std::shared_ptr<HtmlDocument> document = browser->Document();
    ASSERT_NE(document, nullptr);
    host->activateWindow();
    browser->widget()->setFocus();

    QGuiApplication::clipboard()->clear();
    evaluate(QStringLiteral("var r=document.createRange();r.selectNodeContents(document.getElementById('t'));"
                            "getSelection().removeAllRanges();getSelection().addRange(r);"));
    EXPECT_TRUE(document->execCommand(QStringLiteral("copy")));
    ASSERT_TRUE(waitUntil([] { return QGuiApplication::clipboard()->text().contains(QLatin1String("CopyMe123")); }));

    QGuiApplication::clipboard()->setText(QStringLiteral("Pasted42"));
    evaluate(QStringLiteral("document.getElementById('in').focus()"));
    EXPECT_TRUE(document->execCommand(QStringLiteral("paste")));
    ASSERT_TRUE(waitUntil([&] {
        return evaluate(QStringLiteral("document.getElementById('in').value")).toString() == QLatin1String("Pasted42");
    }));

    const int requests = server->requestCount("/edit.html");
    EXPECT_TRUE(document->execCommand(QStringLiteral("refresh")));
    ASSERT_TRUE(waitUntil([&] { return server->requestCount("/edit.html") > requests; }));

    EXPECT_FALSE(document->execCommand(QStringLiteral("bold")));
    EXPECT_FALSE(document->execCommand(QString()));
}

TEST_F(WebEngineBrowserTest, SavingChoosesTheFormatFromTheFileName) {
    server->route("/save.html", page("Saved Page", "<p>SaveMarker777</p>"));
    ASSERT_TRUE(load(server->url("/save.html")));
    QTemporaryDir dir;
    const QString archive = dir.filePath(QStringLiteral("page.mht"));
    const QString complete = dir.filePath(QStringLiteral("page.html"));

    ASSERT_TRUE(browser->savePage(archive));
    auto contentOf = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    ASSERT_TRUE(waitUntil([&] { return contentOf(archive).contains("SaveMarker777"); }));
    EXPECT_TRUE(contentOf(archive).contains("multipart/related"));

    ASSERT_TRUE(browser->savePage(complete));
    ASSERT_TRUE(waitUntil([&] { return contentOf(complete).contains("SaveMarker777"); }));
    EXPECT_FALSE(contentOf(complete).contains("multipart/related"));
    EXPECT_TRUE(contentOf(complete).contains("<title>Saved Page</title>"));

    EXPECT_FALSE(browser->savePage(QString()));
}

TEST_F(WebEngineBrowserTest, PrintingKeepsThePrinterUntilTheEngineIsDone) {
    server->route("/print.html", page("Print", "<h1>PrintMarker</h1>"));
    ASSERT_TRUE(load(server->url("/print.html")));
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("out.pdf"));
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(pdf);

    std::optional<bool> outcome;
    ASSERT_TRUE(browser->printPage(std::move(printer), [&](bool ok) { outcome = ok; }));
    // One print at a time.
    EXPECT_FALSE(browser->printPage(std::make_unique<QPrinter>()));
    ASSERT_TRUE(waitUntil([&] { return outcome.has_value(); }, 60000));
    EXPECT_TRUE(*outcome);
    QFile file(pdf);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.read(5) == "%PDF-");
    // Free again for the next print.
    auto next = std::make_unique<QPrinter>();
    next->setOutputFormat(QPrinter::PdfFormat);
    next->setOutputFileName(dir.filePath(QStringLiteral("next.pdf")));
    std::optional<bool> nextOutcome;
    EXPECT_TRUE(browser->printPage(std::move(next), [&](bool ok) { nextOutcome = ok; }));
    ASSERT_TRUE(waitUntil([&] { return nextOutcome.has_value(); }, 60000));
}

TEST_F(WebEngineBrowserTest, StopEndsAPendingLoad) {
    ASSERT_TRUE(browser->Navigate(server->url("/slow.html")));
    ASSERT_TRUE(waitUntil([&] { return server->requestCount("/slow.html") > 0; }));
    EXPECT_TRUE(browser->ReadyState() == 1 || browser->ReadyState() == 3);
    EXPECT_TRUE(browser->Stop());
    ASSERT_TRUE(waitUntil([&] { return browser->ReadyState() == 4; }, 15000));
}

// A killed renderer: the page is reported dead under its address (uninitialized, no
// document) until it loads again; Refresh reloads it.
TEST_F(WebEngineBrowserTest, ARendererCrashEndsTheLoadAndTheBrowserGoesOn) {
    ASSERT_TRUE(load(server->url("/a.html")));
    const qint64 pid = shownPage()->renderProcessPid();
    ASSERT_GT(pid, 0);
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return browser->Document() == nullptr; }));
    EXPECT_EQ(browser->ReadyState(), 0);
    EXPECT_EQ(titles.last(), QStringLiteral("Page killed: Page A"));
    EXPECT_EQ(browser->LocationName(), titles.last());
    EXPECT_EQ(browser->LocationURL(), server->url("/a.html"));

    const int requests = server->requestCount("/a.html"), completed = completes;
    ASSERT_TRUE(browser->Refresh());
    ASSERT_TRUE(waitUntil([&] { return completes > completed && browser->LocationName() == QStringLiteral("Page A"); }));
    EXPECT_EQ(server->requestCount("/a.html"), requests + 1);
    ASSERT_TRUE(load(server->url("/b.html")));
    EXPECT_EQ(browser->LocationName(), QStringLiteral("Page B"));
    EXPECT_NE(browser->Document(), nullptr);
}

TEST_F(WebEngineBrowserTest, ARightClickGoesToTheBoundDocumentInsteadOfTheEngineMenu) {
    // Closes whatever menu is open; true once none is. The engine's own request for a menu
    // can come well after the click, while the test has moved on to the next binding.
    const auto closeMenus = [] {
        if (QWidget* menu = QApplication::activePopupWidget()) menu->close();
        return QApplication::activePopupWidget() == nullptr;
    };
    ASSERT_TRUE(load(server->url("/a.html")));
    std::shared_ptr<HtmlDocument> document = browser->Document();
    ASSERT_NE(document, nullptr);
    const QPoint inPage = globalOf(QPoint(300, 300));

    // Bound: the handler runs, the engine's menu stays away.
    int calls = 0;
    document->oncontextmenu = [&] {
        ++calls;
        return false;
    };
    pointerAt(inPage, 3);
    ASSERT_TRUE(waitUntil([&] { return calls == 1; }));
    settle(700);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

    // A handler that lets the page's menu show.
    document->oncontextmenu = [&] {
        ++calls;
        return true;
    };
    pointerAt(inPage, 3);
    ASSERT_TRUE(waitUntil([&] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr; }));
    EXPECT_EQ(calls, 2);
    ASSERT_TRUE(waitUntil(closeMenus));

    // Unbound (no handler): the engine's own menu.
    document->oncontextmenu = nullptr;
    pointerAt(inPage, 3);
    ASSERT_TRUE(waitUntil([&] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr; }));
    ASSERT_TRUE(waitUntil(closeMenus));
    EXPECT_EQ(calls, 2);
}

}  // namespace
