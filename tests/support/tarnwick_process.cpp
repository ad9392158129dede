#include "tarnwick_process.h"

#include "proc_tree.h"
#include "test_env.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenuBar>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <map>
#include <set>
#include <unistd.h>

#include "platform/ui/twips.h"

// ---------------------------------------------------------------------------------
// Helpers

bool runTool(const QString& program, const QStringList& arguments, int timeoutMs, QByteArray* output) {
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(program, arguments);
    if (!tool.waitForStarted(5000)) return false;
    if (!tool.waitForFinished(timeoutMs)) {
        tool.kill();
        tool.waitForFinished(2000);
        return false;
    }
    if (output) *output = tool.readAll();
    return tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

bool pointerAt(const QPoint& point, int button) {
    QStringList arguments{QStringLiteral("mousemove"), QString::number(point.x()), QString::number(point.y())};
    if (button) arguments << QStringLiteral("click") << QString::number(button);
    return runTool(QStringLiteral("xdotool"), arguments);
}

namespace {

// Heights of the menu bar and of the address box as the program lays them out: the same
// Qt, style and fonts on the same display as this test process.
struct MainLayout {
    int menuBar = 0;
    int addressBox = 0;
};

const MainLayout& mainLayout() {
    static const MainLayout layout = [] {
        MainLayout result;
        QMainWindow window;
        window.menuBar()->addMenu(QStringLiteral("&File"));
        window.menuBar()->addMenu(QStringLiteral("&Edit"));
        window.menuBar()->addMenu(QStringLiteral("&Navigate"));
        result.menuBar = window.menuBar()->sizeHint().height();
        QComboBox box;
        box.setEditable(true);
        result.addressBox = box.sizeHint().height();
        return result;
    }();
    return layout;
}

}  // namespace

// ---------------------------------------------------------------------------------
// TarnwickProcess

TarnwickProcess::TarnwickProcess() : dir_(QDir::tempPath() + QStringLiteral("/tarnwick-e2e-XXXXXX")) {}

TarnwickProcess::~TarnwickProcess() {
    if (process_ && process_->state() != QProcess::NotRunning) {
        rememberHelpers();
        process_->kill();
        process_->waitForFinished(5000);
    }
    // Helpers the program left behind are a test failure reported elsewhere; here they
    // are only cleaned up so that they burden no later test.
    for (const Helper& helper : helpers_) {
        auto stat = readProcStat(helper.pid);
        if (stat && stat->startTime == helper.startTime && stat->state != 'Z') ::kill(helper.pid, SIGKILL);
    }
}

void TarnwickProcess::setEnv(const QString& name, const QString& value) { extraEnv_.emplace_back(name, value); }

QString TarnwickProcess::programFolder() const {
    return binary_.isEmpty() ? dir_.filePath(QStringLiteral("program")) : QFileInfo(binary_).path();
}
QString TarnwickProcess::workDir() const {
    return workDir_.isEmpty() ? dir_.filePath(QStringLiteral("work")) : workDir_;
}
QString TarnwickProcess::home() const { return dir_.filePath(QStringLiteral("home")); }
QString TarnwickProcess::iniPath() const { return programFolder() + QStringLiteral("/Tarnwick.ini"); }
QString TarnwickProcess::historyPath() const { return workDir() + QStringLiteral("/URL.slx"); }

static QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray TarnwickProcess::readIni() const { return readAll(iniPath()); }
QByteArray TarnwickProcess::readHistory() const { return readAll(historyPath()); }
QByteArray TarnwickProcess::log() const { return readAll(dir_.filePath(QStringLiteral("tarnwick.log"))); }

void TarnwickProcess::writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        error_ = QStringLiteral("cannot write ") + path;
}

