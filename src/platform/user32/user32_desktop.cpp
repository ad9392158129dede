#include "platform/user32/user32_desktop.h"

#include <windows.h>

#include <algorithm>
#include <unordered_map>

namespace {

// A window handle's significant 32 bits are the same in every process, 32- or 64-bit;
// the handle is that number sign-extended.
WindowId idOf(HWND window) { return WindowId(reinterpret_cast<std::uintptr_t>(window)); }
HWND handleOf(WindowId window) {
    return reinterpret_cast<HWND>(static_cast<std::intptr_t>(static_cast<std::int32_t>(window)));
}

// The desktop of this thread: the hooks' callbacks arrive on the thread that made it.
thread_local User32Desktop* tDesktop = nullptr;

void CALLBACK onEvent(HWINEVENTHOOK, DWORD kind, HWND hwnd, LONG object, LONG child, DWORD, DWORD) {
    if (tDesktop) tDesktop->event(kind, hwnd, object, child);
}

bool topLevel(HWND window) { return window && GetAncestor(window, GA_PARENT) == GetDesktopWindow(); }

// Lets the hooks' callbacks queued for this thread run, leaving its posted messages where
// they are.
void deliverEvents() {
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
}

constexpr wchar_t kProbeClass[] = L"TarnwickEventProbe";

}  // namespace

User32Desktop::User32Desktop() {
    tDesktop = this;
    hooks_[0] = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_NAMECHANGE, nullptr, onEvent, 0, 0,
                                WINEVENT_OUTOFCONTEXT);
    hooks_[1] = SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr, onEvent, 0, 0,
                                WINEVENT_OUTOFCONTEXT);
    if (hooks_[0]) probe();
}

User32Desktop::~User32Desktop() {
    for (void* hook : hooks_)
        if (hook) UnhookWinEvent(static_cast<HWINEVENTHOOK>(hook));
    if (tDesktop == this) tDesktop = nullptr;
}

// A hidden, unbordered, untitled window of our own goes through each change once; each
// step counts as reported when an event about the window arrives before the next one.
void User32Desktop::probe() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kProbeClass;
    RegisterClassW(&windowClass);
    const auto step = [this](unsigned kind, auto change) {
        deliverEvents();
        const std::uint64_t before = log_.revision();
        change();
        deliverEvents();
        if (log_.revision() != before) seen_ |= kind;
    };
    HWND window = nullptr;
    step(Created, [&] {
        window = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kProbeClass, L"", WS_POPUP, -32000, -32000, 1, 1,
                                 nullptr, nullptr, windowClass.hInstance, nullptr);
        probe_ = window;
    });
    if (!window) return;
    const UINT still = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
    step(Shown, [&] { ShowWindow(window, SW_SHOWNOACTIVATE); });
    step(Renamed, [&] { SetWindowTextW(window, L"probe"); });
    step(Restyled, [&] {
        SetWindowLongW(window, GWL_STYLE, LONG(WS_POPUP | WS_VISIBLE | WS_BORDER));
        SetWindowPos(window, nullptr, 0, 0, 0, 0, still | SWP_NOZORDER | SWP_FRAMECHANGED);
    });
    step(Reordered, [&] { SetWindowPos(window, HWND_BOTTOM, 0, 0, 0, 0, still); });
    step(Hidden, [&] { ShowWindow(window, SW_HIDE); });
    step(Destroyed, [&] { DestroyWindow(window); });
    probe_ = nullptr;
    trusted_ = seen_ == Everything;
}

void User32Desktop::event(std::uint32_t kind, void* hwnd, long object, long child) {
    if (object != OBJID_WINDOW || child != CHILDID_SELF) return;
    HWND window = static_cast<HWND>(hwnd);
    if (probe_ && window != probe_) return;  // the probe counts only its own events
    switch (kind) {
        case EVENT_OBJECT_NAMECHANGE:
        case EVENT_OBJECT_STATECHANGE:
        case EVENT_OBJECT_LOCATIONCHANGE:
            if (!topLevel(window)) return;
            log_.windowChanged(idOf(window), 0);
            break;
        case EVENT_OBJECT_CREATE:
        case EVENT_OBJECT_SHOW:
        case EVENT_OBJECT_HIDE:
        case EVENT_OBJECT_REORDER:
        case EVENT_SYSTEM_FOREGROUND:
            if (window != GetDesktopWindow() && !topLevel(window)) return;
            log_.orderChanged();
            break;
        case EVENT_OBJECT_DESTROY:
            // Gone already: whether it was a top-level window cannot be told any more.
            log_.orderChanged();
            return;
        default:
            return;
    }
    if (!probe_ && (kind == EVENT_OBJECT_CREATE || kind == EVENT_OBJECT_SHOW || kind == EVENT_OBJECT_NAMECHANGE))
        reportTouched(idOf(window));
}

WindowId User32Desktop::FirstWindow() {
    deliverEvents();
    return idOf(GetWindow(GetDesktopWindow(), GW_CHILD));
}

WindowId User32Desktop::NextWindow(WindowId window) { return idOf(GetWindow(handleOf(window), GW_HWNDNEXT)); }

std::uint32_t User32Desktop::Style(WindowId window) {
    return std::uint32_t(GetWindowLongW(handleOf(window), GWL_STYLE));
}

int User32Desktop::TitleLength(WindowId window) { return GetWindowTextLengthW(handleOf(window)); }

int User32Desktop::Title(WindowId window, std::u16string& title, int maxCount) {
    if (maxCount < 1) {
        title.clear();
        return 0;
    }
    title.assign(std::size_t(maxCount), u'\0');
    const int count = GetWindowTextW(handleOf(window), reinterpret_cast<LPWSTR>(title.data()), maxCount);
    title.resize(std::size_t(std::clamp(count, 0, maxCount - 1)));
    return count;
}

// FindWindowW compares titles without regard to case: from the window it finds on, the
// search goes on (FindWindowExW, in the same order) to the first whose title is exactly
// `title`, so that "page - microsoft internet explorer" above a popup is not closed for it.
WindowId User32Desktop::FindByTitle(const std::u16string& title) {
    const auto text = reinterpret_cast<LPCWSTR>(title.c_str());
    std::u16string found;
    for (HWND window = FindWindowW(nullptr, text); window; window = FindWindowExW(nullptr, window, nullptr, text)) {
        Title(idOf(window), found, int(title.size()) + 2);
        if (found == title) return idOf(window);
    }
    return 0;
}

bool User32Desktop::RequestClose(WindowId window) {
    return window != 0 && PostMessageW(handleOf(window), WM_CLOSE, 0, 0) != 0;
}

std::uint64_t User32Desktop::Revision() { return trusted_ ? log_.revision() : 0; }

bool User32Desktop::ChangedSince(std::uint64_t since, std::vector<WindowId>& changed) {
    if (!trusted_) return false;
    // Changed windows in walk order: the live chain's (a window gone since sorts last).
    std::unordered_map<WindowId, std::size_t> position;
    for (HWND w = GetWindow(GetDesktopWindow(), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT))
        position.emplace(idOf(w), position.size());
    const auto at = [&position](WindowId window) {
        const auto it = position.find(window);
        return it == position.end() ? position.size() : it->second;
    };
    return log_.changedSince(since, changed, [&](WindowId a, WindowId b) { return at(a) < at(b) || (at(a) == at(b) && a < b); });
}
