#include "platform/webengine/page_watchdog.h"

#include <QApplication>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWidget>

#include "platform/system/log.h"
#include "platform/webengine/page_memory.h"

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
    askedCpuMs_ = webengine::mainThreadCpuMs(pid);
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
    const qint64 cpuMs = askedCpuMs_ < 0 ? -1 : webengine::mainThreadCpuMs(askedPid_);
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
