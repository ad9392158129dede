// The X11 desktop mirror against real foreign windows: an xwin process makes them on a
// private X server, once with openbox as window manager and once with none.

#include "x11_desktop_fixture.h"

namespace {

TYPED_TEST(X11DesktopTest, ForeignBrowserWindowsAreVisibleBorderedFoundAndClosed) {
    const QString page = QStringLiteral("Page - ") + kIE;
    Xwin& browser = this->xwin({"--title", kIE});
    Xwin& pageWindow = this->xwin({"--title", page});
    Xwin& dialog = this->xwin({"--title", kIE, "--type", "dialog"});
    ASSERT_FALSE(browser.ids.empty());
    Xwin& messageBox =
        this->xwin({"--title", kIE, "--type", "dialog", "--transient-for", QString::number(browser.ids[0])});
    std::vector<Xwin*> all{&browser, &pageWindow, &dialog, &messageBox};
    for (Xwin* p : all) {
        ASSERT_EQ(p->ids.size(), 1u);
        const WindowId w = p->ids[0];
        ASSERT_TRUE(waitUntil([&] { return listed(*this->desktop_, w) && this->desktop_->Style(w) == kVisibleBorder; }))
            << "style " << this->desktop_->Style(w);
    }
    EXPECT_EQ(titleOf(*this->desktop_, pageWindow.ids[0]), page);
    EXPECT_EQ(this->desktop_->TitleLength(pageWindow.ids[0]), page.size());
    EXPECT_EQ(this->desktop_->FindByTitle(page), pageWindow.ids[0]);

    // Several windows share the plain title: the first of them in walk order is found.
    const auto order = walk(*this->desktop_);
    const WindowId firstPlain = *std::find_if(order.begin(), order.end(),
                                              [&](WindowId w) { return titleOf(*this->desktop_, w) == kIE; });
    EXPECT_EQ(this->desktop_->FindByTitle(kIE), firstPlain);
    EXPECT_EQ(this->desktop_->FindByTitle(kIE.toLower()), 0u);
    EXPECT_EQ(this->desktop_->FindByTitle(QStringLiteral("Microsoft Internet")), 0u);

    // Closing by title, as the sweep does, until no window of that title is left.
    for (const QString& title : {kIE, page}) {
        for (int round = 0; round < 4; ++round) {
            const WindowId target = this->desktop_->FindByTitle(title);
            if (target == 0) break;
            EXPECT_TRUE(this->desktop_->RequestClose(target));
            EXPECT_TRUE(waitUntil([&] { return !listed(*this->desktop_, target); })) << title.toStdString();
            EXPECT_EQ(this->desktop_->Style(target), 0u);
        }
        EXPECT_EQ(this->desktop_->FindByTitle(title), 0u);
    }
    for (Xwin* p : all) {
        EXPECT_TRUE(p->finished(3000));
        EXPECT_TRUE(p->lines.contains(QStringLiteral("closed %1").arg(p->ids[0])) || p->waitForLine(QStringLiteral("closed %1").arg(p->ids[0])));
    }
}

TYPED_TEST(X11DesktopTest, StyleFollowsMappingTypeAndDecorations) {
    const bool wm = this->withWindowManager();
    struct Case {
        QStringList args;
        std::uint32_t withWm;
        std::uint32_t withoutWm;
    };
    const std::vector<Case> cases{
        {{"--title", "microsoft internet explorer"}, kVisibleBorder, kVisibleBorder},
        {{"--title", kIE + " 6"}, kVisibleBorder, kVisibleBorder},
        {{"--title", kIE, "--type", "utility"}, kVisibleBorder, kVisibleBorder},
        {{"--title", kIE, "--type", "normal"}, kVisibleBorder, kVisibleBorder},
        {{"--title", kIE, "--no-decorations"}, WindowStyle::Visible, WindowStyle::Visible},
        {{"--title", kIE, "--type", "dock"}, WindowStyle::Visible, WindowStyle::Visible},
        {{"--title", kIE, "--type", "splash"}, WindowStyle::Visible, WindowStyle::Visible},
        // Never managed by a window manager: not one of its clients at all.
        {{"--title", kIE, "--unmapped"}, 0, WindowStyle::Border},
        {{"--title", kIE, "--override-redirect"}, 0, WindowStyle::Visible},
        {{}, kVisibleBorder, kVisibleBorder},
    };
    std::vector<WindowId> windows;
    for (const Case& c : cases) {
        Xwin& p = this->xwin(c.args);
        ASSERT_EQ(p.ids.size(), 1u);
        windows.push_back(p.ids[0]);
    }
    // A window made after all the others: once it is shown, the others' state is final.
    const WindowId last = this->window({"--title", "last"});
    ASSERT_TRUE(listed(*this->desktop_, last));
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::uint32_t expected = wm ? cases[i].withWm : cases[i].withoutWm;
        EXPECT_TRUE(waitUntil([&] { return this->desktop_->Style(windows[i]) == expected; }, 2000))
            << cases[i].args.join(' ').toStdString() << ": style " << std::hex << this->desktop_->Style(windows[i]);
        EXPECT_EQ(listed(*this->desktop_, windows[i]), expected != 0) << cases[i].args.join(' ').toStdString();
        if (expected != 0 && !cases[i].args.isEmpty()) {
            EXPECT_EQ(titleOf(*this->desktop_, windows[i]), cases[i].args[1]);
        }
    }
    // Untitled.
    const WindowId untitled = windows.back();
    QString title = QStringLiteral("stale");
    EXPECT_EQ(this->desktop_->TitleLength(untitled), 0);
    EXPECT_EQ(this->desktop_->Title(untitled, title, 100), 0);
    EXPECT_TRUE(title.isEmpty());

