// End-to-end tests run under a private X server with openbox, started here before the
// Qt application connects to it. Suites that need another desktop (no window manager,
// a second screen) start their own XSession besides.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdio>

#include "platform/webengine/start_page.h"
#include "test_env.h"
#include "x_session.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Test discovery (--gtest_list_tests) needs no X server.
    if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();

    XSession session(XSession::WindowManager::Openbox);
    if (!session.ok()) {
        std::fprintf(stderr, "could not start Xvfb with openbox\n");
        return 1;
    }
    session.exportForQt();
    // The engine's profile, downloads and settings of this process stay in a folder of
    // its own, never in the user's.
    QTemporaryDir home;
    testenv::exportPrivateHome(home.path());
    webengine::registerStartPageScheme();
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
