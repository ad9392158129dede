// Tests of the Windows parts under Wine: each test drives win32_host.exe, built with
// MinGW-w64, on a private X server.

#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