    // Changes made later are followed: decorations removed, title replaced, the server held
    // meanwhile, so that the first change's read is still unanswered when the second's goes.
    XClient x(this->session_->display());
    const WindowId changing = windows[0];
    x.grabServer(true);
    x.setDecorations(changing, false);
    x.activeWindow();                   // a round trip: the change's event is sent
    QCoreApplication::processEvents();  // the event handled, the read sent
    x.retitle(changing, "Renamed - Microsoft Internet Explorer");
    x.activeWindow();
    QCoreApplication::processEvents();
    x.grabServer(false);
    EXPECT_TRUE(waitUntil([&] {
        return this->desktop_->Style(changing) == WindowStyle::Visible &&
               titleOf(*this->desktop_, changing) == QStringLiteral("Renamed - ") + kIE;
    })) << this->mirrorAndServer(changing);
}

TYPED_TEST(X11DesktopTest, TitlesInEveryEncodingAreReadWhole) {
    const QString unicode = QStringLiteral("Überraschung — 日本語 ✓ - ") + kIE;
    const QString latin = QStringLiteral("Café à la carte - ") + kIE;
    struct Case {
        QStringList args;
        QString expected;
    };
    QString huge = QString(100000 - kIE.size(), QLatin1Char('x')) + kIE;
    huge[0] = QLatin1Char('A');
    const std::vector<Case> cases{
        {{"--title", unicode, "--title-encoding", "utf8"}, unicode},
        {{"--title", latin, "--title-encoding", "latin1"}, latin},
        {{"--title", unicode, "--title-encoding", "ctext"}, unicode},
        {{"--title", latin, "--title-encoding", "ctext"}, latin},
        {{"--title", unicode, "--title-encoding", "wmname-utf8"}, unicode},
        // _NET_WM_NAME wins over WM_NAME (which holds '?' for what Latin-1 lacks).
        {{"--title", unicode, "--title-encoding", "both"}, unicode},
        {{"--title", huge}, huge},
        // Invalid UTF-8: replacement characters, nothing lost around them.
        {{"--title-hex", "41ff42c3", "--title-encoding", "utf8"}, QString::fromUtf8("\x41\xff\x42\xc3", 4)},
        {{"--title-hex", "41ff42", "--title-encoding", "latin1"}, QStringLiteral("A\u00ffB")},
    };
    for (const Case& c : cases) {
        const WindowId w = this->window(c.args);
        ASSERT_NE(w, 0u);
        EXPECT_EQ(this->desktop_->TitleLength(w), c.expected.size()) << c.args.join(' ').left(80).toStdString();
        EXPECT_EQ(titleOf(*this->desktop_, w), c.expected) << c.args.join(' ').left(80).toStdString();
        // Earlier cases' windows have the same titles: the newest is found once the
        // stacking order has it on top.
        EXPECT_TRUE(waitUntil([&] { return this->desktop_->FindByTitle(c.expected) == w; }))
            << this->desktop_->FindByTitle(c.expected) << " found instead of " << w;
    }
    EXPECT_TRUE(QString::fromUtf8("\x41\xff\x42\xc3", 4).contains(QChar(0xFFFD)));

    // The caller's buffer size bounds what is copied: at most maxCount - 1 characters.
    const WindowId w = this->desktop_->FindByTitle(huge);
    QString part = QStringLiteral("stale");
    EXPECT_EQ(this->desktop_->Title(w, part, 5), 4);
    EXPECT_EQ(part, QStringLiteral("Axxx"));
    EXPECT_EQ(this->desktop_->Title(w, part, 1), 0);
    EXPECT_TRUE(part.isEmpty());
    EXPECT_EQ(this->desktop_->Title(w, part, 0), 0);
    EXPECT_EQ(this->desktop_->Title(w, part, 100001), 100000);
    EXPECT_EQ(this->desktop_->Title(w, part, 1 << 30), 100000);
}

