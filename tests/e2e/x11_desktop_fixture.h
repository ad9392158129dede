#pragma once

// What the X11 desktop's tests share: a private X server once with openbox and once with
// none, foreign windows made by xwin processes, and the walk as a list.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <functional>
#include <memory>
#include <vector>

#include "denial/popup_sweep.h"
#include "platform/x11/x11_desktop_windows.h"
#include "x_client.h"
#include "x_session.h"
#include "xwin.h"

#include "wait.h"

namespace x11_test {

inline const QString kIE = QStringLiteral("Microsoft Internet Explorer");
constexpr std::uint32_t kVisibleBorder = WindowStyle::Visible | WindowStyle::Border;

inline std::vector<WindowId> walk(DesktopWindows& desktop) {
    std::vector<WindowId> windows;
    for (WindowId w = desktop.FirstWindow(); w != 0; w = desktop.NextWindow(w)) windows.push_back(w);
    return windows;
}

inline QString titleOf(DesktopWindows& desktop, WindowId w) {
    QString title;
    desktop.Title(w, title, desktop.TitleLength(w) + 1);
    return title;
}

inline bool listed(DesktopWindows& desktop, WindowId w) {
    const auto windows = walk(desktop);
    return std::find(windows.begin(), windows.end(), w) != windows.end();
}

struct WithOpenbox {
    static constexpr XSession::WindowManager wm = XSession::WindowManager::Openbox;
};
struct WithoutWindowManager {
    static constexpr XSession::WindowManager wm = XSession::WindowManager::None;
};

template <class Desktop>
class X11DesktopTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { session_ = new XSession(Desktop::wm); }
    static void TearDownTestSuite() {
        delete session_;
        session_ = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(session_ && session_->ok()) << "no private X server";
        desktop_ = std::make_unique<X11DesktopWindows>(session_->display());
        ASSERT_TRUE(desktop_->ok());
        ASSERT_EQ(desktop_->hasWindowManager(), withWindowManager());
    }
    void TearDown() override {
        for (auto& p : processes_) p->stop();
        // Nothing of this test stays on the desktop for the next one.
        std::vector<WindowId> left;
        for (auto& p : processes_) left.insert(left.end(), p->ids.begin(), p->ids.end());
        EXPECT_TRUE(waitUntil([&] {
            const auto windows = walk(*desktop_);
            return std::none_of(left.begin(), left.end(), [&](WindowId w) {
                return std::find(windows.begin(), windows.end(), w) != windows.end();
            });
        }));
        processes_.clear();
    }

    static bool withWindowManager() { return Desktop::wm == XSession::WindowManager::Openbox; }

    // A window as the mirror holds it and as a fresh connection reads it: for failures.
    std::string mirrorAndServer(WindowId w) {
        X11DesktopWindows fresh(session_->display());
        walk(fresh);
        const auto says = [&](DesktopWindows& d) {
            return QStringLiteral("style %1 \"%2\"").arg(d.Style(w), 0, 16).arg(titleOf(d, w)).toStdString();
        };
        return "the mirror holds " + says(*desktop_) + ", the server " + says(fresh);
    }

    Xwin& xwin(QStringList args, int count = 1) {
        processes_.push_back(std::make_unique<Xwin>(args, count, session_->display()));
        Xwin& p = *processes_.back();
        EXPECT_EQ(int(p.ids.size()), count) << args.join(' ').left(200).toStdString();
        return p;
    }
    // One window with the given title, waited for until the mirror shows it with `style`.
    WindowId window(const QStringList& args, std::uint32_t style = kVisibleBorder) {
        Xwin& p = xwin(args);
        if (p.ids.empty()) return 0;
        const WindowId w = p.ids.front();
        EXPECT_TRUE(waitUntil([&] { return listed(*desktop_, w) && desktop_->Style(w) == style; }))
            << "style " << desktop_->Style(w) << " of " << args.join(' ').left(200).toStdString();
        return w;
    }

    static inline XSession* session_ = nullptr;
    std::unique_ptr<X11DesktopWindows> desktop_;
    std::vector<std::unique_ptr<Xwin>> processes_;
};

using Desktops = ::testing::Types<WithOpenbox, WithoutWindowManager>;
class DesktopNames {
public:
    template <class T>
    static std::string GetName(int) {
        return std::is_same_v<T, WithOpenbox> ? "Openbox" : "NoWindowManager";
    }
};
TYPED_TEST_SUITE(X11DesktopTest, Desktops, DesktopNames);

}  // namespace x11_test

using namespace x11_test;
