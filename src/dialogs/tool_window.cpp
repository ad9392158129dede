#include "dialogs/tool_window.h"

#ifndef _WIN32
#include <xcb/xcb.h>
#endif

#include <QGuiApplication>
#include <QKeyEvent>
#include <QWidget>
#include <cstdlib>
#include <cstring>

#include "platform/ui/looks.h"
#include "platform/ui/twips.h"

#ifndef _WIN32
namespace {

xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

}  // namespace
#endif

ToolWindow::ToolWindow(const QString& title, int widthTwips, int heightTwips, Sizing sizing) : QWidget(nullptr) {
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(title);
    setWindowIcon(applicationIcon());
    if (sizing == Sizing::Fixed)
        setFixedSize(tw::px(widthTwips), tw::px(heightTwips));
    else
        resize(tw::px(widthTwips), tw::px(heightTwips));
}

void ToolWindow::showEvent(QShowEvent* event) {
    keepOutOfTaskbar(this);
    QWidget::showEvent(event);
}

void ToolWindow::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Cancel))
        close();
    else
        QWidget::keyPressEvent(event);
}

void keepOutOfTaskbar(QWidget* window) {
#ifdef _WIN32
    (void)window;  // Windows leaves tool windows out of the taskbar itself
#else
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !window || !window->testAttribute(Qt::WA_WState_Created)) return;
    xcb_connection_t* c = x11->connection();
    if (!c) return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    const xcb_atom_t state = internAtom(c, "_NET_WM_STATE");
    const xcb_atom_t skip = internAtom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    if (state == XCB_ATOM_NONE || skip == XCB_ATOM_NONE) return;

    // Added once: the window manager clears the property when the window is withdrawn.
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, id, state, XCB_ATOM_ATOM, 0, 1024), nullptr);
    bool present = false;
    if (reply && reply->format == 32) {
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
        const int count = xcb_get_property_value_length(reply) / 4;
        for (int i = 0; i < count; ++i) present = present || atoms[i] == skip;
    }
    std::free(reply);
    if (!present) xcb_change_property(c, XCB_PROP_MODE_APPEND, id, state, XCB_ATOM_ATOM, 32, 1, &skip);
    xcb_flush(c);
#endif
}
