#pragma once

// Every atom the X11 adapter uses, listed once and interned once at connection. The
// window types from DESKTOP to DND are the undecorated ones, in one run.

namespace x11 {

#define TARNWICK_X11_ATOMS(X)              \
    X(WM_NAME)                             \
    X(WM_PROTOCOLS)                        \
    X(WM_DELETE_WINDOW)                    \
    X(WM_STATE)                            \
    X(UTF8_STRING)                         \
    X(COMPOUND_TEXT)                       \
    X(_NET_WM_NAME)                        \
    X(_NET_WM_PID)                         \
    X(_NET_SUPPORTING_WM_CHECK)            \
    X(_NET_SUPPORTED)                      \
    X(_NET_CLIENT_LIST_STACKING)           \
    X(_NET_WM_WINDOW_TYPE)                 \
    X(_NET_WM_WINDOW_TYPE_NORMAL)          \
    X(_NET_WM_WINDOW_TYPE_DIALOG)          \
    X(_NET_WM_WINDOW_TYPE_UTILITY)         \
    X(_NET_WM_WINDOW_TYPE_DESKTOP)         \
    X(_NET_WM_WINDOW_TYPE_DOCK)            \
    X(_NET_WM_WINDOW_TYPE_TOOLBAR)         \
    X(_NET_WM_WINDOW_TYPE_MENU)            \
    X(_NET_WM_WINDOW_TYPE_SPLASH)          \
    X(_NET_WM_WINDOW_TYPE_DROPDOWN_MENU)   \
    X(_NET_WM_WINDOW_TYPE_POPUP_MENU)      \
    X(_NET_WM_WINDOW_TYPE_TOOLTIP)         \
    X(_NET_WM_WINDOW_TYPE_NOTIFICATION)    \
    X(_NET_WM_WINDOW_TYPE_COMBO)           \
    X(_NET_WM_WINDOW_TYPE_DND)             \
    X(_MOTIF_WM_HINTS)

enum Atom : int {
#define X(name) name,
    TARNWICK_X11_ATOMS(X)
#undef X
    AtomCount
};

inline constexpr const char* kAtomNames[AtomCount] = {
#define X(name) #name,
    TARNWICK_X11_ATOMS(X)
#undef X
};

}  // namespace x11
