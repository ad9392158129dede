#pragma once

// Scriptable stand-ins for the hosted browser, its document and the desktop's windows.

#include <QObject>
#include <QString>
#include <QTimer>
#include <QStringList>
#include <QWidget>
#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/desktop/desktop_windows.h"
#include "platform/platform.h"
#include "platform/web_browser.h"

class FakeDocument : public HtmlDocument {
public:
    bool execCommand(const QString& command) override {
        commands << command;
        return commandResult;
    }
    void documentElementInnerHTML(std::function<void(std::optional<QString>)> done) override {
        done(innerHTML);
    }
    // Raises the context-menu event as a right-click in the page would; returns whether
    // the page's own menu would show.
    bool rightClick() { return oncontextmenu ? oncontextmenu() : true; }

    QStringList commands;
    bool commandResult = true;
    std::optional<QString> innerHTML = QStringLiteral("<head></head><body></body>");
};

class FakeBrowser : public WebBrowser {
    Q_OBJECT
public:
    explicit FakeBrowser(QWidget* parent) : WebBrowser(parent), view_(new QWidget(parent)) {
        view_->setObjectName(QStringLiteral("Browser"));
    }

    QWidget* widget() override { return view_; }
    bool Navigate(const QString& address) override {
        calls << QStringLiteral("Navigate:") + address;
        navigations << address;
        return navigateResult;
    }
    bool GoBack() override { calls << QStringLiteral("GoBack"); return canGoBack; }
    bool GoForward() override { calls << QStringLiteral("GoForward"); return canGoForward; }
    bool Stop() override { calls << QStringLiteral("Stop"); return stopResult; }
    bool Refresh() override { calls << QStringLiteral("Refresh"); return true; }
    int ReadyState() const override { return readyState; }
    QString LocationName() const override { return locationName; }
    QString LocationURL() const override { return locationURL; }
    std::shared_ptr<HtmlDocument> Document() override { return document; }
    bool Zoom(int step) override {
        calls << QStringLiteral("Zoom:%1").arg(step);
        return true;
    }
    void FindText(const QString& text, bool backward, std::function<void(int, int)> found) override {
        calls << (backward ? QStringLiteral("FindBack:") : QStringLiteral("Find:")) + text;
        if (found) found(findResult.first, findResult.second);
    }

    // Raising the browser's events.
    void raiseStatusText(const QString& text) { emit StatusTextChange(text); }
    void raiseProgress(int progress = 50, int max = 100) { emit ProgressChange(progress, max); }
    void raiseTitle(const QString& title = QString()) { emit TitleChange(title); }
    void raiseDocumentComplete(const QString& url = QString()) { emit DocumentComplete(url); }

    // A page arrives: its address and name, its title event and its document.
    void loadPage(const QString& url, const QString& name) {
        locationURL = url;
        locationName = name;
        readyState = 4;
        raiseTitle(name);
        raiseDocumentComplete(url);
    }

    QStringList calls;
    QStringList navigations;
    bool navigateResult = true;
    bool canGoBack = false;
    bool canGoForward = false;
    bool stopResult = true;
    int readyState = 0;
    // When not empty, successive ReadyState reads take these values in turn.
    QString locationName;
    QString locationURL;
    std::shared_ptr<FakeDocument> document;
    std::pair<int, int> findResult{0, 0};  // the active match and the count FindText answers

private:
    QWidget* view_;
};

// A desktop of windows in stacking order, topmost first.
class FakeDesktop : public DesktopWindows {
public:
    struct Window {
        WindowId id = 0;
        std::uint32_t style = WindowStyle::Visible | WindowStyle::Border;
        QString title;
        bool closesOnRequest = true;
        std::optional<int> titleLength;  // what TitleLength answers instead of the title's length
    };

    WindowId add(const QString& title,
                 std::uint32_t style = WindowStyle::Visible | WindowStyle::Border,
                 bool closesOnRequest = true) {
        const WindowId id = nextId_++;
        windows.push_back(Window{id, style, title, closesOnRequest, std::nullopt});
        orderRevision_ = ++revision_;
        return id;
    }
    void addWithId(WindowId id, const QString& title,
                   std::uint32_t style = WindowStyle::Visible | WindowStyle::Border) {
        windows.push_back(Window{id, style, title, true, std::nullopt});
        orderRevision_ = ++revision_;
    }
    void remove(WindowId id) {
        if (std::erase_if(windows, [id](const Window& w) { return w.id == id; })) orderRevision_ = ++revision_;
    }
    // Changes that a desktop following its windows reports (tracksChanges).
    void retitle(WindowId id, const QString& title) {
        find(id)->title = title;
        changes_.emplace_back(++revision_, id);
    }
    void restyle(WindowId id, std::uint32_t style) {
        find(id)->style = style;
        changes_.emplace_back(++revision_, id);
    }
    Window* find(WindowId id) {
        for (Window& w : windows)
            if (w.id == id) return &w;
        return nullptr;
    }
    bool exists(WindowId id) { return find(id) != nullptr; }

