#pragma once

// win32_host.exe under Wine, on a private X server (Xvfb, no window manager), driven over
// its stdin and stdout; and the user32 desktop adapter it lends, as a DesktopCore.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>

#include "platform/desktop/desktop_core.h"
#include "x_session.h"

// UTF-16 code units as four hex digits each, "-" for none: how text crosses the pipe.
QString hex16(const QString& text);
QString unhex16(const QString& text);

class WineHost {
public:
    // Starts the host with the Wine prefix the test run prepared (WINEPREFIX) and the
    // extra environment given ("NAME=value"). ok() tells whether it answers.
    explicit WineHost(const QStringList& environment = {});
    // Ends the host and the prefix's Wine server, whose processes hold this X server.
    ~WineHost();

    bool ok() const { return ok_; }
    // One command, one answer line ("" when the host is gone).
    QString ask(const QString& command);
    // The answer as a number, and as text sent back in hex.
    long long number(const QString& command) { return ask(command).toLongLong(); }
    QString text(const QString& command) { return unhex16(ask(command)); }

private:
    XSession x_{XSession::WindowManager::None};
    QProcess process_;
    bool ok_ = false;
};

// The adapter's calls answered by the host. `destroyOnVisit` is destroyed the moment the
// walk first looks at it (asks for its style): a window that goes while a sweep runs.
class RemoteDesktop : public DesktopCore {
public:
    explicit RemoteDesktop(WineHost& host) : host_(host) {}
    WindowId destroyOnVisit = 0;

    WindowId FirstWindow() override { return id(QStringLiteral("first")); }
    WindowId NextWindow(WindowId window) override { return id(QStringLiteral("next %1").arg(window)); }
    std::uint32_t Style(WindowId window) override;
    int TitleLength(WindowId window) override { return int(host_.number(QStringLiteral("len %1").arg(window))); }
    int Title(WindowId window, std::u16string& title, int maxCount) override;
    WindowId FindByTitle(const std::u16string& title) override;
    bool RequestClose(WindowId window) override { return host_.number(QStringLiteral("close %1").arg(window)) != 0; }
    std::uint64_t Revision() override { return std::uint64_t(host_.number(QStringLiteral("rev"))); }
    bool ChangedSince(std::uint64_t since, std::vector<WindowId>& changed) override;
    // Passes on the windows the adapter reported touched since the last call; returns them.
    std::vector<WindowId> relayTouched();

private:
    WindowId id(const QString& command) { return WindowId(host_.number(command)); }
    WineHost& host_;
};
