// A Win32 program, run under Wine, that lends the user32 desktop adapter, real windows
// and kernel32's profile functions to tests running on Linux. It reads one command per
// line on stdin and answers each with one line on stdout. Numbers are decimal; text
// crosses as UTF-16 code units, four hex digits each ("-" for none).
//
// The adapter lives on the main thread, which hands the system's window events to it
// between commands. The windows made for the tests live on a thread of their own that
// answers messages sent to them (the adapter reads their titles) but leaves messages
// posted to them (close requests) queued until the "pump" command.

#include <windows.h>

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/settings/file_lock.h"
#include "platform/user32/user32_desktop.h"
#include "platform/user32/user32_shell.h"

namespace {

std::wstring unhex(const std::string& text) {
    std::wstring out;
    if (text == "-") return out;
    for (std::size_t i = 0; i + 4 <= text.size(); i += 4) out += wchar_t(std::stoul(text.substr(i, 4), nullptr, 16));
    return out;
}

std::string hex(const std::wstring& text) {
    if (text.empty()) return "-";
    std::string out;
    char unit[8];
    for (wchar_t c : text) {
        std::snprintf(unit, sizeof unit, "%04x", unsigned(c));
        out += unit;
    }
    return out;
}

std::wstring wide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }
std::u16string utf16(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }

HWND handleOf(unsigned long id) {
    return reinterpret_cast<HWND>(static_cast<std::intptr_t>(static_cast<std::int32_t>(id)));
}
unsigned long idOf(HWND window) { return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(window) & 0xffffffffu); }

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_CLOSE && GetPropW(window, L"ignoresClose")) return 0;
    return DefWindowProcW(window, message, w, l);
}

// The thread of the test windows: runs one task at a time for the main thread, and in
// between answers sent messages only.
class WindowThread {
public:
    WindowThread() : task_(CreateEventW(nullptr, FALSE, FALSE, nullptr)), thread_([this] { run(); }) {}
    ~WindowThread() {
        call([this] { stop_ = true; });
        thread_.join();
    }

    void call(std::function<void()> task) {
        std::unique_lock<std::mutex> lock(mutex_);
        pending_ = std::move(task);
        SetEvent(task_);
        done_.wait(lock, [this] { return !pending_; });
    }

private:
    void run() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = windowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"TestWindow";
        RegisterClassW(&windowClass);
        while (!stop_) {
            MsgWaitForMultipleObjectsEx(1, &task_, INFINITE, QS_SENDMESSAGE, 0);
            MSG message;
            PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            std::lock_guard<std::mutex> lock(mutex_);
            if (!pending_) continue;
            pending_();
            pending_ = nullptr;
            done_.notify_all();
        }
    }

    HANDLE task_;
    std::mutex mutex_;
    std::condition_variable done_;
    std::function<void()> pending_;
    bool stop_ = false;
    std::thread thread_;
};

