#include "denial/popup_sweep.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <limits>

Q_LOGGING_CATEGORY(lcSweep, "tarnwick.sweep", QtWarningMsg)

namespace {

// Text up to the first NUL, as a window text or a label keeps it.
QStringView uptoNul(QStringView text) {
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

// How many characters of the title buffer the label shows: its last ones.
constexpr qsizetype kLabelTail = 28;

}  // namespace

PopupSweep::PopupSweep(DesktopWindows& desktop, Hooks hooks) : desktop_(desktop), hooks_(std::move(hooks)) {}

PopupSweep::~PopupSweep() {
    if (early_) desktop_.onWindowEligible(kDeniedTitleSuffix, nullptr);
}

bool PopupSweep::earlySweepWanted() {
    static const bool wanted = qEnvironmentVariable("TARNWICK_EARLY_SWEEP") != QLatin1String("0");
    return wanted;
}

void PopupSweep::enableEarlySweep() {
    early_ = true;
    desktop_.onWindowEligible(kDeniedTitleSuffix, [this](WindowId window) { windowEligible(window); });
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
            tmrEngine_Timer();
        },
        Qt::QueuedConnection);
}

void PopupSweep::tmrEngine_Timer() {
    if (sweeping_) {
        qCDebug(lcSweep) << "sweep skipped: another one is yielding";
        return;
    }
    sweeping_ = true;
    earlyAgain_ = false;
    FindApps();
    sweeping_ = false;
    // Windows reported while this sweep yielded may lie behind where it had got to.
    if (earlyAgain_) {
        earlyAgain_ = false;
        scheduleEarly();
    }
}

void PopupSweep::countDenial() {
    ++deniedCount_;
    if (hooks_.countChanged) hooks_.countChanged(deniedCount_);
}

bool PopupSweep::TaskWindow(const WindowId& hwnd) const {
    const std::uint32_t style = desktop_.Style(hwnd);
    return (style & taskStyleMask_) == taskStyleMask_;
}

void PopupSweep::FindApps() {
    ++sweeps_;
    lstApp_.clear();

    WindowId mainWindow = hooks_.ownWindow ? hooks_.ownWindow() : 0;
    WindowId window = desktop_.FirstWindow();
    while (window != 0) {
        // Let the browser's events and the user's commands run between two windows.
        QCoreApplication::processEvents();
        if (hooks_.ownWindow) mainWindow = hooks_.ownWindow();

        if (TaskWindow(window) && window != mainWindow) {
            const int length = desktop_.TitleLength(window);
            // length + 1 must fit the title buffer's signed 32-bit size; when it does not,
            // this sweep is abandoned and the next tick starts afresh.
            if (length < 0 || length == std::numeric_limits<int>::max()) {
                qCDebug(lcSweep) << "sweep abandoned: title length" << length << "of window" << window;
                return;
            }
            const int size = length + 1;

            QString read;
            const int count = desktop_.Title(window, read, size);
            if (count > 0) {
                // The buffer: the text read, its terminating NUL, then the blanks the
                // buffer was made of (when the title shrank in between). It is not built:
                // both texts taken from it are cut from what was read.
                const QStringView text = QStringView(read).left(std::min(count, size - 1));
                const qsizetype blanks = size - text.size() - 1;
                const QStringView titleText = uptoNul(text);
                const QString title = titleText.size() == read.size() ? read : titleText.toString();

                lstApp_.push_back(AppEntry{title, 0});

                // The label: the buffer's last 28 characters, up to a NUL.
                if (size <= kLabelTail) {
                    id_ = title;
                } else if (blanks >= kLabelTail) {
                    id_.fill(QLatin1Char(' '), kLabelTail);
                } else {
                    const QStringView tail = uptoNul(text.right(kLabelTail - 1 - blanks));
                    id_.setUnicode(tail.data(), tail.size());
                }
                if (id_ == kDeniedTitleSuffix) {
                    const WindowId target = desktop_.FindByTitle(title);
                    if (target == 0)
                        qCDebug(lcSweep) << "no window titled" << title << "left to close";
                    else if (!desktop_.RequestClose(target))
                        qCDebug(lcSweep) << "close request to window" << target << "not sent";
                    ++deniedCount_;
                    if (hooks_.countChanged) hooks_.countChanged(deniedCount_);
                    const QString status = hooks_.lastStatusText ? hooks_.lastStatusText() : QString();
                    if (status.left(7) == QLatin1String("http://") && hooks_.navigate) hooks_.navigate(status);
                }
                lstApp_.back().itemData = window;
            }
        }
        window = desktop_.NextWindow(window);
    }
}
