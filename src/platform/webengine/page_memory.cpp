#include "platform/webengine/page_memory.h"

#include <QFile>
#include <QWebEnginePage>
#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#endif

#include "platform/system/log.h"

namespace webengine {

namespace {
constexpr qint64 kMostKb = 1536 * 1024;
}  // namespace

#ifdef _WIN32

qint64 ownResidentKb(qint64 pid) {
    // The memory committed to the process alone (its private bytes), as the Linux
    // reading counts anonymous and shared memory and leaves the mapped program out.
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process) return -1;
    PROCESS_MEMORY_COUNTERS_EX counters{};
    const bool read = K32GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                              sizeof counters);
    CloseHandle(process);
    return read ? qint64(counters.PrivateUsage / 1024) : -1;
}

qint64 pageMemoryBoundKb() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return kMostKb;
    return std::min(kMostKb, qint64(status.ullTotalPhys / 1024 / 4));
}

qint64 mainThreadCpuMs(qint64 pid) {
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process) return -1;
    FILETIME created{}, ended{}, system{}, user{};
    const bool read = GetProcessTimes(process, &created, &ended, &system, &user);
    CloseHandle(process);
    if (!read) return -1;
    const auto ms = [](const FILETIME& t) {  // 100 ns steps
        return qint64((std::uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10000);
    };
    return ms(user) + ms(system);
}

void endProcess(qint64 pid) {
    const HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, DWORD(pid));
    if (!process) return;
    TerminateProcess(process, 1);
    CloseHandle(process);
}

#else

namespace {

// The value of the "Name:  123 kB" line `name` in /proc's status text `text`, or -1.
qint64 statusField(const char* text, const char* name) {
    const char* at = std::strstr(text, name);
    return at ? std::strtoll(at + std::strlen(name), nullptr, 10) : -1;
}

}  // namespace

qint64 ownResidentKb(qint64 pid) {
    char path[40];
    std::snprintf(path, sizeof path, "/proc/%lld/status", static_cast<long long>(pid));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    char text[4096];
    const ssize_t read = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (read <= 0) return -1;
    text[read] = '\0';
    const qint64 anon = statusField(text, "\nRssAnon:");
    const qint64 shmem = statusField(text, "\nRssShmem:");
    return anon < 0 ? -1 : anon + std::max<qint64>(shmem, 0);
}

qint64 pageMemoryBoundKb() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return kMostKb;
    return std::min(kMostKb, qint64(pages) * (pageSize / 1024) / 4);
}

qint64 mainThreadCpuMs(qint64 pid) {
    QFile file(QStringLiteral("/proc/%1/task/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly)) return -1;
    const QByteArray text = file.read(1024);
    // The thread's name, in parentheses, may hold anything; the fields after it are the
    // state, then ten numbers, then the time in the program and in the system.
    const char* at = std::strrchr(text.constData(), ')');
    if (!at || at[1] != ' ' || !at[2]) return -1;
    at += 3;  // the state
    for (int field = 0; field < 11; ++field) {
        at = std::strchr(at, ' ');
        if (!at) return -1;
        ++at;
    }
    char* end = nullptr;
    const long long user = std::strtoll(at, &end, 10);
    if (end == at) return -1;
    const long long system = std::strtoll(end, nullptr, 10);
    const long ticks = ::sysconf(_SC_CLK_TCK);
    return ticks > 0 ? (user + system) * 1000 / ticks : -1;
}

void endProcess(qint64 pid) { ::kill(pid_t(pid), SIGKILL); }

#endif

}  // namespace webengine

PageMemory::PageMemory(qint64 boundKb, QObject* parent) : QObject(parent), boundKb_(boundKb) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &PageMemory::check);
}

void PageMemory::watch(QWebEnginePage* page) {
    if (page_) disconnect(page_, nullptr, this, nullptr);
    page_ = page;
    pid_ = 0;
    stoppedPid_ = 0;
    timer_.stop();
    if (!page) return;
    // The engine announces a new renderer only for some of the page's renderers, and may
    // announce one while the navigation is still on its way to it: every load wakes the
    // reads too, and each reads the page's renderer as it is then.
    connect(page, &QWebEnginePage::renderProcessPidChanged, this, &PageMemory::check);
    connect(page, &QWebEnginePage::loadStarted, this, &PageMemory::check);
    connect(page, &QWebEnginePage::loadFinished, this, &PageMemory::check);
    check();
}

qint64 PageMemory::heldKb() const {
    const qint64 pid = page_ ? page_->renderProcessPid() : 0;
    return pid > 0 ? std::max<qint64>(webengine::ownResidentKb(pid), 0) : 0;
}

void PageMemory::check() {
    const qint64 pid = page_ ? page_->renderProcessPid() : 0;
    if (pid <= 0) return;  // no renderer: no reads until the next load
    if (pid != pid_) {  // another renderer: what was read of the last one does not count
        pid_ = pid;
        stoppedPid_ = 0;
        lastKb_ = -1;
    }
    const qint64 kb = webengine::ownResidentKb(pid);
    if (kb < 0) return;  // gone: the next load reads the next one
    if (kb > boundKb_) {
        qCDebug(lcEngine) << "the page's renderer holds" << kb / 1024 << "MiB, over its bound; stopped:" << page_->url();
        stoppedPid_ = pid;
        webengine::endProcess(pid);
        return;
    }
    // The next read comes before a renderer growing at its last pace could reach the bound.
    int next = kCalmMs;
    const qint64 elapsedMs = lastAt_.isValid() ? std::max<qint64>(lastAt_.elapsed(), 1) : 0;
    if (lastKb_ >= 0 && kb > lastKb_ && elapsedMs > 0) {
        const qint64 reachMs = (boundKb_ - kb) * elapsedMs / (kb - lastKb_);
        next = int(std::clamp<qint64>(reachMs / 2, kQuickestMs, kCalmMs));
    }
    lastKb_ = kb;
    lastAt_.start();
    timer_.start(next);
}
