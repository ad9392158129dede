#pragma once

// What a program under test (and a test program itself) finds of the machine: a home of
// its own, and the engine set up for a virtual display without a GPU, running as root.

#include <QProcessEnvironment>
#include <QString>

namespace testenv {

// The engine's flags for every program the tests and benchmarks run.
inline constexpr char kEngineFlags[] = "--disable-gpu --no-first-run --disable-background-networking";

// `base` with HOME at `home` and the XDG folders (config, data, cache, runtime) inside it,
// all made now; the xcb platform, the engine's flags and no sandbox; and none of the
// desktop's own settings (its session, theme, scale, default browser) left.
QProcessEnvironment privateHome(const QString& home,
                                QProcessEnvironment base = QProcessEnvironment::systemEnvironment());

// HOME, the XDG folders and the xcb platform of privateHome() for this process (and the
// programs it starts), for a Qt application made after; engine settings already in the
// environment stay, and so do the desktop's own settings.
void exportPrivateHome(const QString& home);

// The engine's flags and no sandbox for this process, unless already set.
void exportEngineDefaults();

}  // namespace testenv
