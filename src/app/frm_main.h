#pragma once

// The program's main window: hosted browser, address box, status bar, menus, and the
// never-shown helpers of the popup sweep. Its described handlers are its entry points,
// each a short call into the subsystem that owns the work:
//   browse/   the address box and URL history (AddressBox), the source viewer
//   denial/   the popup sweep
//   dialogs/  settings and about windows
//   platform/ the browser, the desktop, the shell, the settings file

#include <QMainWindow>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <memory>

#include "denial/popup_sweep.h"
#include "platform/desktop/desktop_windows.h"
#include "platform/platform.h"

class AddressBox;
class FindBar;
class HtmlDocument;
class QAction;
class QLabel;
class QMenu;
class QStatusBar;
class QTimer;
class WebBrowser;
class frmAbout;
class frmDenied;
class frmSettings;
class frmSource;

class frmMain : public QMainWindow {
    Q_OBJECT
public:
    // Builds the window and its controls, then runs Form_Load. The window is not shown.
    explicit frmMain(Platform platform, QWidget* parent = nullptr);
    ~frmMain() override;

    // What the window shows and holds, read-only. Controls are found by object name.
    const AddressBox& addressBox() const { return *address_; }
    const QString& lastStatusText() const { return LastStatusText; }
    const std::shared_ptr<HtmlDocument>& boundDocument() const { return MyDocument; }
    // The secondary windows, each at most once; null when closed.
    frmSettings* settingsWindow() const;
    frmAbout* aboutWindow() const;
    frmSource* sourceWindow() const;
    frmDenied* deniedWindow() const;

    // The settings file to read and the one to write: the program's folder +
    // "/Tarnwick.ini", or the per-user copy when that folder is read-only
    // (SettingsLocation).
    QString settingsPath() const;
    QString settingsPathToWrite() const;

    // The window's id as the desktop knows it.
    WindowId hWnd() const;

    // Shows the page's context menu at the pointer; tests replace it (the real one is
    // modal).
    void setPopupMenu(std::function<void(QMenu*)> show) { popupMenu = std::move(show); }

    // --- start-up, layout, shutdown, File menu ---
    void Form_Load();
    void Form_Resize();
    void Form_Unload();
    void mnuExit_Click();
    void mnuSettings_Click();
    void mnuAbout_Click();

    // --- browser events ---
    void Browser_StatusTextChange(const QString& text);
    void Browser_ProgressChange(int progress, int progressMax);
    void Browser_TitleChange(const QString& title);
    void Browser_DocumentComplete(const QString& url);
    void ApplyReadyState();

    // --- address box and history (browse/AddressBox) ---
    void URL_KeyPress(int keyAscii);
    void URL_Click();
    void AddUrlToHistory();
    void LoadUrlHistory();
    void ClearUrlHistory();

    // --- page commands ---
    void mnuOpen_Click();
    void mnuBack_Click();
    void mnuForward_Click();
    void mnuStop_Click();
    void mnuRefresh_Click();
    void mnuCopy_Click();
    void mnuPaste_Click();
    void mnuPrint_Click();
    void mnuSaveAs_Click();

    // --- context menu and hand-off ---
    bool MyDocument_oncontextmenu();
    void mnuPopRefresh_Click();
    void mnuLaunchIE_Click();

    // --- source viewer ---
    void mnuSource2_Click();

    // --- denial/: the popup sweep owns lstApp, id, DeniedCount and TaskStyleMask ---
    void tmrEngine_Timer();
    void FindApps();
    bool TaskWindow(const WindowId& hwnd);
    PopupSweep& popupSweep() { return *sweep_; }
    // The "Denied" list (a click on panel 1, or its key): shown and brought up.
    void showDeniedList();
    // Opens `address` from the list as if the person had typed it into the address box.
    void openDeniedAddress(const QString& address);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void createMenus();
    // Every command: the menus' items, the keys in no menu (F5, Alt+Left, Ctrl+L, Esc, F11,
    // zoom, find, the Denied list) and which of them outrank the address box's keys.
    void createCommands();
    void connectHandlers();
    // The settings dialog, created hidden when it does not exist.
    frmSettings* settingsDialog();
    void runDocumentCommand(const QString& command);

    Platform platform_;
    std::unique_ptr<PopupSweep> sweep_;

    // --- controls (creation order) ---
    QStatusBar* StatusBar = nullptr;
    QLabel* Panel1 = nullptr;  // StatusBar panel 1: the denial count
    QLabel* Panel2 = nullptr;  // StatusBar panel 2: page state or link address
    QString dlgFileName;       // dlgFile: the last confirmed file name
    AddressBox* address_ = nullptr;  // URL and the history behind its list
    WebBrowser* Browser = nullptr;
    QTimer* tmrEngine = nullptr;
    FindBar* findBar_ = nullptr;  // find in page, over the browser
    QAction* keyStop_ = nullptr;  // Esc: Stop while a page loads

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
    std::function<void(QMenu*)> popupMenu;

    // --- state ---
    QString LastStatusText;
    std::shared_ptr<HtmlDocument> MyDocument;

    QPointer<frmSettings> Settings;
    QPointer<frmAbout> About;
    QPointer<frmSource> Source;
    QPointer<frmDenied> Denied;
};
