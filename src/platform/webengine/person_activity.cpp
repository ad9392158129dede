#include "platform/webengine/person_activity.h"

#include <QChildEvent>
#include <QKeyEvent>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace {

// Keys that are no action in the page: Esc is the way out of what a page shows (full
// screen), a modifier alone does nothing yet, and a held key repeating is one action.
bool countsAsKey(const QKeyEvent* key) {
    if (key->isAutoRepeat()) return false;
    switch (key->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
    case Qt::Key_unknown:
        return false;
    default:
        return true;
    }
}

std::uint8_t bit(PersonActivity::Answer kind) { return static_cast<std::uint8_t>(kind); }

}  // namespace

PersonActivity::PersonActivity(QObject* parent) : QObject(parent) { clock_.start(); }

void PersonActivity::watch(QWebEngineView* view) {
    // The engine takes a page's input in a render widget of its own, a child of the view
    // that it replaces when the page gets a new renderer: every child is followed.
    view->installEventFilter(this);
    for (QObject* child : view->children())
        if (child->isWidgetType()) child->installEventFilter(this);
}

PersonActivity::Input PersonActivity::inputOf(const QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        return Input::Click;
    case QEvent::MouseButtonRelease:
        return Input::Release;
    case QEvent::KeyPress:
        return countsAsKey(static_cast<const QKeyEvent*>(event)) ? Input::Key : Input::None;
    case QEvent::KeyRelease:
        return countsAsKey(static_cast<const QKeyEvent*>(event)) ? Input::Release : Input::None;
    default:
        return Input::None;
    }
}

bool PersonActivity::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ChildAdded) {
        QObject* child = static_cast<QChildEvent*>(event)->child();
        if (qobject_cast<QWebEngineView*>(watched) && child->isWidgetType()) child->installEventFilter(this);
        return false;
    }
    const Input input = inputOf(event);
    if (input == Input::None) return false;
    // Only what reaches the page: the view's render widget, not a panel of ours over it.
    auto* view = qobject_cast<QWebEngineView*>(watched->parent());
    if (view && view->focusProxy() == watched && view->page()) record(view->page(), input);
    return false;
}

PersonActivity::Action& PersonActivity::actionOf(const QWebEnginePage* page) {
    auto found = pages_.find(page);
    if (found != pages_.end()) return found->second;
    connect(page, &QObject::destroyed, this, [this, page] { pages_.erase(page); });
    return pages_[page];
}

void PersonActivity::record(const QWebEnginePage* page, Input input) {
    const qint64 now = clock_.elapsed();
    if (input == Input::Release) {
        // The release of the press keeps its action fresh (a click's handler runs at the
        // release); a release long after anything else starts nothing.
        auto found = pages_.find(page);
        if (found != pages_.end() && found->second.at >= 0 && now - found->second.at <= kFreshFor.count())
            found->second.at = now;
        return;
    }
    Action& action = actionOf(page);
    action.at = now;
    action.press = ++presses_;
    action.taken = 0;
    if (input == Input::Click) action.clickNeeded = 0;
}

bool PersonActivity::fresh(const QWebEnginePage* page, std::chrono::milliseconds within) const {
    auto found = pages_.find(page);
    return found != pages_.end() && found->second.at >= 0 && clock_.elapsed() - found->second.at <= within.count();
}

std::uint64_t PersonActivity::lastPress(const QWebEnginePage* page) const {
    auto found = pages_.find(page);
    return found != pages_.end() ? found->second.press : 0;
}

void PersonActivity::forget(const QWebEnginePage* page) {
    auto found = pages_.find(page);
    if (found != pages_.end()) {
        found->second.at = -1;
        found->second.press = 0;
    }
}

bool PersonActivity::take(const QWebEnginePage* page, Answer kind) {
    if (!fresh(page)) return false;
    Action& action = pages_.find(page)->second;
    if ((action.taken | action.clickNeeded) & bit(kind)) return false;
    action.taken |= bit(kind);
    return true;
}

void PersonActivity::requireClick(const QWebEnginePage* page, Answer kind) { actionOf(page).clickNeeded |= bit(kind); }