    // Off: the desktop cannot tell what changed, and every sweep walks every window.
    bool tracksChanges = false;
    std::uint64_t Revision() override { return tracksChanges ? revision_ : 0; }
    bool ChangedSince(std::uint64_t since, std::vector<WindowId>& changed) override {
        if (!tracksChanges || since < orderRevision_) return false;
        const std::size_t from = changed.size();
        for (const auto& [revision, id] : changes_)
            if (revision > since && std::find(changed.begin() + from, changed.end(), id) == changed.end())
                changed.push_back(id);
        const auto at = [this](WindowId id) { return find(id) - windows.data(); };
        std::sort(changed.begin() + from, changed.end(), [&](WindowId a, WindowId b) { return at(a) < at(b); });
        return true;
    }

    // Reports the window as just become closable, as the real desktop does from its events.
    void announce(WindowId window) { reportEligible(window); }

    WindowId FirstWindow() override { return windows.empty() ? 0 : windows.front().id; }
    WindowId NextWindow(WindowId window) override {
        for (size_t i = 0; i < windows.size(); ++i)
            if (windows[i].id == window) return i + 1 < windows.size() ? windows[i + 1].id : 0;
        return 0;
    }
    std::uint32_t Style(WindowId window) override {
        const Window* w = find(window);
        return w ? w->style : 0;
    }
    int TitleLength(WindowId window) override {
        if (titleLengthOverride) return *titleLengthOverride;
        const Window* w = find(window);
        return w ? w->titleLength.value_or(static_cast<int>(w->title.size())) : 0;
    }
    int Title(WindowId window, QString& title, int maxCount) override {
        if (beforeTitleRead) beforeTitleRead(window);
        const Window* w = find(window);
        if (!w || maxCount < 1) return 0;
        title = w->title.left(maxCount - 1);
        if (afterTitleRead) afterTitleRead(window);
        return static_cast<int>(title.size());
    }
    WindowId FindByTitle(const QString& title) override {
        for (const Window& w : windows)
            if (w.title == title) return w.id;
        return 0;
    }
    // The request is posted: a window that honours it goes away when the event loop
    // next runs, as another program's window would.
    bool RequestClose(WindowId window) override {
        closeRequests.push_back(window);
        Window* w = find(window);
        if (!w) return false;
        if (w->closesOnRequest) QTimer::singleShot(0, &context_, [this, window] { remove(window); });
        return true;
    }

    std::vector<Window> windows;
    std::vector<WindowId> closeRequests;
    std::optional<int> titleLengthOverride;
    std::function<void(WindowId)> beforeTitleRead;
    std::function<void(WindowId)> afterTitleRead;

private:
    WindowId nextId_ = 1000;
    std::uint64_t revision_ = 1;
    std::uint64_t orderRevision_ = 1;
    std::vector<std::pair<std::uint64_t, WindowId>> changes_;
    QObject context_;  // pending closes die with the desktop
};

// A platform of fakes for one main window.
struct FakePlatform {
    FakeDesktop desktop;
    FakeBrowser* browser = nullptr;
    QStringList openedUrls;
    bool openUrlResult = true;
    int endRequests = 0;
    std::vector<QString> openDialogProposals;
    std::optional<QString> openDialogAnswer;  // nullopt: the user cancels
    QString programFolder;

    Platform platform() {
        Platform p;
        p.createBrowser = [this](QWidget* parent) -> WebBrowser* {
            browser = new FakeBrowser(parent);
            return browser;
        };
        p.desktop = &desktop;
        p.openUrl = [this](const QString& address) {
            openedUrls << address;
            return openUrlResult;
        };
        p.programFolder = programFolder;
        p.showOpen = [this](QString& fileName) {
            openDialogProposals.push_back(fileName);
            if (!openDialogAnswer) return false;
            fileName = *openDialogAnswer;
            return true;
        };
        p.endProgram = [this] { ++endRequests; };
        return p;
    }
};
