// Every command of the main window in one table: its menu item (or none), its keys, its
// handler, and whether it comes before the address box's own editing keys. The menus,
// the keys in no menu and the address box's list of window commands are all built from
// it: adding a key is one row.

#include <QAction>
#include <QMenu>

#include "app/frm_main.h"
#include "browse/address_box.h"
#include "browse/find_bar.h"
#include "platform/ui/looks.h"
#include "platform/web_browser.h"

void frmMain::createCommands() {
    findBar_ = new FindBar(Browser->widget()->parentWidget(), Browser);

    using Keys = QList<QKeySequence>;
    struct Command {
        const char* name;            // the object name: the described control's, or key...
        QMenu* menu;                 // where it is an item; null: a key of the window only
        QString caption;
        Keys keys;
        std::function<void()> run;
        bool outranksAddressBox = false;  // a key the address box's editing keys would take
        QAction* frmMain::*kept = nullptr;  // where the window keeps it, by its described name
        QAction* frmMain::*separatorBefore = nullptr;
    };
    const Command commands[] = {
        {"mnuSettings", mnuFile, QStringLiteral("&Settings..."), {}, [this] { mnuSettings_Click(); }, false,
         &frmMain::mnuSettings},
        {"mnuAbout", mnuFile, QStringLiteral("&About ") + kProgramName + QStringLiteral("..."), {},
         [this] { mnuAbout_Click(); }, false, &frmMain::mnuAbout, &frmMain::mnuBar2},
        {"mnuExit", mnuFile, QStringLiteral("Exit"), {Qt::CTRL | Qt::Key_E}, [this] { mnuExit_Click(); }, true,
         &frmMain::mnuExit},
        {"mnuSource2", mnuEdit, QStringLiteral("&View Source"), {}, [this] { mnuSource2_Click(); }, false,
         &frmMain::mnuSource2},
        // Copy and paste typed in the address box are the box's own.
        {"mnuCopy", mnuEdit, QStringLiteral("Copy"), {Qt::CTRL | Qt::Key_C}, [this] { mnuCopy_Click(); }, false,
         &frmMain::mnuCopy},
        {"mnuPaste", mnuEdit, QStringLiteral("Paste"), {Qt::CTRL | Qt::Key_V}, [this] { mnuPaste_Click(); }, false,
         &frmMain::mnuPaste},
        {"mnuOpen", mnuNavigate, QStringLiteral("Open location..."), {Qt::CTRL | Qt::Key_O},
         [this] { mnuOpen_Click(); }, true, &frmMain::mnuOpen},
        {"mnuBack", mnuNavigate, QStringLiteral("Back"), {Qt::CTRL | Qt::Key_B}, [this] { mnuBack_Click(); }, true,
         &frmMain::mnuBack, &frmMain::mnuBar1},
        {"mnuForward", mnuNavigate, QStringLiteral("Forward"), {Qt::CTRL | Qt::Key_F}, [this] { mnuForward_Click(); },
         true, &frmMain::mnuForward},
        {"mnuStop", mnuNavigate, QStringLiteral("Stop"), {Qt::CTRL | Qt::Key_S}, [this] { mnuStop_Click(); }, true,
         &frmMain::mnuStop},
        {"mnuRefresh", mnuNavigate, QStringLiteral("Refresh"), {Qt::CTRL | Qt::Key_R}, [this] { mnuRefresh_Click(); },
         true, &frmMain::mnuRefresh},
        // The page's context menu; its keys belong to the window too (Ctrl+P).
        {"mnuLaunchIE", mnuPop, QStringLiteral("Launch In Default Browser"), {}, [this] { mnuLaunchIE_Click(); },
         false, &frmMain::mnuLaunchIE},
        {"mnuPopRefresh", mnuPop, QStringLiteral("Refresh"), {}, [this] { mnuPopRefresh_Click(); }, false,
         &frmMain::mnuPopRefresh},
        {"mnuPrint", mnuPop, QStringLiteral("Print"), {Qt::CTRL | Qt::Key_P}, [this] { mnuPrint_Click(); }, true,
         &frmMain::mnuPrint},
        {"mnuSaveAs", mnuPop, QStringLiteral("Save As..."), {}, [this] { mnuSaveAs_Click(); }, false,
         &frmMain::mnuSaveAs},
        // The keys every browser has, in no menu: they work with the keyboard in the page
        // or in the address box.
        {"keyRefresh", nullptr, {}, {Qt::Key_F5, Qt::CTRL | Qt::Key_F5}, [this] { mnuRefresh_Click(); }},
        {"keyBack", nullptr, {}, {Qt::ALT | Qt::Key_Left}, [this] { mnuBack_Click(); }},
        {"keyForward", nullptr, {}, {Qt::ALT | Qt::Key_Right}, [this] { mnuForward_Click(); }},
        {"keyAddress", nullptr, {}, {Qt::CTRL | Qt::Key_L, Qt::ALT | Qt::Key_D, Qt::Key_F6},
         [this] { address_->focusWithTextSelected(); }},
        // Esc stops only a page that is loading (see below).
        {"keyStop", nullptr, {}, {Qt::Key_Escape}, [this] { mnuStop_Click(); }, false, &frmMain::keyStop_},
        {"keyFullScreen", nullptr, {}, {Qt::Key_F11}, [this] { setWindowState(windowState() ^ Qt::WindowFullScreen); }},
        {"keyZoomIn", nullptr, {}, {Qt::CTRL | Qt::Key_Plus, Qt::CTRL | Qt::Key_Equal}, [this] { Browser->Zoom(1); }},
        {"keyZoomOut", nullptr, {}, {Qt::CTRL | Qt::Key_Minus}, [this] { Browser->Zoom(-1); }},
        {"keyZoomReset", nullptr, {}, {Qt::CTRL | Qt::Key_0}, [this] { Browser->Zoom(0); }},
        {"keyFindNext", nullptr, {}, {Qt::Key_F3, Qt::CTRL | Qt::Key_G}, [this] { findBar_->findNext(); }},
        {"keyFindPrevious", nullptr, {}, {Qt::SHIFT | Qt::Key_F3, Qt::CTRL | Qt::SHIFT | Qt::Key_G},
         [this] { findBar_->findPrevious(); }},
        {"keyDenied", nullptr, {}, {Qt::CTRL | Qt::SHIFT | Qt::Key_D}, [this] { showDeniedList(); }, true},
    };

    QList<QAction*> windowCommands;
    for (const Command& command : commands) {
        if (command.separatorBefore) this->*command.separatorBefore = command.menu->addSeparator();
        QAction* action = command.menu ? command.menu->addAction(command.caption) : new QAction(this);
        action->setObjectName(QLatin1String(command.name));
        action->setShortcuts(command.keys);
        action->setShortcutContext(Qt::WindowShortcut);
        if (!command.menu || command.menu == mnuPop) addAction(action);  // the window's keys
        connect(action, &QAction::triggered, this, command.run);
        if (command.kept) this->*command.kept = action;
        if (command.outranksAddressBox) windowCommands << action;
    }
    address_->setWindowCommands(windowCommands);

    // Esc stops only a page that is loading; otherwise the page and the controls have it.
    keyStop_->setEnabled(false);
    QAction* stop = keyStop_;
    connect(Browser, &WebBrowser::ProgressChange, stop, [stop](int progress, int) { stop->setEnabled(progress >= 0); });
}