TYPED_TEST(X11DesktopTest, CloseRequestsFollowTheWindowsProtocols) {
    Xwin& stubborn = this->xwin({"--title", kIE, "--ignore-close"});
    Xwin& deaf = this->xwin({"--title", QStringLiteral("Deaf - ") + kIE, "--no-delete-protocol"});
    ASSERT_EQ(stubborn.ids.size(), 1u);
    ASSERT_EQ(deaf.ids.size(), 1u);
    const WindowId s = stubborn.ids[0];
    const WindowId d = deaf.ids[0];
    ASSERT_TRUE(waitUntil([&] {
        return this->desktop_->Style(s) == kVisibleBorder && this->desktop_->Style(d) == kVisibleBorder;
    }));

    // Ignored: the window stays and can be asked again.
    const QString ignored = QStringLiteral("ignored %1").arg(s);
    EXPECT_TRUE(this->desktop_->RequestClose(s));
    EXPECT_TRUE(stubborn.waitForLine(ignored));
    EXPECT_TRUE(listed(*this->desktop_, s));
    EXPECT_EQ(this->desktop_->Style(s), kVisibleBorder);
    EXPECT_TRUE(this->desktop_->RequestClose(s));
    EXPECT_TRUE(stubborn.waitForLine(ignored, 2));
    EXPECT_TRUE(listed(*this->desktop_, s));

    // No WM_DELETE_WINDOW: nothing is sent and nothing stronger is done.
    EXPECT_FALSE(this->desktop_->RequestClose(d));
    EXPECT_FALSE(deaf.finished(300));
    EXPECT_TRUE(listed(*this->desktop_, d));
    EXPECT_EQ(this->desktop_->Style(d), kVisibleBorder);

    EXPECT_FALSE(this->desktop_->RequestClose(0));
}

TYPED_TEST(X11DesktopTest, DestroyedWindowsAreGoneWithoutErrors) {
    Xwin& p = this->xwin({"--title", "doomed %d", "--count", "3"}, 3);
    ASSERT_EQ(p.ids.size(), 3u);
    for (WindowId w : p.ids) ASSERT_TRUE(waitUntil([&] { return this->desktop_->Style(w) == kVisibleBorder; }));
    const WindowId middle = p.ids[1];
    ASSERT_NE(this->desktop_->NextWindow(middle), 0u);

    // Only the server's word counts: fake notices from another client leave the window
    // as it is (the retitle after them is seen once they were handled).
    XClient x(this->session_->display());
    if (!this->withWindowManager()) {
        x.fakeGone(middle);
        x.retitle(middle, "doomed still");
        ASSERT_TRUE(waitUntil([&] { return titleOf(*this->desktop_, middle) == QStringLiteral("doomed still"); }));
        EXPECT_EQ(this->desktop_->Style(middle), kVisibleBorder);
        EXPECT_TRUE(listed(*this->desktop_, middle));
    }

    // Destroyed behind the mirror's back, between two calls of a walk.
    x.destroy(middle);
    EXPECT_TRUE(waitUntil([&] { return this->desktop_->NextWindow(middle) == 0; }));
    QString title = QStringLiteral("stale");
    EXPECT_EQ(this->desktop_->Style(middle), 0u);
    EXPECT_EQ(this->desktop_->TitleLength(middle), 0);
    EXPECT_EQ(this->desktop_->Title(middle, title, 100), 0);
    EXPECT_TRUE(title.isEmpty());
    EXPECT_EQ(this->desktop_->FindByTitle(QStringLiteral("doomed 1")), 0u);
    EXPECT_FALSE(this->desktop_->RequestClose(middle));
    EXPECT_FALSE(listed(*this->desktop_, middle));

    // The whole process dies: its windows go at once.
    const WindowId first = p.ids[0];
    p.kill();
    EXPECT_TRUE(waitUntil([&] { return this->desktop_->Style(first) == 0 && !listed(*this->desktop_, first); }));
    EXPECT_EQ(this->desktop_->NextWindow(first), 0u);
    EXPECT_EQ(this->desktop_->Style(1), 0u);
    EXPECT_EQ(this->desktop_->NextWindow(1), 0u);
}

TYPED_TEST(X11DesktopTest, WalkRunsFromTheTopOfTheStackingOrder) {
    const WindowId a = this->window({"--title", "A"});
    const WindowId b = this->window({"--title", "B"});
    const auto position = [&](WindowId w) {
        const auto order = walk(*this->desktop_);
        return std::find(order.begin(), order.end(), w) - order.begin();
    };
    EXPECT_EQ(this->desktop_->FirstWindow(), b);
    EXPECT_LT(position(b), position(a));

    XClient x(this->session_->display());
    x.raise(a, this->withWindowManager());
    EXPECT_TRUE(waitUntil([&] { return this->desktop_->FirstWindow() == a; }));
    EXPECT_LT(position(a), position(b));
    x.raise(b, this->withWindowManager());
    EXPECT_TRUE(waitUntil([&] { return this->desktop_->FirstWindow() == b; }));
}

}  // namespace
