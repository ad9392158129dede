// The settings and about windows of the built program, driven from outside: their
// buttons pressed with the real pointer change Tarnwick.ini (the history's clear is a
// journey).

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include "app/frm_main.h"
#include "platform/ui/looks.h"
#include "app_fixture.h"

namespace {

class AppSettings : public AppTest {
protected:
    // Clicks the point (x, y) of a window's client area, in pixels.
    bool clickIn(std::uint32_t window, int x, int y) {
        const auto where = app.desktop().geometry(window);
        if (!where) return false;
        return app.pointerToScreen(where->x + x, where->y + y) && app.click(1);
    }

    std::uint32_t openSettings() {
        EXPECT_TRUE(app.key({QStringLiteral("alt+f"), QStringLiteral("s")}));
        return app.waitForOwnWindow(QStringLiteral("Tarnwick Settings"));
    }

    bool iniBecomes(const QByteArray& bytes) {
        return waitUntil([&] { return app.readIni() == bytes; }, 5000);
    }

    // Button centres in the dialog's client area (pixels at 96 dpi): the frame's buttons
    // lie at (8, 40) inside the frame, which lies at (8, 8).
    static constexpr int kRowY = 8 + 40 + 12;
    static constexpr int kSelectX = 8 + 8 + 36;
    static constexpr int kUseCurrentX = 8 + 88 + 36;
    static constexpr int kUseDefaultX = 8 + 168 + 36;
};

}  // namespace

TEST_F(AppSettings, StoreButtonsWriteTheStartPageAndLeaveTheBrowserAlone) {
    startAt(QStringLiteral("/start"), QStringLiteral("Settings"));
    const QString current = server.url(QStringLiteral("/start"));
    const std::uint32_t dialog = openSettings();
    ASSERT_NE(dialog, 0u) << "no settings dialog";

    // "Use Default": the built-in start page.
    ASSERT_TRUE(clickIn(dialog, kUseDefaultX, kRowY));
    EXPECT_TRUE(iniBecomes("[Tarnwick]\r\nDefaultURL=" + kDefaultStartPage.toUtf8() + "\r\n")) << app.readIni().constData();

    // "Use Current": the address box's text.
    ASSERT_TRUE(clickIn(dialog, kUseCurrentX, kRowY));
    EXPECT_TRUE(iniBecomes("[Tarnwick]\r\nDefaultURL=" + current.toUtf8() + "\r\n")) << app.readIni().constData();

    // "Select" with a typed address: the text box's text as it stands.
    ASSERT_TRUE(clickIn(dialog, 8 + 8 + 100, 8 + 16 + 9));  // into the text box
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+a")}));
    ASSERT_TRUE(app.type(QStringLiteral("http://typed.example/a b")));
    ASSERT_TRUE(clickIn(dialog, kSelectX, kRowY));
    EXPECT_TRUE(iniBecomes("[Tarnwick]\r\nDefaultURL=http://typed.example/a b\r\n")) << app.readIni().constData();

    // The browser stayed where it was.
    EXPECT_EQ(app.mainTitle(), QStringLiteral("Settings - Tarnwick"));
    EXPECT_EQ(server.requestCount(QStringLiteral("/a b")), 0);

    // Alt+C closes the dialog.
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("alt+c")}));
    EXPECT_TRUE(waitUntil([&] { return !app.desktop().exists(dialog); }, 5000)) << "the dialog stayed";
    EXPECT_TRUE(app.running());
}

TEST_F(AppSettings, AboutWindowShowsOnceWithItsCaption) {
    startAt(QStringLiteral("/start"), QStringLiteral("About"));
    // File > About Tarnwick... (the menu's "&About" access key), twice.
    ASSERT_TRUE(app.key({QStringLiteral("alt+f"), QStringLiteral("a")}));
    const std::uint32_t about = app.waitForOwnWindow(QStringLiteral("About Tarnwick"));
    ASSERT_NE(about, 0u) << "no about window";
    ASSERT_TRUE(app.key({QStringLiteral("alt+f"), QStringLiteral("a")}));
    // Barrier: a later key's reload has reached the server, so the second About was handled.
    const int loads = server.requestCount(QStringLiteral("/start"));
    ASSERT_TRUE(app.key(QStringLiteral("ctrl+r")));
    ASSERT_TRUE(waitForRequests(QStringLiteral("/start"), loads + 1)) << "the reload after the second About never came";
    int count = 0;
    for (std::uint32_t window : app.ownWindows()) count += app.desktop().title(window) == QLatin1String("About Tarnwick");
    EXPECT_EQ(count, 1);
    // Exit ends the program while it is open.
    EXPECT_TRUE(exitFromMenu());
    expectEndsCleanly();
}

