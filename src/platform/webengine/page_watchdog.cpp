#include "platform/webengine/page_watchdog.h"

#include <QApplication>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWidget>

#include "platform/system/log.h"

PageWatchdog::PageWatchdog(QObject* parent) : QObject(parent) {
    patience_.setSingleShot(true);
    patience_.setInterval(kPatienceMs);
    connect(&patience_, &QTimer::timeout, this, &PageWatchdog::expire);
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

void PageWatchdog::expire() {
    if (!open_) return;
    // A page that went on to another renderer (a navigation to another site) has left
    // the one that was asked.
    if (!page_ || page_->renderProcessPid() != askedPid_) {
        close();
        return;
    }
    qCDebug(lcEngine) << "the page's renderer has not answered for" << kPatienceMs << "ms:" << page_->url();
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
