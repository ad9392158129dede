#include "app/frm_main.h"

#include <QCloseEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QResizeEvent>
#include <QShowEvent>
#include <QWidget>

#include "app/module1.h"
#include "app/settings_location.h"
#include "browse/frm_source.h"
#include "dialogs/frm_about.h"
#include "dialogs/frm_settings.h"
#include "platform/twips.h"

static void initTarnwickResources() { Q_INIT_RESOURCE(assets); }

namespace {

QAction* addItem(QMenu* menu, const QString& caption, QKeySequence shortcut = {}) {
    QAction* action = menu->addAction(caption);
    if (!shortcut.isEmpty()) action->setShortcut(shortcut);
    return action;
}

}  // namespace

QIcon applicationIcon() {
    initTarnwickResources();
    return QIcon(QStringLiteral(":/tarnwick/tarnwick.png"));
}

QFont textWindowFont() {
    QFont font(QStringLiteral("Courier New"));
    font.setPointSizeF(8.25);
    font.setStyleHint(QFont::TypeWriter);
    return font;
}

frmMain::frmMain(Platform platform, QWidget* parent)
    : QMainWindow(parent), platform_(std::move(platform)) {
    setWindowTitle(QStringLiteral("Tarnwick"));
    setWindowIcon(applicationIcon());
    createControls();
    sweep_ = std::make_unique<PopupSweep>(
        *platform_.desktop,
        PopupSweep::Hooks{
            .ownWindow = [this] { return hWnd(); },
            .lastStatusText = [this] { return LastStatusText; },
            .countChanged =
                [this](std::int64_t count) {
                    Panel1->setText(QString::number(count) + (count == 1 ? QStringLiteral(" event denied")
                                                                         : QStringLiteral(" events denied")));
                },
            .navigate = [this](const QString& address) { Browser->Navigate(address); },
        });
    if (PopupSweep::earlySweepWanted()) sweep_->enableEarlySweep();
    createMenus();
    connectHandlers();

    // Client area 9750 x 6705 twips; the menu bar lies outside it.
    resize(tw::px(9750), tw::px(6705) + menuBar()->sizeHint().height());

    Form_Load();
}

frmMain::~frmMain() {
    // Reached only where the program's end returns (tests): the program itself ends
    // before any window is destroyed. Stop the sweep and release what it holds.
    tmrEngine->stop();
    if (MyDocument) MyDocument->oncontextmenu = nullptr;
    MyDocument.reset();
    if (Settings) delete Settings.data();
    if (About) delete About.data();
    if (Source) delete Source.data();
}

void frmMain::createControls() {
    auto* client = new QWidget(this);
    setCentralWidget(client);

    // StatusBar with its two sunken panels.
    StatusBar = new QStatusBar(this);
    StatusBar->setSizeGripEnabled(true);
    StatusBar->setFocusPolicy(Qt::NoFocus);
    setStatusBar(StatusBar);
    Panel1 = new QLabel(QStringLiteral("0 events denied"), StatusBar);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setMinimumWidth(tw::px(2000));
    Panel1->setTextFormat(Qt::PlainText);
    Panel2 = new QLabel(QString(), StatusBar);
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel2->setMinimumWidth(tw::px(1440));
    Panel2->setTextFormat(Qt::PlainText);
    // A long link address must not widen the window: panel 2 takes what is left.
    Panel2->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    StatusBar->addWidget(Panel1, 0);
    StatusBar->addWidget(Panel2, 1);

    // dlgFile keeps only its last confirmed file name (dlgFileName).

    URL = new QComboBox(client);
    URL->setObjectName(QStringLiteral("URL"));
    URL->setEditable(true);
    URL->setInsertPolicy(QComboBox::NoInsert);
    URL->setDuplicatesEnabled(true);
    URL->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    URL->setMaxVisibleItems(20);
    URL->setModel(&History);
    URL->setCurrentIndex(-1);
    URL->setEditText(kDefaultStartPage);
    URL->setGeometry(0, 0, tw::px(6615), URL->sizeHint().height());

    Browser = platform_.createBrowser(client);
    Browser->widget()->setGeometry(0, tw::px(350), tw::px(6615), tw::px(4455));

    tmrEngine = new QTimer(this);
    tmrEngine->setInterval(100);
    tmrEngine->start();

    // Keyboard focus: Browser, then URL; the browser has it first.
    Browser->widget()->setFocusPolicy(Qt::StrongFocus);
    setTabOrder(Browser->widget(), URL);
    Browser->widget()->setFocus();
}

