// Construction, layout, start-up, shutdown and the File menu of the main window, and the
// address box's entry points.

#include "app/frm_main.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMetaEnum>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QShowEvent>
#include <QStatusBar>
#include <QTimer>

#include "browse/address_box.h"
#include "browse/frm_source.h"
#include "dialogs/frm_about.h"
#include "dialogs/frm_denied.h"
#include "dialogs/frm_settings.h"
#include "platform/system/log.h"
#include "platform/ui/looks.h"
#include "platform/settings/module1.h"
#include "platform/settings/settings_location.h"
#include "platform/ui/twips.h"
#include "platform/web_browser.h"

namespace {

QMenu* addMenu(QMenuBar* bar, const char* name, const QString& caption) {
    QMenu* menu = bar->addMenu(caption);
    menu->setObjectName(QLatin1String(name));
    return menu;
}

// Status panel 1: how many windows the sweep has closed.
QString deniedCountText(std::int64_t count) {
    return QString::number(count) + (count == 1 ? QStringLiteral(" event denied") : QStringLiteral(" events denied"));
}

QLabel* addPanel(QStatusBar* bar, const char* name, const QString& text, int minimumTwips, int stretch) {
    auto* panel = new QLabel(text, bar);
    panel->setObjectName(QLatin1String(name));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setMinimumWidth(tw::px(minimumTwips));
    panel->setTextFormat(Qt::PlainText);
    bar->addWidget(panel, stretch);
    return panel;
}

}  // namespace

frmMain::frmMain(Platform platform, QWidget* parent)
    : QMainWindow(parent), platform_(std::move(platform)) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(kProgramName);
    setWindowIcon(applicationIcon());
    createControls();
    sweep_ = std::make_unique<PopupSweep>(
        *platform_.desktop,
        PopupSweep::Hooks{
            .ownWindow = [this] { return hWnd(); },
            .lastStatusText = [this] { return LastStatusText; },
            .countChanged =
                [this](std::int64_t count) {
                    Panel1->setText(deniedCountText(count));
                    if (Denied) Denied->showLog(sweep_->deniedLog(), count);
                },
            .navigate = [this](const QString& address) { Browser->Navigate(address); },
        });
    sweep_->setWindowDescriber(
        [this](WindowId window, const QString& title) { return Browser->newWindowOf(window, title); });
    if (PopupSweep::earlySweepWanted()) sweep_->enableEarlySweep();
    Browser->deniedCount = [this] { return sweep_->DeniedCount(); };
    createMenus();
    createCommands();
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
    if (Denied) delete Denied.data();
}

void frmMain::createControls() {
    auto* client = new QWidget(this);
    setCentralWidget(client);

    // StatusBar with its two sunken panels.
    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setSizeGripEnabled(true);
    StatusBar->setFocusPolicy(Qt::NoFocus);
    setStatusBar(StatusBar);
    Panel1 = addPanel(StatusBar, "Panel1", deniedCountText(0), 2000, 0);
    Panel2 = addPanel(StatusBar, "Panel2", QString(), 1440, 1);
    // A click on panel 1 opens the list of what was denied.
    Panel1->setCursor(Qt::PointingHandCursor);
    Panel1->setToolTip(QStringLiteral("What was denied (Ctrl+Shift+D)"));
    Panel1->installEventFilter(this);
    // A long link address must not widen the window: panel 2 takes what is left.
    Panel2->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    // dlgFile keeps only its last confirmed file name (dlgFileName).

    address_ = new AddressBox(client, kDefaultStartPage);
    QComboBox* URL = address_->widget();
    URL->setGeometry(0, 0, tw::px(6615), URL->sizeHint().height());

    Browser = platform_.createBrowser(client);
    Browser->setObjectName(QStringLiteral("Browser"));
    Browser->widget()->setGeometry(0, tw::px(350), tw::px(6615), tw::px(4455));

    tmrEngine = new QTimer(this);
    tmrEngine->setObjectName(QStringLiteral("tmrEngine"));
    tmrEngine->setInterval(100);
    tmrEngine->start();

    // Keyboard focus: Browser, then URL; the browser has it first.
    Browser->widget()->setFocusPolicy(Qt::StrongFocus);
    setTabOrder(Browser->widget(), URL);
    Browser->widget()->setFocus();
}

void frmMain::createMenus() {
    // The menus; their items come from the command table (frm_main_commands.cpp).
    QMenuBar* bar = menuBar();
    mnuFile = addMenu(bar, "mnuFile", QStringLiteral("&File"));
    mnuEdit = addMenu(bar, "mnuEdit", QStringLiteral("&Edit"));
    mnuNavigate = addMenu(bar, "mnuNavigate", QStringLiteral("&Navigate"));
    // "Popup": a top-level menu that never appears in the menu bar; it is the page's
    // context menu.
    mnuPop = new QMenu(QStringLiteral("Popup"), this);
    mnuPop->setObjectName(QStringLiteral("mnuPop"));

    popupMenu = [](QMenu* menu) { menu->exec(QCursor::pos()); };
}