// make FLAGS TITLE: a window of the window thread; FLAGS holds v (visible), b (bordered:
// an overlapped window with a title bar, else a bare popup), i (ignores WM_CLOSE).
unsigned long makeWindow(WindowThread& windows, const std::string& flags, const std::wstring& title) {
    HWND made = nullptr;
    windows.call([&] {
        const bool bordered = flags.find('b') != std::string::npos;
        made = CreateWindowExW(0, L"TestWindow", title.c_str(), bordered ? WS_OVERLAPPEDWINDOW : WS_POPUP, 40, 40, 240,
                               120, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (made && flags.find('i') != std::string::npos) SetPropW(made, L"ignoresClose", HANDLE(1));
        if (made && flags.find('v') != std::string::npos) ShowWindow(made, SW_SHOWNOACTIVATE);
    });
    return idOf(made);
}

// msgbox TITLE: a message box on a thread of its own; answers once it is shown.
unsigned long messageBox(std::vector<std::thread>& threads, const std::wstring& title) {
    threads.emplace_back([title] { MessageBoxW(nullptr, L"A message.", title.c_str(), MB_OK); });
    for (int tries = 0; tries < 30000; ++tries) {
        HWND box = FindWindowW(L"#32770", title.c_str());
        if (box && IsWindowVisible(box)) return idOf(box);
        Sleep(1);
    }
    return 0;
}

// pdump PATH: every section and entry kernel32 reads in the file, one per line.
std::wstring profileDump(const std::wstring& path) {
    std::vector<wchar_t> names(65536), entries(65536);
    const DWORD namesLength = GetPrivateProfileSectionNamesW(names.data(), DWORD(names.size()), path.c_str());
    std::wstring out;
    for (const wchar_t* name = names.data(); name < names.data() + namesLength && *name; name += wcslen(name) + 1) {
        out += L"[" + std::wstring(name) + L"]\n";
        const DWORD length = GetPrivateProfileSectionW(name, entries.data(), DWORD(entries.size()), path.c_str());
        for (const wchar_t* e = entries.data(); e < entries.data() + length && *e; e += wcslen(e) + 1)
            out += std::wstring(e) + L"\n";
    }
    return out;
}

// The windows the adapter reported touched (shown, retitled or created) since "touched"
// last asked.
std::vector<WindowId> touched;

// The file locks taken by "lock", by slot, held until "unlock".
std::map<std::string, std::unique_ptr<FileLock>> locks;

std::string answer(User32Desktop& desktop, WindowThread& windows, std::vector<std::thread>& threads,
                   const std::string& line) {
    std::istringstream in(line);
    std::string command, a, b, c;
    in >> command >> a >> b >> c;
    const auto id = [](const std::string& s) { return WindowId(std::stoul(s)); };
    std::ostringstream out;
    if (command == "first") out << desktop.FirstWindow();
    else if (command == "next") out << desktop.NextWindow(id(a));
    else if (command == "style") out << desktop.Style(id(a));
    else if (command == "len") out << desktop.TitleLength(id(a));
    else if (command == "title") {
        std::u16string title;
        const int count = desktop.Title(id(a), title, std::stoi(b));
        out << count << ' ' << hex(wide(title));
    } else if (command == "find") out << desktop.FindByTitle(utf16(unhex(a)));
    else if (command == "close") out << desktop.RequestClose(id(a));
    else if (command == "rev") out << desktop.Revision();
    else if (command == "changed") {
        std::vector<WindowId> changed;
        out << (desktop.ChangedSince(std::stoull(a), changed) ? "ok" : "no");
        for (WindowId w : changed) out << ' ' << w;
    } else if (command == "probe") out << desktop.seenAtProbe();
    else if (command == "touched") {
        for (WindowId window : touched) out << window << ' ';
        touched.clear();
    }
    else if (command == "make") out << makeWindow(windows, a, unhex(b));
    else if (command == "msgbox") out << messageBox(threads, unhex(a));
    else if (command == "destroy") windows.call([&] { out << DestroyWindow(handleOf(id(a))); });
    else if (command == "alive") out << IsWindow(handleOf(id(a)));
    else if (command == "pump") {
        windows.call([] {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        });
        out << "ok";
    } else if (command == "zorder") {  // the top-level windows as EnumWindows lists them
        std::vector<unsigned long> order;
        EnumWindows([](HWND w, LPARAM list) {
            reinterpret_cast<std::vector<unsigned long>*>(list)->push_back(idOf(w));
            return TRUE;
        }, LPARAM(&order));
        for (unsigned long w : order) out << w << ' ';
    } else if (command == "pget") {
        wchar_t value[255] = {};
        const DWORD count = GetPrivateProfileStringW(unhex(b).c_str(), unhex(c).c_str(), L"", value, 255, unhex(a).c_str());
        out << count << ' ' << hex(std::wstring(value, count));
    } else if (command == "pput") {
        std::string d;
        in >> d;
        out << WritePrivateProfileStringW(unhex(b).c_str(), unhex(c).c_str(), unhex(d).c_str(), unhex(a).c_str());
    } else if (command == "pdump") out << hex(profileDump(unhex(a)));
    else if (command == "lock") {  // lock SLOT PATH WAITMS: 1, or 0 and why not
        std::unique_ptr<FileLock>& lock = locks[a];
        lock.reset();
        lock = std::make_unique<FileLock>(std::filesystem::path(unhex(b)), std::stoi(c));
        out << lock->held();
        if (!lock->held()) out << ' ' << lock->failure();
    } else if (command == "unlock") {
        locks.erase(a);
        out << "ok";
    } else if (command == "ident") {
        const FileIdentity id = identifyFile(std::filesystem::path(unhex(a)));
        out << id.exists << ' ' << id.device << ' ' << id.inode << ' ' << id.size << ' ' << id.modifiedNs << ' '
            << id.changedNs;
    } else if (command == "open") out << user32::openUrl(unhex(a));
    else if (command == "folder") out << hex(user32::programFolder());
    else if (command == "roaming") out << hex(user32::roamingFolder());
    else if (command == "settings") out << hex(user32::settingsFile(unhex(a), user32::roamingFolder(), b == "w"));
    else out << "?";
    return out.str();
}

}  // namespace

int main() {
    User32Desktop desktop;
    desktop.onWindowTouched([](WindowId window) { touched.push_back(window); });
    WindowThread windows;
    std::vector<std::thread> threads;
    // Lines from stdin, read on a thread of their own so that the main thread keeps
    // taking the system's window events for the adapter.
    HANDLE arrived = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::mutex mutex;
    std::deque<std::string> lines;
    bool ended = false;
    std::thread reader([&] {
        std::string line;
        while (std::getline(std::cin, line)) {
            std::lock_guard<std::mutex> lock(mutex);
            lines.push_back(line);
            SetEvent(arrived);
        }
        std::lock_guard<std::mutex> lock(mutex);
        ended = true;
        SetEvent(arrived);
    });
    for (;;) {
        MsgWaitForMultipleObjects(1, &arrived, FALSE, INFINITE, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        std::unique_lock<std::mutex> lock(mutex);
        if (lines.empty() && ended) break;
        while (!lines.empty()) {
            const std::string line = lines.front();
            lines.pop_front();
            lock.unlock();
            if (!line.empty() && line.back() == '\r') continue;
            std::cout << answer(desktop, windows, threads, line) << std::endl;
            lock.lock();
        }
    }
    reader.join();
    for (std::thread& t : threads) t.detach();
    ExitProcess(0);
}
