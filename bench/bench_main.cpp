#include "bench_main.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QGuiApplication>
#include <cstdio>
#include <cstring>

BenchDesktop::BenchDesktop(int& argc, char** argv, App app) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--window-manager") != 0) continue;
        windowManager_ = std::strcmp(argv[i + 1], "none") != 0;
        for (int j = i; j + 2 <= argc; ++j) argv[j] = argv[j + 2];
        argc -= 2;
        break;
    }
    session_ = std::make_unique<XSession>(windowManager_ ? XSession::WindowManager::Openbox
                                                         : XSession::WindowManager::None);
    if (!session_->ok()) {
        std::fprintf(stderr, "could not start Xvfb%s\n", windowManager_ ? " with openbox" : "");
        return;
    }
    session_->exportForQt();
    if (app == App::Core) app_ = std::make_unique<QCoreApplication>(argc, argv);
    else if (app == App::Gui) app_ = std::make_unique<QGuiApplication>(argc, argv);
    else app_ = std::make_unique<QApplication>(argc, argv);
}

int runBenchmarks(int argc, char** argv) {
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
