#pragma once

// The flags the program gives the web engine when it starts: a bound on each page's
// script heap, so that one page cannot take gigabytes (it dies at the bound, and the
// browser shows it as such). The person's own engine flags (QTWEBENGINE_CHROMIUM_FLAGS,
// or those after --webEngineArgs) are kept, each as it was, and their V8 flags follow
// ours, so theirs win.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace webengine {

// The bound of a page's script heap (V8's old space), MiB.
constexpr int kPageHeapMiB = 512;

// The engine's flags read the way the engine reads QTWEBENGINE_CHROMIUM_FLAGS: split at
// blanks, where double quotes keep blanks together (the quotes themselves go).
QStringList splitEngineFlags(const QString& flags);
// The other way: one line the engine splits back into `flags`.
QString joinEngineFlags(const QStringList& flags);
// `flags` with the heap bound: one --js-flags holding the bound first, then the V8 flags
// of every --js-flags in `flags`; every other flag as it was, in its place.
QStringList withPageHeapBound(const QStringList& flags);

// While it lives, the engine's flags hold the bound; the engine reads them when its first
// profile is made, so one of these must live across that. Afterwards the environment is
// as it was, for every program started later.
class EngineStartFlags {
public:
    EngineStartFlags();
    ~EngineStartFlags();
    EngineStartFlags(const EngineStartFlags&) = delete;
    EngineStartFlags& operator=(const EngineStartFlags&) = delete;

private:
    std::optional<QByteArray> before_;  // the variable as it was; nullopt when unset
    bool set_ = false;
};

}  // namespace webengine