void frmMain::createMenus() {
    mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    mnuSettings = addItem(mnuFile, QStringLiteral("&Settings..."));
    mnuBar2 = mnuFile->addSeparator();
    mnuAbout = addItem(mnuFile, QStringLiteral("&About Tarnwick..."));
    mnuExit = addItem(mnuFile, QStringLiteral("Exit"), QKeySequence(Qt::CTRL | Qt::Key_E));

    mnuEdit = menuBar()->addMenu(QStringLiteral("&Edit"));
    mnuSource2 = addItem(mnuEdit, QStringLiteral("&View Source"));
    mnuCopy = addItem(mnuEdit, QStringLiteral("Copy"), QKeySequence(Qt::CTRL | Qt::Key_C));
    mnuPaste = addItem(mnuEdit, QStringLiteral("Paste"), QKeySequence(Qt::CTRL | Qt::Key_V));

    mnuNavigate = menuBar()->addMenu(QStringLiteral("&Navigate"));
    mnuOpen = addItem(mnuNavigate, QStringLiteral("Open location..."), QKeySequence(Qt::CTRL | Qt::Key_O));
    mnuBar1 = mnuNavigate->addSeparator();
    mnuBack = addItem(mnuNavigate, QStringLiteral("Back"), QKeySequence(Qt::CTRL | Qt::Key_B));
    mnuForward = addItem(mnuNavigate, QStringLiteral("Forward"), QKeySequence(Qt::CTRL | Qt::Key_F));
    mnuStop = addItem(mnuNavigate, QStringLiteral("Stop"), QKeySequence(Qt::CTRL | Qt::Key_S));
    mnuRefresh = addItem(mnuNavigate, QStringLiteral("Refresh"), QKeySequence(Qt::CTRL | Qt::Key_R));

    // "Popup": a top-level menu that never appears in the menu bar; it is the page's
    // context menu. Its actions also belong to the window so that Ctrl+P works.
    mnuPop = new QMenu(QStringLiteral("Popup"), this);
    mnuLaunchIE = addItem(mnuPop, QStringLiteral("Launch In Default Browser"));
    mnuPopRefresh = addItem(mnuPop, QStringLiteral("Refresh"));
    mnuPrint = addItem(mnuPop, QStringLiteral("Print"), QKeySequence(Qt::CTRL | Qt::Key_P));
    mnuSaveAs = addItem(mnuPop, QStringLiteral("Save As..."));
    addActions(mnuPop->actions());

    popupMenu = [](QMenu* menu) { menu->exec(QCursor::pos()); };
}

void frmMain::connectHandlers() {
    connect(mnuSettings, &QAction::triggered, this, [this] { mnuSettings_Click(); });
    connect(mnuAbout, &QAction::triggered, this, [this] { mnuAbout_Click(); });
    connect(mnuExit, &QAction::triggered, this, [this] { mnuExit_Click(); });
    connect(mnuSource2, &QAction::triggered, this, [this] { mnuSource2_Click(); });
    connect(mnuCopy, &QAction::triggered, this, [this] { mnuCopy_Click(); });
    connect(mnuPaste, &QAction::triggered, this, [this] { mnuPaste_Click(); });
    connect(mnuOpen, &QAction::triggered, this, [this] { mnuOpen_Click(); });
    connect(mnuBack, &QAction::triggered, this, [this] { mnuBack_Click(); });
    connect(mnuForward, &QAction::triggered, this, [this] { mnuForward_Click(); });
    connect(mnuStop, &QAction::triggered, this, [this] { mnuStop_Click(); });
    connect(mnuRefresh, &QAction::triggered, this, [this] { mnuRefresh_Click(); });
    connect(mnuLaunchIE, &QAction::triggered, this, [this] { mnuLaunchIE_Click(); });
    connect(mnuPopRefresh, &QAction::triggered, this, [this] { mnuPopRefresh_Click(); });
    connect(mnuPrint, &QAction::triggered, this, [this] { mnuPrint_Click(); });
    connect(mnuSaveAs, &QAction::triggered, this, [this] { mnuSaveAs_Click(); });

    connect(Browser, &WebBrowser::StatusTextChange, this, &frmMain::Browser_StatusTextChange);
    connect(Browser, &WebBrowser::ProgressChange, this, &frmMain::Browser_ProgressChange);
    connect(Browser, &WebBrowser::TitleChange, this, &frmMain::Browser_TitleChange);
    connect(Browser, &WebBrowser::DocumentComplete, this, &frmMain::Browser_DocumentComplete);

    // The address box: Enter reaches URL_KeyPress and still the control; choosing a list
    // entry (mouse or arrow keys) is URL_Click.
    // Keys reach the combo box (the line edit's focus proxy), which hands them on to the
    // line edit directly; keys sent to the line edit itself are seen there.
    URL->installEventFilter(this);
    URL->lineEdit()->installEventFilter(this);
    // QComboBox turns the line edit's editingFinished (Enter, and every loss of focus) into
    // activated as soon as the text equals a list entry, which it does for every visited
    // page: the page would be requested again at each focus change. Only a choice from the
    // list (mouse, arrow keys) may reach URL_Click, so that path is cut; Enter is
    // URL_KeyPress alone.
    QObject::disconnect(URL->lineEdit(), SIGNAL(editingFinished()), URL, SLOT(_q_editingFinished()));
    // No completion: Enter opens exactly the text the user typed.
    URL->setCompleter(nullptr);
    connect(URL, qOverload<int>(&QComboBox::activated), this, [this](int) { URL_Click(); });

    connect(tmrEngine, &QTimer::timeout, this, &frmMain::tmrEngine_Timer);
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    const bool addressBox = watched == URL || watched == URL->lineEdit();
    if (addressBox && event->type() == QEvent::ShortcutOverride) {
        // The line edit claims Ctrl+B, Ctrl+E, Ctrl+F (and more) for its own editing keys
        // on X11; the window's commands come first. Copy and paste stay the box's own.
        auto* key = static_cast<QKeyEvent*>(event);
        const QKeySequence pressed(key->keyCombination());
        for (QAction* command : {mnuExit, mnuOpen, mnuBack, mnuForward, mnuStop, mnuRefresh, mnuPrint}) {
            if (command->shortcut() == pressed) {
                event->ignore();
                return true;
            }
        }
    }
    // Every key typed into the box passes the combo box once (the line edit hands back
    // what it does not take, such as Enter).
    if (watched == URL && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        int code = 0;
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            code = 13;
        else if (!key->text().isEmpty())
            code = key->text().at(0).unicode();
        if (code != 0) URL_KeyPress(code);
    }
    return QMainWindow::eventFilter(watched, event);  // the key still reaches the control
}

