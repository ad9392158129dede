#pragma once

// The program's main window: hosted browser, address box, status bar, menus, and the
// never-shown helpers of the popup sweep. Its handlers are defined in the folder of the
// subsystem they belong to:
//   app/      construction, layout, start-up, shutdown, File menu
//   browse/   browser events, address box and history, page commands, context menu,
//             source viewer
//   denial/   the popup sweep
//   dialogs/  settings and about windows

#include <QComboBox>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QStatusBar>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <vector>

#include "browse/url_history.h"
#include "denial/popup_sweep.h"
#include "platform/desktop_windows.h"
#include "platform/platform.h"
#include "platform/web_browser.h"

class frmSettings;
class frmAbout;
class frmSource;

// The icon all of the program's windows carry.
QIcon applicationIcon();

// The font of the program's text windows (source, about): Courier New, 8.25 points,
// regular, or the system's typewriter font where Courier New is missing.
QFont textWindowFont();

// The built-in default start page.
inline const QString kDefaultStartPage = QStringLiteral("https://www.tarnwick.org/");

class frmMain : public QMainWindow {
    Q_OBJECT
public:
    // Builds the window and its controls, then runs Form_Load. The window is not shown.
    explicit frmMain(Platform platform, QWidget* parent = nullptr);
    ~frmMain() override;

    // --- controls (creation order) ---
    QStatusBar* StatusBar = nullptr;
    QLabel* Panel1 = nullptr;  // StatusBar panel 1: the denial count
    QLabel* Panel2 = nullptr;  // StatusBar panel 2: page state or link address
    QString dlgFileName;       // dlgFile: the last confirmed file name
    QComboBox* URL = nullptr;
    WebBrowser* Browser = nullptr;
    QTimer* tmrEngine = nullptr;

    // --- menus ---
    QMenu* mnuFile = nullptr;
    QAction* mnuSettings = nullptr;
    QAction* mnuBar2 = nullptr;
    QAction* mnuAbout = nullptr;
    QAction* mnuExit = nullptr;
    QMenu* mnuEdit = nullptr;
    QAction* mnuSource2 = nullptr;
    QAction* mnuCopy = nullptr;
    QAction* mnuPaste = nullptr;
    QMenu* mnuNavigate = nullptr;
    QAction* mnuOpen = nullptr;
    QAction* mnuBar1 = nullptr;
    QAction* mnuBack = nullptr;
    QAction* mnuForward = nullptr;
    QAction* mnuStop = nullptr;
    QAction* mnuRefresh = nullptr;
    QMenu* mnuPop = nullptr;  // never in the menu bar: the page context menu
    QAction* mnuLaunchIE = nullptr;
    QAction* mnuPopRefresh = nullptr;
    QAction* mnuPrint = nullptr;
    QAction* mnuSaveAs = nullptr;

    // --- state shared between the subsystems ---
    QString LastStatusText;
    std::shared_ptr<HtmlDocument> MyDocument;

    // The history behind the address box's list.
    UrlHistory History;

    // The secondary windows, each at most once; null when closed.
    QPointer<frmSettings> Settings;
    QPointer<frmAbout> About;
    QPointer<frmSource> Source;

    // The settings dialog, created hidden when it does not exist.
    frmSettings* settingsDialog();

    // The settings file to read and the one to write: the program's folder +
    // "/Tarnwick.ini", or the per-user copy when that folder is read-only
    // (SettingsLocation).
    QString settingsPath() const;
    QString settingsPathToWrite() const;

    // The window's id as the desktop knows it.
    WindowId hWnd() const;

    const Platform& platform() const { return platform_; }

    // --- app/ ---
    void Form_Load();
    void Form_Resize();
    void Form_Unload();
    void Form_Terminate();
    void mnuExit_Click();
    void mnuSettings_Click();
    void mnuAbout_Click();

    // --- browse/ browser events ---
    void Browser_StatusTextChange(const QString& text);
    void Browser_ProgressChange(int progress, int progressMax);
    void Browser_TitleChange(const QString& title);
    void Browser_DocumentComplete(const QString& url);
    void ApplyReadyState();

    // --- browse/ address box and history ---
    void URL_KeyPress(int keyAscii);
    void URL_Click();
    void AddUrlToHistory();
    void RemoveDuplicateUrls();
    void SaveUrlHistory();
    void LoadUrlHistory();
    void ClearUrlHistory();

    // --- browse/ page commands ---
    void mnuOpen_Click();
    void mnuBack_Click();
    void mnuForward_Click();
    void mnuStop_Click();
    void mnuRefresh_Click();
    void mnuCopy_Click();
    void mnuPaste_Click();
    void mnuPrint_Click();
    void mnuSaveAs_Click();

    // --- browse/ context menu and hand-off ---
    bool MyDocument_oncontextmenu();
    void mnuPopRefresh_Click();
    void mnuLaunchIE_Click();
    // Shows mnuPop at the pointer; replaceable by tests (the real one is modal).
    std::function<void(QMenu*)> popupMenu;

    // --- browse/ source viewer ---
    void mnuSource2_Click();

    // --- denial/: the popup sweep owns lstApp, id, DeniedCount and TaskStyleMask ---
    void tmrEngine_Timer();
    void FindApps();
    bool TaskWindow(const WindowId& hwnd);
    PopupSweep& popupSweep() { return *sweep_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void createMenus();
    void connectHandlers();

    Platform platform_;
    std::unique_ptr<PopupSweep> sweep_;
};
