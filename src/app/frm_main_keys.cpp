// The keys every browser has, besides the menus' shortcuts (which keep their meaning:
// Ctrl+F is Forward, Ctrl+E is Exit). None of them is in a menu: they belong to the
// window, so they work with the keyboard in the page or in the address box (whose editing
// keys claim none of them; the menus' commands need the box's priority, these do not).

#include <QAction>

#include "app/frm_main.h"
#include "browse/address_box.h"
#include "browse/find_bar.h"
#include "platform/web_browser.h"

namespace {

QAction* addKey(QWidget* window, const char* name, const QList<QKeySequence>& keys) {
    auto* action = new QAction(window);
    action->setObjectName(QLatin1String(name));
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    window->addAction(action);
    return action;
}

}  // namespace

void frmMain::createKeys() {
    findBar_ = new FindBar(Browser->widget()->parentWidget(), Browser);
    const auto on = [this](QAction* action, auto run) { connect(action, &QAction::triggered, this, run); };

    on(addKey(this, "keyRefresh", {Qt::Key_F5, Qt::CTRL | Qt::Key_F5}), [this] { mnuRefresh_Click(); });
    on(addKey(this, "keyBack", {Qt::ALT | Qt::Key_Left}), [this] { mnuBack_Click(); });
    on(addKey(this, "keyForward", {Qt::ALT | Qt::Key_Right}), [this] { mnuForward_Click(); });
    on(addKey(this, "keyAddress", {Qt::CTRL | Qt::Key_L, Qt::ALT | Qt::Key_D, Qt::Key_F6}),
       [this] { address_->focusWithTextSelected(); });
    // Esc stops only a page that is loading; otherwise the page and the controls have it.
    QAction* stop = addKey(this, "keyStop", {Qt::Key_Escape});
    stop->setEnabled(false);
    on(stop, [this] { mnuStop_Click(); });
    connect(Browser, &WebBrowser::ProgressChange, stop, [stop](int progress, int) { stop->setEnabled(progress >= 0); });
    on(addKey(this, "keyFullScreen", {Qt::Key_F11}), [this] { setWindowState(windowState() ^ Qt::WindowFullScreen); });
    on(addKey(this, "keyZoomIn", {Qt::CTRL | Qt::Key_Plus, Qt::CTRL | Qt::Key_Equal}), [this] { Browser->Zoom(1); });
    on(addKey(this, "keyZoomOut", {Qt::CTRL | Qt::Key_Minus}), [this] { Browser->Zoom(-1); });
    on(addKey(this, "keyZoomReset", {Qt::CTRL | Qt::Key_0}), [this] { Browser->Zoom(0); });
    on(addKey(this, "keyFindNext", {Qt::Key_F3, Qt::CTRL | Qt::Key_G}), [this] { findBar_->findNext(); });
    keyDenied_ = addKey(this, "keyDenied", {Qt::CTRL | Qt::SHIFT | Qt::Key_D});
    on(keyDenied_, [this] { showDeniedList(); });
    on(addKey(this, "keyFindPrevious", {Qt::SHIFT | Qt::Key_F3, Qt::CTRL | Qt::SHIFT | Qt::Key_G}),
       [this] { findBar_->findPrevious(); });
}
