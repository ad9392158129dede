#include "platform/webengine/page_watchdog.h"

#include <QApplication>
#include <QFile>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWidget>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "platform/system/log.h"

namespace {

// The processor time, in ms, the main thread of process `pid` has spent (in the program
// and in the system for it); -1 where it cannot be read. On Windows, the whole process's.
#ifdef _WIN32
qint64 mainThreadCpuMs(qint64 pid) {
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process) return -1;
    FILETIME created{}, ended{}, system{}, user{};
    const bool read = GetProcessTimes(process, &created, &ended, &system, &user);
    CloseHandle(process);
    if (!read) return -1;
    const auto ms = [](const FILETIME& t) {  // 100 ns steps
        return qint64((std::uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10000);
    };
    return ms(user) + ms(system);
}
#else
qint64 mainThreadCpuMs(qint64 pid) {
    QFile file(QStringLiteral("/proc/%1/task/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly)) return -1;
    const QByteArray text = file.read(1024);
    // The thread's name, in parentheses, may hold anything; the fields after it are the
    // state, then ten numbers, then the time in the program and in the system.
    const char* at = std::strrchr(text.constData(), ')');
    if (!at || at[1] != ' ' || !at[2]) return -1;
    at += 3;  // the state
    for (int field = 0; field < 11; ++field) {
        at = std::strchr(at, ' ');
        if (!at) return -1;
        ++at;
    }
    char* end = nullptr;
    const long long user = std::strtoll(at, &end, 10);
    if (end == at) return -1;
    const long long system = std::strtoll(end, nullptr, 10);
    const long ticks = ::sysconf(_SC_CLK_TCK);
    return ticks > 0 ? (user + system) * 1000 / ticks : -1;
}
#endif

}  // namespace

PageWatchdog::PageWatchdog(QObject* parent) : QObject(parent) {
    patience_.setSingleShot(true);
    patience_.setInterval(kLookEveryMs);
    connect(&patience_, &QTimer::timeout, this, &PageWatchdog::look);
}

void PageWatchdog::watch(QWebEnginePage* page) {
    close();
    page_ = page;
}

void PageWatchdog::ask() {
    if (!page_ || open_) return;
    const qint64 pid = page_->renderProcessPid();
    if (pid <= 0) return;  // no renderer: nothing that could hold the page
    open_ = true;
    late_ = false;
    askedPid_ = pid;
    askedCpuMs_ = mainThreadCpuMs(pid);
    waitedMs_ = 0;
    const quint64 question = ++question_;
    QPointer<PageWatchdog> self(this);
    // The engine also calls back, with no value, for a page that goes away meanwhile.
    page_->runJavaScript(QStringLiteral("1"), QWebEngineScript::ApplicationWorld,
                         [self, question](const QVariant& answer) {
                             if (!self || self->question_ != question || !answer.isValid()) return;
                             self->close();
                             emit self->answered();
                         });
    patience_.start();
}

bool PageWatchdog::unanswered() const { return late_ && page_ && page_->renderProcessPid() == askedPid_; }

void PageWatchdog::look() {
    if (!open_ || late_) return;
    // A page that went on to another renderer (a navigation to another site) has left
    // the one that was asked.
    if (!page_ || page_->renderProcessPid() != askedPid_) {
        close();
        return;
    }
    waitedMs_ += kLookEveryMs;
    const qint64 cpuMs = askedCpuMs_ < 0 ? -1 : mainThreadCpuMs(askedPid_);
    const qint64 spentMs = cpuMs < 0 ? waitedMs_ : cpuMs - askedCpuMs_;
    if (spentMs < kPatienceMs) {
        patience_.start();
        return;
    }
    qCDebug(lcEngine) << "the page's renderer has spent" << spentMs << "ms without answering:" << page_->url();
    late_ = true;
    emit hung();
}

void PageWatchdog::close() {
    open_ = false;
    late_ = false;
    patience_.stop();
    ++question_;
}

void PageWatchdog::askOnInputIn(QWidget* window) {
    if (!window_) qApp->installEventFilter(this);
    window_ = window;
}

bool PageWatchdog::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if ((type == QEvent::KeyPress || type == QEvent::MouseButtonPress) && watched->isWidgetType() && window_ &&
        static_cast<QWidget*>(watched)->window() == window_)
        ask();
    return QObject::eventFilter(watched, event);
}