bool TarnwickProcess::start() {
    if (!dir_.isValid()) {
        error_ = QStringLiteral("no temporary folder");
        return false;
    }
    if (!desktop_.ok()) {
        error_ = QStringLiteral("no X display in DISPLAY");
        return false;
    }
    const QString binary = QStringLiteral(TARNWICK_BINARY_DIR "/tarnwick");
    if (!QFileInfo::exists(binary)) {
        error_ = binary + QStringLiteral(" is not built");
        return false;
    }
    QDir().mkpath(programFolder());
    QDir().mkpath(workDir());

    // The program's folder is where its binary lies, so the binary is copied there (it
    // links Qt dynamically, so the copy runs as the original does). A hard link is as
    // good and cheaper where the file systems allow it.
    const QString copy = binary_.isEmpty() ? programFolder() + QStringLiteral("/tarnwick") : binary_;
    if (binary_.isEmpty() && ::link(QFile::encodeName(binary).constData(), QFile::encodeName(copy).constData()) != 0) {
        if (!QFile::copy(binary, copy)) {
            error_ = QStringLiteral("cannot copy the binary to ") + copy;
            return false;
        }
    }
    if (ini_) writeFile(iniPath(), *ini_);
    if (history_) writeFile(historyPath(), *history_);
    if (!error_.isEmpty()) return false;

    QProcessEnvironment env = testenv::privateHome(home());
    env.insert(QStringLiteral("no_proxy"), QStringLiteral("*"));
    // Each denial in the output, for the tail a failed test shows.
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("tarnwick.sweep.debug=true"));
    for (const auto& [name, value] : extraEnv_) env.insert(name, value);

    process_ = std::make_unique<QProcess>();
    process_->setProgram(copy);
    process_->setWorkingDirectory(workDir());
    process_->setProcessEnvironment(env);
    process_->setStandardInputFile(QProcess::nullDevice());
    process_->setStandardOutputFile(dir_.filePath(QStringLiteral("tarnwick.log")), QIODevice::Append);
    process_->setStandardErrorFile(dir_.filePath(QStringLiteral("tarnwick.log")), QIODevice::Append);
    process_->start();
    if (!process_->waitForStarted(10000)) {
        error_ = QStringLiteral("the program did not start: ") + process_->errorString();
        return false;
    }
    pid_ = static_cast<pid_t>(process_->processId());
    return true;
}

bool TarnwickProcess::running() {
    if (!process_) return false;
    // Lets QProcess notice an exit without an event loop.
    process_->waitForFinished(0);
    return process_->state() != QProcess::NotRunning;
}

bool TarnwickProcess::waitForExit(int timeoutMs) {
    if (!process_) return true;
    return waitUntil(
        [this] {
            rememberHelpers();
            return !running();
        },
        timeoutMs);
}

int TarnwickProcess::exitCode() const { return process_ ? process_->exitCode() : -1; }

bool TarnwickProcess::crashed() const { return process_ && process_->exitStatus() == QProcess::CrashExit; }

long TarnwickProcess::rssKiB() const {
    return pid_ > 0 ? procStatusKb(pid_, "VmRSS") : 0;
}

void TarnwickProcess::rememberHelpers() {
    if (pid_ <= 0) return;
    for (const ProcStat& p : processTree(pid_)) {
        if (p.pid == pid_ || p.state == 'Z') continue;
        bool known = false;
        for (const Helper& helper : helpers_)
            if (helper.pid == p.pid && helper.startTime == p.startTime) known = true;
        if (!known) helpers_.push_back({p.pid, p.startTime, p.name});
    }
}

QStringList TarnwickProcess::helpersAlive() const {
    QStringList alive;
    for (const Helper& helper : helpers_) {
        auto stat = readProcStat(helper.pid);
        if (stat && stat->startTime == helper.startTime && stat->state != 'Z')
            alive << QStringLiteral("%1 (%2)").arg(helper.pid).arg(helper.name);
    }
    return alive;
}

std::vector<std::uint32_t> TarnwickProcess::ownWindows() {
    std::vector<std::uint32_t> result;
    for (std::uint32_t window : desktop_.clients())
        if (desktop_.pid(window) == pid_) result.push_back(window);
    return result;
}

std::uint32_t TarnwickProcess::waitForOwnWindow(const QString& title, int timeoutMs) {
    std::uint32_t found = 0;
    waitUntil(
        [&] {
            for (std::uint32_t window : ownWindows())
                if (title.isEmpty() ? window != main_ : desktop_.title(window) == title) found = window;
            return found != 0;
        },
        timeoutMs);
    return found;
}