// The .deb as a user gets it, built here: lintian finds nothing in it, not even at its
// info and pedantic levels (copyright file, changelog, manual page, stripped notes, ...),
// its program is hardened; unpacked into a throw-away root, its desktop entry and
// metainfo are valid, and the installed program, in a folder it may not write, keeps its
// start page in the user's own Tarnwick.ini.
TEST_F(AppSettings, InstalledProgramKeepsItsSettingsPerUser) {
    QByteArray output;
    ASSERT_TRUE(runTool(QStringLiteral(TARNWICK_CMAKE_COMMAND),
                        {QStringLiteral("--build"), QStringLiteral(TARNWICK_BINARY_DIR), QStringLiteral("--target"),
                         QStringLiteral("tarnwick_deb")},
                        300000, &output))
        << output.constData();
    const QFileInfoList debs = QDir(QStringLiteral(TARNWICK_BINARY_DIR))
                                   .entryInfoList({QStringLiteral("tarnwick_*.deb")}, QDir::Files, QDir::Time);
    ASSERT_FALSE(debs.isEmpty()) << "no package built";
    EXPECT_TRUE(runTool(QStringLiteral("lintian"),
                        {QStringLiteral("--display-info"), QStringLiteral("--pedantic"), QStringLiteral("--fail-on"),
                         QStringLiteral("error,warning,info,pedantic"), debs.first().filePath()},
                        300000, &output))
        << output.constData();
    QTemporaryDir root;
    ASSERT_TRUE(runTool(QStringLiteral("dpkg"), {QStringLiteral("-x"), debs.first().filePath(), root.path()}));
    const QString share = root.filePath(QStringLiteral("usr/share/"));
    EXPECT_TRUE(runTool(QStringLiteral("desktop-file-validate"),
                        {share + QStringLiteral("applications/org.tarnwick.Tarnwick.desktop")}));
    const QString metainfo = share + QStringLiteral("metainfo/org.tarnwick.Tarnwick.metainfo.xml");
    EXPECT_TRUE(runTool(QStringLiteral("appstreamcli"), {QStringLiteral("validate"), QStringLiteral("--no-net"), metainfo}));
    EXPECT_TRUE(QFile::exists(share + QStringLiteral("icons/hicolor/256x256/apps/org.tarnwick.Tarnwick.png")));
    // The metainfo names the licence the copyright file gives.
    const QByteArray copyright = readFile(share + QStringLiteral("doc/tarnwick/copyright"));
    EXPECT_TRUE(copyright.contains("\nFiles: *\nCopyright: ") && copyright.contains("\nLicense: MIT\n")) << copyright.constData();
    EXPECT_TRUE(readFile(metainfo).contains("<project_license>MIT</project_license>"));
    // Hardened: full RELRO with immediate binding, position-independent, fortified calls.
    const QString bin = root.filePath(QStringLiteral("usr/bin"));
    ASSERT_TRUE(runTool(QStringLiteral("readelf"), {QStringLiteral("-lWd"), QStringLiteral("--dyn-syms"), bin + QStringLiteral("/tarnwick")},
                        10000, &output));
    for (const char* mark : {"GNU_RELRO", "BIND_NOW", "Flags: NOW PIE", "__stack_chk_fail", "_chk@"})
        EXPECT_TRUE(output.contains(mark)) << "the packaged program lacks " << mark;

    // An administrator's default beside the binary, in a folder without write access
    // (not even for root), served by the demo pages.
    QFile demo(QStringLiteral(TARNWICK_SOURCE_DIR "/assets/demo/offer.html"));
    ASSERT_TRUE(demo.open(QIODevice::ReadOnly));
    server.route(QStringLiteral("/offer.html"), demo.readAll());
    server.route(QStringLiteral("/other"), page(QStringLiteral("Other")));
    const QByteArray shared = iniWith(server.url(QStringLiteral("/offer.html"))) + "Admin=kept\r\n";
    {
        QFile ini(bin + QStringLiteral("/Tarnwick.ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly) && ini.write(shared) == shared.size());
    }
    ASSERT_TRUE(QFile::setPermissions(bin, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                               QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther));
    app.setBinary(bin + QStringLiteral("/tarnwick"));
    const QString own = app.home() + QStringLiteral("/.config/tarnwick/Tarnwick.ini");
    auto readOwn = [&] {
        QFile file(own);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };

    // Until the user stores something, the shared default is read.
    ASSERT_TRUE(app.start()) << qPrintable(app.error());
    ASSERT_NE(app.waitForMainWindow(), 0u) << "no main window";
    ASSERT_TRUE(app.waitForMainTitle(QStringLiteral("The offer, without popups - Tarnwick")))
        << "caption: " << qPrintable(app.mainTitle());
    EXPECT_FALSE(QFile::exists(own));

    // "Use Current" on another page: the user's copy starts from the shared file.
    ASSERT_TRUE(app.enterAddress(server.url(QStringLiteral("/other"))));
    ASSERT_TRUE(app.waitForMainTitle(QStringLiteral("Other - Tarnwick")));
    const std::uint32_t dialog = openSettings();
    ASSERT_NE(dialog, 0u) << "no settings dialog";
    ASSERT_TRUE(clickIn(dialog, kUseCurrentX, kRowY));
    const QByteArray expected = iniWith(server.url(QStringLiteral("/other"))) + "Admin=kept\r\n";
    EXPECT_TRUE(waitUntil([&] { return readOwn() == expected; }, 5000)) << readOwn().constData();
    QFile sharedFile(bin + QStringLiteral("/Tarnwick.ini"));
    ASSERT_TRUE(sharedFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(sharedFile.readAll(), shared);
    EXPECT_TRUE(exitFromMenu());
    ASSERT_TRUE(app.waitForExit(10000));

    // The next start reads the user's copy.
    ASSERT_TRUE(app.start()) << qPrintable(app.error());
    ASSERT_NE(app.waitForMainWindow(), 0u) << "no main window at the second start";
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("Other - Tarnwick"))) << "caption: " << qPrintable(app.mainTitle());
    QFile::setPermissions(bin, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}
