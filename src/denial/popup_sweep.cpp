#include "denial/popup_sweep.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <algorithm>
#include <chrono>
#include <limits>

#include "platform/system/log.h"

namespace {

// Text up to the first NUL, as a window text or a label keeps it.
QStringView uptoNul(QStringView text) {
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

// How many characters of the title buffer the label shows: its last ones.
constexpr qsizetype kLabelTail = 28;

// The label after a title was read into a buffer of `size` characters: the buffer's
// last 28 characters, up to a NUL. The buffer is the text read, its terminating NUL,
// then the blanks it was made of (when the title shrank in between); `title` is the text
// up to its first NUL.
void putLabel(QString& label, const QString& title, QStringView text, qsizetype size) {
    const qsizetype blanks = size - text.size() - 1;
    if (size <= kLabelTail) {
        label = title;
    } else if (blanks >= kLabelTail) {
        label.fill(QLatin1Char(' '), kLabelTail);
    } else {
        const QStringView tail = uptoNul(text.right(kLabelTail - 1 - blanks));
        label.setUnicode(tail.data(), tail.size());
    }
}

// More changed windows than this and a walk over all of them is as cheap.
constexpr std::size_t kMostChanged = 32;

// A window's title read as the walk reads it: into a buffer one longer than the length
// the window gives; `text` is what was read, without the terminating NUL.
struct TitleRead {
    int length = 0;
    int size = 0;
    int count = 0;
    QString read;
    QStringView text;
};

// False when the length does not leave room in the buffer's signed 32-bit size.
bool readTitle(DesktopWindows& desktop, WindowId window, TitleRead& title) {
    title.length = desktop.TitleLength(window);
    if (title.length < 0 || title.length == std::numeric_limits<int>::max()) return false;
    title.size = title.length + 1;
    title.count = desktop.Title(window, title.read, title.size);
    title.text = QStringView(title.read).left(std::max(0, std::min(title.count, title.size - 1)));
    return true;
}

std::int64_t steadyMicroseconds() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

PopupSweep::PopupSweep(DesktopWindows& desktop, Hooks hooks) : desktop_(desktop), hooks_(std::move(hooks)) {}

PopupSweep::~PopupSweep() {
    if (early_) desktop_.onWindowEligible(rule_, nullptr);
}

bool PopupSweep::earlySweepWanted() {
    static const bool wanted = qEnvironmentVariable("TARNWICK_EARLY_SWEEP") != QLatin1String("0");
    return wanted;
}

void PopupSweep::enableEarlySweep() {
    early_ = true;
    desktop_.onWindowEligible(rule_, [this](WindowId window) { windowEligible(window); });
}

void PopupSweep::setTaskStyleMask(std::uint32_t mask) {
    rule_.styleMask = mask;
    if (early_) enableEarlySweep();
}

void PopupSweep::windowEligible(WindowId window) {
    if (hooks_.ownWindow && window == hooks_.ownWindow()) return;
    if (sweeping_) {
        earlyAgain_ = true;
        return;
    }
    scheduleEarly();
}

void PopupSweep::scheduleEarly() {
    if (earlyQueued_) return;
    earlyQueued_ = true;
    QMetaObject::invokeMethod(
        &context_,
        [this] {
            earlyQueued_ = false;
            if (sweeping_) {
                earlyAgain_ = true;
                return;
            }
            sweepOnce(true);
        },
        Qt::QueuedConnection);
}

void PopupSweep::tmrEngine_Timer() { sweepOnce(false); }

void PopupSweep::sweepOnce(bool early) {
    if (sweeping_) {
        qCDebug(lcSweep) << "sweep skipped: another one is yielding";
        return;
    }
    sweeping_ = true;
    earlyAgain_ = false;
    earlyNow_ = early;
    FindApps();
    earlyNow_ = false;
    sweeping_ = false;
    // Windows reported while this sweep yielded may lie behind where it had got to.
    if (earlyAgain_) {
        earlyAgain_ = false;
        scheduleEarly();
    }
}

void PopupSweep::countDenial(Denial denial) {
    qCDebug(lcSweep) << "denied" << deniedCount_ + 1 << denial.kind << denial.origin << denial.text;
    log_.add(std::move(denial));
    ++deniedCount_;
    if (hooks_.countChanged) hooks_.countChanged(deniedCount_);
}

bool PopupSweep::TaskWindow(const WindowId& hwnd) const {
    return rule_.styleFits(desktop_.Style(hwnd));
}

// Lets the browser's events and the user's commands run: before the first window a sweep
// examines, after a match (its close request and navigation are waiting), and once per
// time slice.
void PopupSweep::yieldIfDue(bool first) {
    if (!first && !matchWaits_ && steadyMicroseconds() - sliceStart_ < kTimeSliceUs) return;
    matchWaits_ = false;
    QCoreApplication::processEvents();
    sliceStart_ = steadyMicroseconds();
}

void PopupSweep::FindApps() {
    const std::uint64_t sweep = ++sweeps_;
    matched_ = matchWaits_ = false;
    if (!earlyNow_) {
        ++ticks_;
        std::erase_if(asked_, [this](const auto& entry) { return entry.second.untilTick <= ticks_; });
    }
    const WindowId first = desktop_.FirstWindow();
    const WindowId mainWindow = hooks_.ownWindow ? hooks_.ownWindow() : 0;
    const std::uint64_t revision = desktop_.Revision();
    forgetChangedAsked(revision);
    sweepRevision_ = revision;
    const bool known =
        revision != 0 && seenRevision_ != 0 && mainWindow == seenMain_ && rule_.styleMask == seenMask_;
    // Nothing changed since a sweep that closed nothing: this one would find the same.
    if (known && revision == seenRevision_) return;
    const std::uint64_t since = seenRevision_;
    seenRevision_ = 0;
    changed_.clear();
    bool clean = false;
    if (known && desktop_.ChangedSince(since, changed_) && changed_.size() <= kMostChanged) {
        clean = walkChanged(mainWindow, revision);
    } else {
        lstApp_.clear();
        walked_.clear();
        clean = walkFrom(first, mainWindow, true);
    }
    if (clean && !matched_ && sweep == sweeps_) {
        seenRevision_ = revision;
        seenMain_ = mainWindow;
        seenMask_ = rule_.styleMask;
    } else {
        // A sweep begun in one of this one's yields recorded a walk this one went on to
        // change: the next sweep walks everything.
        seenRevision_ = 0;
    }
}

// A window asked to close waits out its time only while it is surely the same window with
// the same title and style: when windows came or went since (an id can pass to a new
// window), or the desktop cannot tell, or the window changed, it is looked at anew.
void PopupSweep::forgetChangedAsked(std::uint64_t revision) {
    std::vector<std::uint64_t> since;  // the revisions the waiting windows were asked at
    for (const auto& [window, asked] : asked_)
        if (std::find(since.begin(), since.end(), asked.revision) == since.end()) since.push_back(asked.revision);
    for (std::uint64_t at : since) {
        changed_.clear();
        const bool told = revision != 0 && desktop_.ChangedSince(at, changed_);
        std::erase_if(asked_, [&](const auto& entry) {
            return entry.second.revision == at &&
                   (!told || std::find(changed_.begin(), changed_.end(), entry.first) != changed_.end());
        });
    }
}

// The walk from `from` to the end of the desktop, following the live chain of windows,
// each listed at the end of lstApp and recorded. False when it could not look at every
// window as it is (abandoned, or the main window changed on the way).
bool PopupSweep::walkFrom(WindowId from, WindowId mainWindow, bool yieldFirst) {
    WindowId main = mainWindow;
    for (WindowId window = from; window != 0; window = desktop_.NextWindow(window)) {
        yieldIfDue(yieldFirst && window == from);
        if (hooks_.ownWindow) main = hooks_.ownWindow();
        const Visit result = visit(window, main, lstApp_.size(), false);
        if (result == Visit::Abandoned) return false;
        walked_.push_back(Walked{window, result == Visit::Listed});
    }
    return main == mainWindow;
}

// Only the windows that changed since the last walk, which found every other one as it
// is now: each is examined as the walk would, at its place, and lstApp and id come out
// as from the whole walk. False when that would not hold (the walk is then whole).
bool PopupSweep::walkChanged(WindowId mainWindow, std::uint64_t revision) {
    std::vector<std::size_t> positions;
    for (WindowId window : changed_) {
        auto it = std::find_if(walked_.begin(), walked_.end(), [window](const Walked& w) { return w.window == window; });
        if (it == walked_.end()) {
            lstApp_.clear();
            walked_.clear();
            return walkFrom(desktop_.FirstWindow(), mainWindow, true);
        }
        positions.push_back(std::size_t(it - walked_.begin()));
    }
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    // The last listed window among walked_[0, end).
    const auto lastListed = [this](std::size_t end) {
        while (end > 0 && !walked_[end - 1].listed) --end;
        return end == 0 ? walked_.size() : end - 1;
    };
    const std::size_t lastBefore = lastListed(walked_.size());
    const QString idBefore = id_;
    const std::uint64_t sweep = sweeps_;
    WindowId main = mainWindow;
    std::size_t listedBefore = 0;  // listed windows among walked_[0, counted)
    std::size_t counted = 0;
    for (std::size_t position : positions) {
        for (; counted < position; ++counted) listedBefore += walked_[counted].listed;
        yieldIfDue(position == positions.front());
        if (sweep != sweeps_) return false;  // a sweep begun meanwhile rebuilt lstApp
        if (desktop_.Revision() != revision) {
            // The desktop changed while this sweep yielded: from the window at hand on,
            // the walk is the whole walk's, which arrives there with what it listed
            // before it and the label of the last of those.
            const WindowId at = walked_[position].window;
            const std::size_t before = lastListed(position);
            if (before < position) id_ = labelOf(walked_[before].window);
            else id_ = idBefore;
            lstApp_.resize(listedBefore);
            walked_.resize(position);
            walkFrom(at, mainWindow, false);
            return false;
        }
        if (hooks_.ownWindow) main = hooks_.ownWindow();
        Walked& walked = walked_[position];
        const Visit result = visit(walked.window, main, listedBefore, walked.listed);
        if (result == Visit::Abandoned) return false;
        if (result != Visit::Listed && walked.listed) lstApp_.erase(lstApp_.begin() + qsizetype(listedBefore));
        walked.listed = result == Visit::Listed;
    }
    // id: the label of the last listed window, which a visit above set when it was one of
    // the changed windows.
    const std::size_t last = lastListed(walked_.size());
    if (last < walked_.size() && !std::binary_search(positions.begin(), positions.end(), last))
        id_ = last == lastBefore ? idBefore : labelOf(walked_[last].window);
    return main == mainWindow;
}

// A closed window as the log keeps it: a page's window as the browser tells it, else
// another program's window by its title and program.
Denial PopupSweep::describe(WindowId window, const QString& title) {
    std::optional<Denial> described = describeWindow_ ? describeWindow_(window, title) : std::nullopt;
    if (described) return std::move(*described);
    return Denial::of(QStringLiteral("Program"), desktop_.Program(window), title);
}

QString PopupSweep::labelOf(WindowId window) const {
    TitleRead title;
    if (!readTitle(desktop_, window, title)) return id_;
    QString label;
    putLabel(label, uptoNul(title.text).toString(), title.text, title.size);
    return label;
}

// One window of the walk: when it is a listed one, its entry goes to lstApp at `listAt`
// (replacing the one there when `replace`), the label takes its title's tail, and a match
// is closed, counted and followed.
PopupSweep::Visit PopupSweep::visit(WindowId window, WindowId mainWindow, std::size_t listAt, bool replace) {
    // The main window first: its style would be asked of the program's own windows.
    if (window == mainWindow || !TaskWindow(window)) return Visit::Skipped;
    // length + 1 must fit the title buffer's signed 32-bit size; when it does not, this
    // sweep is abandoned and the next tick starts afresh.
    TitleRead read;
    if (!readTitle(desktop_, window, read)) {
        qCDebug(lcSweep) << "sweep abandoned: title length" << read.length << "of window" << window;
        return Visit::Abandoned;
    }
    if (read.count <= 0) return Visit::Skipped;
    // The buffer is not built: both texts taken from it are cut from what was read.
    const QStringView titleText = uptoNul(read.text);
    const QString title = titleText.size() == read.read.size() ? read.read : titleText.toString();

    const auto at = lstApp_.begin() + qsizetype(listAt);
    if (replace) at->text = title;
    else lstApp_.insert(at, AppEntry{title, 0});

    putLabel(id_, title, read.text, read.size);
    if (id_ == rule_.titleSuffix && asked_.count(window) != 0) {
        matched_ = true;  // waiting out its time: the next sweep looks at it again
    } else if (id_ == rule_.titleSuffix) {
        matched_ = matchWaits_ = true;
        if (sweepRevision_ != 0) asked_[window] = Asked{ticks_ + (earlyNow_ ? 2 : 1), sweepRevision_};
        const WindowId target = desktop_.FindByTitle(title);
        Denial denial = describe(target == 0 ? window : target, title);
        if (target == 0)
            qCDebug(lcSweep) << "no window titled" << title << "left to close";
        else if (!desktop_.RequestClose(target))
            qCDebug(lcSweep) << "close request to window" << target << "not sent";
        countDenial(std::move(denial));
        const QString status = hooks_.lastStatusText ? hooks_.lastStatusText() : QString();
        if (status.left(7) == QLatin1String("http://") && hooks_.navigate) hooks_.navigate(status);
    }
    if (listAt < lstApp_.size()) lstApp_[listAt].itemData = window;
    return Visit::Listed;
}