QString frmMain::settingsPath() const { return SettingsLocation::forReading(platform_.programFolder); }

QString frmMain::settingsPathToWrite() const { return SettingsLocation::forWriting(platform_.programFolder); }

WindowId frmMain::hWnd() const {
    return static_cast<WindowId>(const_cast<frmMain*>(this)->winId());
}

frmSettings* frmMain::settingsDialog() {
    if (!Settings) {
        Settings = new frmSettings(*this);
    }
    return Settings;
}

// ---------------------------------------------------------------------------------
// Start-up

void frmMain::Form_Load() {
    // Every step runs; one that fails is skipped.
    const QString startPage =
        ReadIniString(QStringLiteral("Tarnwick"), QStringLiteral("DefaultURL"), settingsPath());
    if (!startPage.isEmpty()) {
        URL->setEditText(startPage);
        Browser->Navigate(URL->currentText());
        settingsDialog()->DefaultURL->setText(startPage);
    } else {
        WriteIniString(QStringLiteral("Tarnwick"), QStringLiteral("DefaultURL"), kDefaultStartPage,
                       settingsPathToWrite());
        URL->setEditText(kDefaultStartPage);
        Browser->Navigate(URL->currentText());
        settingsDialog()->DefaultURL->setText(kDefaultStartPage);
    }
    LoadUrlHistory();
    sweep_->setTaskStyleMask(kTaskStyleMask);
    Browser->Navigate(URL->currentText());
}

// ---------------------------------------------------------------------------------
// Layout

void frmMain::Form_Resize() {
    // Each rule from the window's outer size in twips; a negative result is skipped and
    // the control keeps its size.
    const QRect outer = frameGeometry();
    const float width = static_cast<float>(tw::twips(outer.width()));
    const float height = static_cast<float>(tw::twips(outer.height()));
    QWidget* view = Browser->widget();

    const float browserWidth = width - 115.0f;
    if (browserWidth >= 0) view->resize(tw::px(browserWidth), view->height());
    const float browserHeight = height - 1300.0f;
    if (browserHeight >= 0) view->resize(view->width(), tw::px(browserHeight));
    const float urlWidth = width - 115.0f;
    if (urlWidth >= 0) URL->resize(tw::px(urlWidth), URL->height());
}

void frmMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void frmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    Form_Resize();
}

// ---------------------------------------------------------------------------------
// Shutdown: each of these ends the whole program at once.

void frmMain::closeEvent(QCloseEvent* event) {
    event->accept();
    Form_Unload();
}

// ---------------------------------------------------------------------------------
// The popup sweep (denial/PopupSweep)

void frmMain::tmrEngine_Timer() { sweep_->tmrEngine_Timer(); }

void frmMain::FindApps() { sweep_->FindApps(); }

bool frmMain::TaskWindow(const WindowId& hwnd) { return sweep_->TaskWindow(hwnd); }

void frmMain::Form_Unload() { platform_.endProgram(); }

void frmMain::Form_Terminate() { platform_.endProgram(); }

void frmMain::mnuExit_Click() { platform_.endProgram(); }

// ---------------------------------------------------------------------------------
// File menu

void frmMain::mnuSettings_Click() {
    // A dialog created anew (after the user closed it) shows the stored start page.
    const bool fresh = !Settings;
    frmSettings* dialog = settingsDialog();
    if (fresh)
        dialog->DefaultURL->setText(
            ReadIniString(QStringLiteral("Tarnwick"), QStringLiteral("DefaultURL"), settingsPath()));
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void frmMain::mnuAbout_Click() {
    // A hidden about window was closed and waits for its deletion: create a new one.
    if (!About || About->isHidden()) About = new frmAbout(this);
    About->show();
    About->raise();
    About->activateWindow();
}