int TarnwickProcess::nativeWindowCount() {
    // Window managers reparent managed windows into frames: look one level down too.
    int count = 0;
    for (std::uint32_t top : desktop_.rootChildren()) {
        if (desktop_.pid(top) == pid_) {
            ++count;
            continue;
        }
        for (std::uint32_t child : desktop_.children(top))
            if (desktop_.pid(child) == pid_) ++count;
    }
    return count;
}

std::vector<std::uint32_t> TarnwickProcess::ownMenus() {
    std::vector<std::uint32_t> result;
    for (std::uint32_t window : desktop_.mappedOverrideRedirect())
        if (desktop_.pid(window) == pid_) result.push_back(window);
    return result;
}

std::uint32_t TarnwickProcess::waitForMainWindow(int timeoutMs) {
    waitUntil(
        [this] {
            rememberHelpers();
            if (!running()) return true;
            for (std::uint32_t window : ownWindows()) {
                const QString title = desktop_.title(window);
                if (title == QLatin1String("Tarnwick") || title.endsWith(QLatin1String(" - Tarnwick"))) {
                    main_ = window;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return main_;
}

QString TarnwickProcess::mainTitle() { return main_ ? desktop_.title(main_) : QString(); }

bool TarnwickProcess::waitForMainTitle(const QString& title, int timeoutMs) {
    return waitUntil(
        [&] {
            rememberHelpers();
            return mainTitle() == title;
        },
        timeoutMs);
}

bool TarnwickProcess::activateMain() {
    if (!main_) return false;
    const QString id = QString::number(main_);
    // Up to three tries: the window manager may still be busy mapping another window.
    for (int attempt = 0; attempt < 3; ++attempt)
        if (runTool(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), id},
                    3000))
            return true;
    return false;
}

bool TarnwickProcess::key(const QStringList& chords) {
    if (!activateMain()) return false;
    QStringList arguments{QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("--delay"),
                          QStringLiteral("60")};
    arguments += chords;
    return runTool(QStringLiteral("xdotool"), arguments);
}

bool TarnwickProcess::type(const QString& text) {
    return runTool(QStringLiteral("xdotool"),
                   {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("15"), text}, 30000);
}

bool TarnwickProcess::pointerToScreen(int x, int y) {
    // xdotool's --sync waits for the pointer to move, which it never does when it is
    // there already.
    if (desktop_.pointer() == std::optional<std::pair<int, int>>({x, y})) return true;
    return runTool(QStringLiteral("xdotool"),
                   {QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(x), QString::number(y)});
}

bool TarnwickProcess::pointerTo(int x, int y) {
    auto rect = desktop_.geometry(main_);
    if (!rect) return false;
    return pointerToScreen(rect->x + x, rect->y + y);
}

bool TarnwickProcess::click(int button) {
    return runTool(QStringLiteral("xdotool"), {QStringLiteral("click"), QString::number(button)});
}

bool TarnwickProcess::closeWindow(std::uint32_t window) {
    return runTool(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), QString::number(window)});
}

int TarnwickProcess::addressBoxY() const { return mainLayout().menuBar + mainLayout().addressBox / 2; }

int TarnwickProcess::pageTop() const { return mainLayout().menuBar + tw::px(350); }

bool TarnwickProcess::enterAddress(const QString& address) {
    return typeAddress(address) && runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")});
}

bool TarnwickProcess::typeAddress(const QString& address) {
    if (!activateMain()) return false;
    if (!pointerTo(120, addressBoxY()) || !click(1)) return false;
    if (!runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("--clearmodifiers"),
                                              QStringLiteral("ctrl+a"), QStringLiteral("BackSpace")}))
        return false;
    return type(address);
}

QString TarnwickProcess::screenshot(const QString& name) {
    const QString folder = QStringLiteral(TARNWICK_BINARY_DIR "/e2e-screenshots");
    QDir().mkpath(folder);
    QString file = name;
    file.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]")), QStringLiteral("_"));
    const QString path = folder + QLatin1Char('/') + file + QStringLiteral(".png");
    if (!runTool(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), path}, 15000))
        return QString();
    return path;
}
