#pragma once

// The popup sweep: every visible, bordered top-level window whose title ends in
// "Microsoft Internet Explorer" is asked to close and counted, and the main browser opens
// the address the user last pointed at. It runs at every tick of the main window's timer
// and, sooner, as soon as the desktop reports a window it would close (the early sweep).
// It needs only the desktop and a few callbacks, so it runs without a main window.

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/desktop/denial_record.h"
#include "platform/desktop/desktop_windows.h"
#include "platform/desktop/window_title.h"

// The title ending of the windows the sweep closes.
inline const QString& kDeniedTitleSuffix = kForeignBrowserName;

// Visible + border: the style bits of a window the sweep looks at.
inline constexpr std::uint32_t kTaskStyleMask = WindowStyle::Visible | WindowStyle::Border;

class PopupSweep {
public:
    struct Hooks {
        std::function<WindowId()> ownWindow;            // the main window: never listed
        std::function<QString()> lastStatusText;        // the link the user last pointed at
        std::function<void(std::int64_t)> countChanged;  // after every denial
        std::function<void(const QString&)> navigate;    // opens an address in the main browser
    };

    // lstApp: one entry per titled, visible, bordered top-level window other than the
    // main one, in desktop order.
    struct AppEntry {
        QString text;
        WindowId itemData = 0;
    };

    PopupSweep(DesktopWindows& desktop, Hooks hooks);
    ~PopupSweep();
    PopupSweep(const PopupSweep&) = delete;
    PopupSweep& operator=(const PopupSweep&) = delete;

    // One sweep, unless one is running already (a sweep yields to the event loop between
    // two windows; a tick or an early sweep falling due meanwhile is skipped).
    void tmrEngine_Timer();

    // The sweep's walk itself, without the no-nesting guard. It yields to the event loop
    // before the first window it examines, after each match and whenever kTimeSliceUs
    // has passed. When the desktop tells what changed since the last sweep (and that
    // sweep closed nothing), only the changed windows are examined again: lstApp, id and
    // every close, count and navigation come out as from a walk over all of them. When
    // nothing changed, nothing is examined.
    //
    // A window asked to close has until the next tick to go: a tick asks and counts again
    // each window the previous tick asked that is still open. An early sweep does the next
    // tick's work sooner, so the windows it asks have until the tick after that, and no
    // early sweep asks again a window that is waiting out its time. Whenever the sweep
    // runs, a window that closes within one tick is counted once. (On a desktop that
    // cannot tell what changed, or while windows come and go, a window is asked at every
    // sweep that finds it.)
    void FindApps();
    bool TaskWindow(const WindowId& hwnd) const;

    // Subscribes to the desktop's reports of windows that just became closable: each
    // report asks for one sweep from the event loop, at once. A burst of reports gives one
    // sweep, plus one more when reports arrive while it yields.
    void enableEarlySweep();
    bool earlySweepEnabled() const { return early_; }

    // Whether the early sweep is wanted: TARNWICK_EARLY_SWEEP=0 turns it off. Read once.
    static bool earlySweepWanted();

    bool sweeping() const { return sweeping_; }
    // Sweeps run so far (each call of FindApps), ticks and early ones alike.
    std::uint64_t sweepCount() const { return sweeps_; }

    const std::vector<AppEntry>& lstApp() const { return lstApp_; }
    const QString& id() const { return id_; }
    std::int64_t DeniedCount() const { return deniedCount_; }
    void setDeniedCount(std::int64_t count) { deniedCount_ = count; }
    // One denial that is no window: something the browser refused a page. Counted and
    // shown like a closed window, without navigating, and recorded in the log.
    void countDenial(Denial denial = Denial());
    // This session's denials, newest first; the count may exceed what it keeps.
    const DenialLog& deniedLog() const { return log_; }
    // Tells what a window the sweep closes was, asked before the window is asked to
    // close; without it (or when it tells nothing) the window is another program's.
    void setWindowDescriber(std::function<std::optional<Denial>(WindowId window, const QString& title)> describe) {
        describeWindow_ = std::move(describe);
    }
    std::uint32_t TaskStyleMask() const { return rule_.styleMask; }
    // Also the rule the desktop judges by when it reports closable windows early.
    void setTaskStyleMask(std::uint32_t mask);

    // How long a sweep runs at most before it lets the event loop run.
    static constexpr int kTimeSliceUs = 1000;

private:
    enum class Visit { Skipped, Listed, Abandoned };
    Visit visit(WindowId window, WindowId mainWindow, std::size_t listAt, bool replace);
    QString labelOf(WindowId window) const;
    Denial describe(WindowId window, const QString& title);
    void yieldIfDue(bool first);
    bool walkFrom(WindowId from, WindowId mainWindow, bool yieldFirst);
    bool walkChanged(WindowId mainWindow, std::uint64_t revision);

    void windowEligible(WindowId window);
    void scheduleEarly();
    void sweepOnce(bool early);
    void forgetChangedAsked(std::uint64_t revision);

    DesktopWindows& desktop_;
    Hooks hooks_;
    std::vector<AppEntry> lstApp_;
    QString id_ = QStringLiteral("Label1");  // the label the sweep uses as scratch space
    std::int64_t deniedCount_ = 0;
    DenialLog log_;
    std::function<std::optional<Denial>(WindowId, const QString&)> describeWindow_;
    // Which windows are closed: TaskStyleMask and the title's ending.
    ClosableRule rule_{0, kDeniedTitleSuffix};
    bool sweeping_ = false;
    bool early_ = false;
    bool earlyQueued_ = false;  // an early sweep waits in the event loop
    bool earlyAgain_ = false;   // a report arrived while a sweep yielded
    std::uint64_t sweeps_ = 0;
    std::uint64_t ticks_ = 0;  // sweeps that were ticks (FindApps outside an early sweep)
    bool earlyNow_ = false;    // the sweep running is an early one
    // Windows asked to close: the tick from which each may be asked again, and the
    // desktop's revision the sweep that asked it began with.
    struct Asked {
        std::uint64_t untilTick;
        std::uint64_t revision;
    };
    std::unordered_map<WindowId, Asked> asked_;
    std::uint64_t sweepRevision_ = 0;  // the desktop's revision the running sweep began with
    bool matched_ = false;     // this sweep closed a window
    bool matchWaits_ = false;  // what the last match sent waits in the event loop

    // What the last sweep saw, so that the next one looks only at what changed since:
    // each window of its walk in order with whether it was listed, the desktop's revision
    // it began with (0: walk everything next time), its main window and mask.
    struct Walked {
        WindowId window;
        bool listed;
    };
    std::vector<Walked> walked_;
    std::uint64_t seenRevision_ = 0;
    WindowId seenMain_ = 0;
    std::uint32_t seenMask_ = 0;
    std::vector<WindowId> changed_;
    std::int64_t sliceStart_ = 0;  // steady clock, microseconds
    QObject context_;  // queued early sweeps die with the sweep
};