void frmMain::connectHandlers() {

    connect(Browser, &WebBrowser::StatusTextChange, this, &frmMain::Browser_StatusTextChange);
    connect(Browser, &WebBrowser::ProgressChange, this, &frmMain::Browser_ProgressChange);
    connect(Browser, &WebBrowser::TitleChange, this, &frmMain::Browser_TitleChange);
    connect(Browser, &WebBrowser::DocumentComplete, this, &frmMain::Browser_DocumentComplete);
    // What the browser refuses a page (a dialog, full screen, a download the person did
    // not ask for) is a denied event like a closed popup.
    connect(Browser, &WebBrowser::Refused, this, [this](WebBrowser::Refusal what, const Denial& details) {
        Denial denial = details;
        if (denial.kind.isEmpty())
            denial.kind = QLatin1String(QMetaEnum::fromType<WebBrowser::Refusal>().valueToKey(int(what)));
        sweep_->countDenial(std::move(denial));
    });

    // The address box: every key reaches URL_KeyPress (Enter is 13) and still the
    // control; choosing a list entry (mouse or arrow keys) is URL_Click. A loss of focus
    // opens nothing.
    connect(address_, &AddressBox::keyPressed, this, &frmMain::URL_KeyPress);
    connect(address_, &AddressBox::entryChosen, this, &frmMain::URL_Click);

    connect(tmrEngine, &QTimer::timeout, this, &frmMain::tmrEngine_Timer);
}

QString frmMain::settingsPath() const { return SettingsLocation::forReading(platform_.programFolder); }

QString frmMain::settingsPathToWrite() const { return SettingsLocation::forWriting(platform_.programFolder); }

WindowId frmMain::hWnd() const {
    return static_cast<WindowId>(const_cast<frmMain*>(this)->winId());
}

frmSettings* frmMain::settingsWindow() const { return Settings; }
frmAbout* frmMain::aboutWindow() const { return About; }
frmSource* frmMain::sourceWindow() const { return Source; }
frmDenied* frmMain::deniedWindow() const { return Denied; }

frmSettings* frmMain::settingsDialog() {
    if (!Settings) {
        Settings = new frmSettings(
            [this] { return settingsPathToWrite(); }, [this] { return address_->text(); },
            [this] { ClearUrlHistory(); });
        connect(Settings, &frmSettings::closed, this, [this, dialog = Settings.data()] {
            if (Settings == dialog) Settings.clear();
        });
    }
    return Settings;
}

// ---------------------------------------------------------------------------------
// Start-up

void frmMain::Form_Load() {
    // Every step runs; one that fails is skipped.
    QString startPage = storedStartPage(settingsPath());
    if (startPage.isEmpty()) {
        startPage = kDefaultStartPage;
        if (!storeStartPage(settingsPathToWrite(), startPage))
            qCDebug(lcApp) << "default start page not stored: cannot write" << settingsPathToWrite();
    }
    address_->setText(startPage);
    Browser->Navigate(address_->text());
    settingsDialog()->showStartPage(startPage);
    LoadUrlHistory();
    sweep_->setTaskStyleMask(kTaskStyleMask);
    Browser->Navigate(address_->text());
}

// ---------------------------------------------------------------------------------
// Layout: each rule from the window's outer size in twips; a negative result is skipped
// and the control keeps its size.

void frmMain::Form_Resize() {
    const QSize outer = frameGeometry().size();
    tw::followOuterSize(Browser->widget(), outer, 115.0f, 1300.0f);
    tw::followOuterSize(address_->widget(), outer, 115.0f, std::nullopt);
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

void frmMain::showDeniedList() {
    // A hidden list was closed and waits for its deletion: create a new one.
    if (!Denied || Denied->isHidden()) {
        Denied = new frmDenied([this](const QString& address) { openDeniedAddress(address); });
        Denied->showLog(sweep_->deniedLog(), sweep_->DeniedCount());
    }
    Denied->show();
    Denied->raise();
    Denied->activateWindow();
}

void frmMain::openDeniedAddress(const QString& address) {
    address_->setText(address);
    URL_KeyPress(13);
    raise();
    activateWindow();
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Panel1 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        showDeniedList();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::FindApps() { sweep_->FindApps(); }

bool frmMain::TaskWindow(const WindowId& hwnd) { return sweep_->TaskWindow(hwnd); }

void frmMain::Form_Unload() { platform_.endProgram(); }

void frmMain::mnuExit_Click() { platform_.endProgram(); }

// ---------------------------------------------------------------------------------
// File menu

void frmMain::mnuSettings_Click() {
    // A dialog created anew (after the user closed it) shows the stored start page.
    const bool fresh = !Settings;
    frmSettings* dialog = settingsDialog();
    if (fresh) dialog->showStartPage(storedStartPage(settingsPath()));
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

// ---------------------------------------------------------------------------------
// Address box and history

void frmMain::URL_KeyPress(int keyAscii) {
    if (keyAscii == 13) Browser->Navigate(address_->text());
}

void frmMain::URL_Click() { Browser->Navigate(address_->text()); }

// A page that gives itself address after address on its own does not fill the history.
void frmMain::AddUrlToHistory() {
    if (Browser->LocationForHistory()) address_->AddUrlToHistory(Browser->LocationURL());
}

void frmMain::LoadUrlHistory() { address_->LoadUrlHistory(); }

void frmMain::ClearUrlHistory() { address_->ClearUrlHistory(Browser->LocationURL()); }
